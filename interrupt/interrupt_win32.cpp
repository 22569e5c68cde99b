#include <windows.h>

#include <atomic>
#include <vector>

#include "interrupt/interrupt.h"

namespace valdrix::interrupt {
namespace {

// The console events as the signals a POSIX program would get: Ctrl-C is SIGINT, Ctrl-Break the
// C runtime's SIGBREAK, the console window closing (or the session ending) a hang-up.
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr int kSigBreak = 21;

std::atomic<int> g_requests{0};
std::atomic<int> g_first{0};
thread_local bool t_closing = false;

// The threads inside a blocking port call, each with the number of requests that stops it.
struct Blocked {
  HANDLE thread;
  int stopsAt;
};
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<Blocked> g_blocked;

int StopsAt() {
  return t_closing ? 2 : 1;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      Raise(kSigInt);
      return TRUE;
    case CTRL_BREAK_EVENT:
      Raise(kSigBreak);
      return TRUE;
    default:
      // The system ends the process as soon as this returns: wait here while the main thread
      // closes the interface and exits, which ends this thread too.
      Raise(kSigHup);
      Sleep(INFINITE);
      return TRUE;
  }
}

}  // namespace

void Install() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void Raise(int sig) {
  int none = 0;
  g_first.compare_exchange_strong(none, sig);
  const int requests = g_requests.fetch_add(1) + 1;
  AcquireSRWLockShared(&g_lock);
  for (const Blocked& b : g_blocked) {
    if (requests >= b.stopsAt)
      CancelSynchronousIo(b.thread);
  }
  ReleaseSRWLockShared(&g_lock);
}

int Signal() {
  return g_first.load();
}

const char* SignalName(int sig) {
  switch (sig) {
    case kSigInt:
      return "Ctrl-C";
    case kSigBreak:
      return "Ctrl-Break";
    case kSigHup:
      return "the console closing";
    default:
      return "a signal";
  }
}

bool Requested() {
  return g_requests.load() >= StopsAt();
}

int WakeFd() {
  return -1;
}

CloseStage::CloseStage() {
  t_closing = true;
}
CloseStage::~CloseStage() {
  t_closing = false;
}

// A request that comes between the check in Requested() and the call itself finds the thread
// registered but not yet blocked; the call then ends by its own time-out.
BlockingCall::BlockingCall() {
  HANDLE thread = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
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
