// A mutual-exclusion lock for the few tables that threads share, on both platforms: the Windows
// cross compiler's threads come without std::mutex, so there it is the kernel's slim lock.
#pragma once

namespace valdrix {

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void lock();
  void unlock();

 private:
  void* impl_;
};

// Holds a lock for its scope.
class Held {
 public:
  explicit Held(Lock& lock) : lock_(lock) { lock_.lock(); }
  ~Held() { lock_.unlock(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  Lock& lock_;
};

}  // namespace valdrix
