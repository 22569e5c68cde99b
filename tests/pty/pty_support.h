// Pseudo-terminals, a running valdrix-sim and its frame log, for the real-time tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace valdrix::pty {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A pseudo-terminal whose master the test holds; the code under test opens the slave by path.
struct PtyPair {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  std::string slave =
      master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
  ~PtyPair() { CloseMaster(); }
  void CloseMaster() {
    if (master >= 0)
      close(master);
    master = -1;
  }
};

// A fresh directory, removed with everything in it at the end.
struct TempDir {
  std::string path = [] {
    char name[] = "/tmp/valdrix-pty-XXXXXX";
    return std::string(mkdtemp(name) ? name : "");
  }();
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// valdrix-sim started with the given options; Path() is the terminal it printed. Killed when
// destroyed, if not before.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& options) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
      return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
      dup2(out[1], STDOUT_FILENO);
      std::vector<char*> argv{const_cast<char*>(VALDRIX_SIM_PATH)};
      for (const std::string& o : options)
        argv.push_back(const_cast<char*>(o.c_str()));
      argv.push_back(nullptr);
      execv(VALDRIX_SIM_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
      path_ += c;
    close(out[0]);
  }
  ~SimProcess() { Kill(); }

  const std::string& Path() const { return path_; }

  void Kill() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0)
      waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

// How many frames valdrix-sim logged as received.
inline std::size_t ReceivedFrames(const std::string& log) {
  std::ifstream in(log);
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);)
    count += line.find("\"dir\":\"rx\"") != std::string::npos;
  return count;
}

// How many files this process has open, to tell that nothing was left open.
inline long OpenFiles() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

}  // namespace valdrix::pty
