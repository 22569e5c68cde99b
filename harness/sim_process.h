// valdrix-sim as a child process, for the pseudo-terminal tests and the benchmarks.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace valdrix {

// valdrix-sim started with the given options, logging to Log() and reached through Link(), both
// in a directory of its own; Path() is the terminal it printed. Killed, and the directory removed,
// when destroyed.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> options) {
    char dir[] = "/tmp/valdrix-pty-XXXXXX";
    dir_ = mkdtemp(dir) ? dir : "";
    options.insert(options.end(), {"--log", Log(), "--link", Link()});
    int out[2];
    if (dir_.empty() || pipe2(out, O_CLOEXEC) != 0)
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
  ~SimProcess() {
    Kill();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  const std::string& Path() const { return path_; }
  std::string Log() const { return dir_ + "/frames.jsonl"; }
  std::string Link() const { return dir_ + "/tty"; }

  // SIGKILL: the terminal vanishes as when a device is pulled out; SIGTERM: a clean stop.
  void Kill(int sig = SIGKILL) {
    if (pid_ > 0 && kill(pid_, sig) == 0)
      waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace valdrix
