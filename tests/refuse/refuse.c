// Makes the system refuse, for the tests: loaded with LD_PRELOAD into the program under test.
//   VALDRIX_FAIL_CALL   the function whose calls fail: open (and open64), tcgetattr, tcsetattr,
//                       ioctl, write, read, poll, connect, getaddrinfo, link or rename
//   VALDRIX_FAIL_NTH    the first call that fails, counting from 1 in the whole process (default 1)
//   VALDRIX_FAIL_COUNT  how many calls fail from there on (default 1)
//   VALDRIX_FAIL_ERRNO  the errno they fail with, a number (default EIO); getaddrinfo fails with
//                       EAI_SYSTEM and this errno
//   VALDRIX_FAIL_TRACE  set: each call of the chosen function is told on stderr with its number
//   VALDRIX_FAIL_TTY    set: read counts only reads of a terminal (the port's, not /proc's)
//   VALDRIX_SLOW_LOOKUP_MS  every getaddrinfo first waits this long, as a resolver that does not
//                       answer (for the fault campaign)
// Only calls through the dynamic linker are seen: glibc's own internal calls (stdio's writes,
// tcgetattr inside isatty) are not.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static long Env(const char* name, long otherwise) {
  const char* value = getenv(name);
  return value && *value ? strtol(value, NULL, 10) : otherwise;
}

// Whether this call of name fails (errno set then).
static int Refused(const char* name) {
  static long calls;
  const char* chosen = getenv("VALDRIX_FAIL_CALL");
  if (!chosen || strcmp(chosen, name) != 0)
    return 0;
  const long n = __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
  const long first = Env("VALDRIX_FAIL_NTH", 1);
  const int fail = n >= first && n < first + Env("VALDRIX_FAIL_COUNT", 1);
  if (getenv("VALDRIX_FAIL_TRACE"))
    fprintf(stderr, "refuse: %s #%ld%s\n", name, n, fail ? " fails" : "");
  if (fail)
    errno = (int)Env("VALDRIX_FAIL_ERRNO", EIO);
  return fail;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))
#define PASS(ret, name, params, args) \
  ret name params { return Refused(#name) ? -1 : NEXT(name) args; }

PASS(int, tcgetattr, (int fd, struct termios* t), (fd, t))
PASS(int, tcsetattr, (int fd, int when, const struct termios* t), (fd, when, t))
PASS(ssize_t, write, (int fd, const void* b, size_t n), (fd, b, n))
PASS(int, poll, (struct pollfd * p, nfds_t n, int ms), (p, n, ms))
PASS(int, connect, (int fd, const struct sockaddr* a, socklen_t n), (fd, a, n))
PASS(int, link, (const char* from, const char* to), (from, to))
PASS(int, rename, (const char* from, const char* to), (from, to))

ssize_t read(int fd, void* b, size_t n) {  // isatty does not read
  return (!getenv("VALDRIX_FAIL_TTY") || isatty(fd)) && Refused("read") ? -1 : NEXT(read)(fd, b, n);
}

// open's mode is read whether given or not, as libc itself does.
#define OPEN(name)                                               \
  int name(const char* path, int flags, ...) {                   \
    va_list more;                                                \
    va_start(more, flags);                                       \
    const int mode = va_arg(more, int);                          \
    va_end(more);                                                \
    return Refused("open") ? -1 : NEXT(name)(path, flags, mode); \
  }
OPEN(open)
OPEN(open64)

int ioctl(int fd, unsigned long request, ...) {
  va_list more;
  va_start(more, request);
  void* arg = va_arg(more, void*);
  va_end(more);
  return Refused("ioctl") ? -1 : NEXT(ioctl)(fd, request, arg);
}

int getaddrinfo(const char* host, const char* service, const struct addrinfo* hints,
                struct addrinfo** found) {
  const long slow = Env("VALDRIX_SLOW_LOOKUP_MS", 0);
  const struct timespec wait = {slow / 1000, slow % 1000 * 1000000};
  if (slow > 0)
    nanosleep(&wait, NULL);
  return Refused("getaddrinfo") ? EAI_SYSTEM : NEXT(getaddrinfo)(host, service, hints, found);
}
