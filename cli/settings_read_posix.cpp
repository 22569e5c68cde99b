// Reading a settings file on POSIX: a regular file, or a FIFO such as the shell's <(...).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "cli/settings_file.h"

namespace valdrix::cli {

bool ReadSettingsText(const std::string& name, std::size_t limit, int fifoWaitMs, std::string& text,
                      std::string& why) {
  const auto failed = [&why](const char* doing) {
    why = std::string(doing) + ": " + std::strerror(errno);
    return false;
  };
  // Judged by its type before opening: a terminal, /dev/zero or a directory is never opened.
  struct stat named {};
  if (stat(name.c_str(), &named) != 0) {
    if (errno == ENOENT) {
      why = "no such file";
      return false;
    }
    return failed("could not be read");
  }
  const bool fifo = S_ISFIFO(named.st_mode);
  if (!S_ISREG(named.st_mode) && !fifo) {
    why = kNotAFile;
    return false;
  }
  // Without O_NONBLOCK, opening a FIFO would wait for a writer without bound.
  const int fd = open(name.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return failed("could not be read");
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || (opened.st_mode & S_IFMT) != (named.st_mode & S_IFMT)) {
    close(fd);
    why = kNotAFile;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(fifoWaitMs);
  text.clear();
  char chunk[4096];
  bool ok = true;
  while (ok && text.size() < limit) {
    if (fifo) {
      // Until the writer has come and gone, or the time is up.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd, POLLIN, 0};
      const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
      if (polled < 0 && errno == EINTR)
        continue;
      if (polled <= 0) {
        why = polled == 0 ? "the FIFO did not deliver a whole file within " +
                                std::to_string(fifoWaitMs / 1000) + " s"
                          : std::string("could not be read: ") + std::strerror(errno);
        ok = false;
        break;
      }
    }
    const ssize_t n = read(fd, chunk, std::min(sizeof chunk, limit - text.size()));
    if (n == 0)
      break;
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n < 0)
      ok = failed("could not be read");
    else
      text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return ok;
}

}  // namespace valdrix::cli
