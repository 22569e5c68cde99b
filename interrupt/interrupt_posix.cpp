#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "interrupt/interrupt.h"
#include "interrupt/wake.h"

namespace valdrix::interrupt {
namespace {

static_assert(BROKEN_OUTPUT == SIGPIPE);

// One pipe per stage: the first becomes readable with the first request, the second with the
// second. Nobody reads them, so they stay readable for every thread that polls them.
int g_pipes[2][2] = {{-1, -1}, {-1, -1}};

}  // namespace

void Install() {
  for (auto& fds : g_pipes) {
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
      fds[0] = fds[1] = -1;
  }
  struct sigaction action {};
  action.sa_handler = Raise;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // writes to the standard streams go on; poll() still wakes
  for (const int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaction(sig, &action, nullptr);
  // A closed pipe on standard output shows as a write error, which ends the run in order.
  signal(SIGPIPE, SIG_IGN);
}

// Runs in signal handlers: errno is kept for the code the signal cut into, which may be about to
// read it.
void WakeWaits(int requests) {
  const int saved = errno;
  for (int stage = 0; stage < requests && stage < 2; ++stage) {
    const char byte = 0;
    if (g_pipes[stage][1] >= 0 && write(g_pipes[stage][1], &byte, 1) < 0) {
      // Full: it is readable already.
    }
  }
  errno = saved;
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGPIPE:
      return "SIGPIPE";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "a signal";
  }
}

int WakeFd() {
  return g_pipes[StopsAt() - 1][0];
}

BlockingCall::BlockingCall() = default;
BlockingCall::~BlockingCall() = default;

}  // namespace valdrix::interrupt
