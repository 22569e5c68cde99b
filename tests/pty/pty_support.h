// Pseudo-terminals and a running valdrix-sim for the real-time tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace valdrix::pty {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time (user + system) this thread has used, in milliseconds.
inline double ThreadCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// A pseudo-terminal whose master the test holds; the code under test opens the slave by path.
struct PtyPair {
  int master = -1;
  std::string slave;

  PtyPair() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
      return;
    slave = ptsname(master);
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  void CloseMaster() {
    if (master >= 0)
      close(master);
    master = -1;
  }

  // Everything the slave side sent within the given time, stopping early at want bytes.
  std::vector<std::uint8_t> ReadMaster(std::size_t want, int timeoutMs) const {
    std::vector<std::uint8_t> got;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0)
        break;
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0)
        break;
      std::uint8_t chunk[256];
      const ssize_t n = read(master, chunk, sizeof chunk);
      if (n <= 0)
        break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
};

// valdrix-sim running with the given options; stopped with SIGTERM when destroyed.
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
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(VALDRIX_SIM_PATH));
      for (const std::string& o : options)
        argv.push_back(const_cast<char*>(o.c_str()));
      argv.push_back(nullptr);
      execv(VALDRIX_SIM_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    // The first line of its output is the terminal's path.
    const auto end = Clock::now() + std::chrono::seconds(5);
    char c = 0;
    while (Clock::now() < end) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0)
        continue;
      if (read(out[0], &c, 1) != 1 || c == '\n')
        break;
      path_ += c;
    }
    close(out[0]);
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& Path() const { return path_; }

  // Sends the signal (SIGKILL: the device goes away without a word) and returns the exit status
  // (-1: did not exit normally).
  int Stop(int signal = SIGTERM) {
    if (pid_ <= 0)
      return exitStatus_;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitStatus_;
  }

 private:
  pid_t pid_ = -1;
  std::string path_;
  int exitStatus_ = -1;
};

struct LoggedFrame {
  std::string dir;
  std::string hex;
  unsigned rate;
  bool operator==(const LoggedFrame& o) const {
    return dir == o.dir && hex == o.hex && rate == o.rate;
  }
};

inline std::ostream& operator<<(std::ostream& os, const LoggedFrame& f) {
  return os << f.dir << " " << f.hex << " @" << f.rate;
}

inline std::vector<LoggedFrame> ReadFrameLog(const std::string& path) {
  static const std::regex line(
      R"re(^\{"dir":"(rx|tx)","hex":"([0-9A-F ]+)","rate":([0-9]+),"t":[0-9]+\.[0-9]+\}$)re");
  std::vector<LoggedFrame> frames;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) {
      frames.push_back({"malformed", text, 0});
      continue;
    }
    frames.push_back({m[1], m[2], static_cast<unsigned>(std::stoul(m[3]))});
  }
  return frames;
}

// A fresh directory for links and logs, removed with its files at the end.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/valdrix-pty-XXXXXX";
    if (mkdtemp(name))
      path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace valdrix::pty
