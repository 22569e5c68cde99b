// valdrix-sim started for a measurement: the terminal path it prints, and a clean stop.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace valdrix::bench {

class Sim {
 public:
  explicit Sim(const std::vector<std::string>& options) {
    int out[2];
    if (pipe(out) != 0)
      return;
    std::vector<char*> argv{const_cast<char*>(VALDRIX_SIM_PATH)};
    for (const std::string& o : options)
      argv.push_back(const_cast<char*>(o.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, VALDRIX_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The first line is the terminal's path; end of file if the simulator failed to start.
    if (std::FILE* in = fdopen(out[0], "r")) {
      for (int c; (c = std::fgetc(in)) != EOF && c != '\n';)
        path_ += static_cast<char>(c);
      std::fclose(in);
    }
  }
  ~Sim() { Stop(); }
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  const std::string& Path() const { return path_; }

  void Stop() {
    if (pid_ <= 0)
      return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace valdrix::bench
