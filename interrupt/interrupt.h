// A request to stop, raised by a signal (POSIX) or a console event (Windows) in a program that
// installs the handlers. Once it is raised every wait of a backend ends at once, so the running
// read or write fails without waiting for its time-out. A thread that closes the interface after
// the request is in its close stage: only a further request cuts that close short.
#pragma once

namespace valdrix::interrupt {

// SIGPIPE's number: a write error on standard output ends the run as that signal would.
constexpr int BROKEN_OUTPUT = 13;

// SIGINT, SIGTERM and SIGHUP raise the request, SIGPIPE is ignored (POSIX); Ctrl-C, Ctrl-Break
// and the console window closing raise it (Windows). Call once, before any thread starts.
void Install();

// Raises the request as signal number sig does; safe in a signal handler, whose errno it keeps.
void Raise(int sig);

// The number of the signal that raised the first request; 0 while there was none.
int Signal();

// What a user calls the signal: "SIGINT", "SIGTERM", ..., "Ctrl-C" (Windows).
const char* SignalName(int sig);

// Whether this thread must stop: a request came (in the close stage, a second one).
bool Requested();

// POSIX: a descriptor that is readable while Requested() holds for this thread; -1 when the
// handlers are not installed. A backend adds it to its poll set with POLLIN and never reads it.
int WakeFd();

// Marks the calling thread as closing the interface for the scope.
class CloseStage {
 public:
  CloseStage();
  ~CloseStage();
  CloseStage(const CloseStage&) = delete;
  CloseStage& operator=(const CloseStage&) = delete;
};

// Windows: a blocking port call of the calling thread that a request cancels
// (CancelSynchronousIo). Nothing on POSIX, where WakeFd() does it.
class BlockingCall {
 public:
  BlockingCall();
  ~BlockingCall();
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;
};

}  // namespace valdrix::interrupt
