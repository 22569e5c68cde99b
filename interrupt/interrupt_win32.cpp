#include <windows.h>

#include <vector>

#include "interrupt/interrupt.h"
#include "interrupt/wake.h"

namespace valdrix::interrupt {
namespace {

struct ConsoleEvent {
  DWORD event;
  int sig;
  const char* name;
};
constexpr ConsoleEvent kEvents[] = {
#define VALDRIX_CONSOLE_EVENT(event, sig, name) {event, sig, name},
#include "interrupt/console_events.def"
#undef VALDRIX_CONSOLE_EVENT
};

// The threads inside a blocking port call, each with the number of requests that stops it.
struct Blocked {
  HANDLE thread;
  int stopsAt;
};
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<Blocked> g_blocked;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  for (const ConsoleEvent& e : kEvents) {
    if (e.event == event && event != CTRL_CLOSE_EVENT) {
      Raise(e.sig);
      return TRUE;
    }
  }
  // The console window closing, or the session ending: the system ends the process as soon as
  // this returns, so wait here while the main thread closes the interface and exits, which ends
  // this thread too.
  for (const ConsoleEvent& e : kEvents) {
    if (e.event == CTRL_CLOSE_EVENT)
      Raise(e.sig);
  }
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void Install() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WakeWaits(int requests) {
  AcquireSRWLockShared(&g_lock);
  for (const Blocked& b : g_blocked) {
    if (requests >= b.stopsAt)
      CancelSynchronousIo(b.thread);
  }
  ReleaseSRWLockShared(&g_lock);
}

const char* SignalName(int sig) {
  for (const ConsoleEvent& e : kEvents) {
    if (e.sig == sig)
      return e.name;
  }
  return "a signal";
}

int WakeFd() {
  return -1;
}

// A request that comes between the check in Requested() and the call itself finds the thread
// registered but not yet blocked; the call then ends by its own time-out.
BlockingCall::BlockingCall() {
  HANDLE thread = nullptr;
  // Without a handle of its own the thread cannot be woken: the call then ends by its time-out.
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return;
  AcquireSRWLockExclusive(&g_lock);
  g_blocked.push_back({thread, StopsAt()});
  ReleaseSRWLockExclusive(&g_lock);
}

BlockingCall::~BlockingCall() {
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&g_lock);
  for (auto it = g_blocked.begin(); it != g_blocked.end(); ++it) {
    if (GetThreadId(it->thread) == self) {
      CloseHandle(it->thread);
      g_blocked.erase(it);
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_lock);
}

}  // namespace valdrix::interrupt
