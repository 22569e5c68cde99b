#include <mutex>

#include "base/lock.h"

namespace valdrix {

Lock::Lock() : impl_(new std::mutex) {}
Lock::~Lock() {
  delete static_cast<std::mutex*>(impl_);
}
void Lock::lock() {
  static_cast<std::mutex*>(impl_)->lock();
}
void Lock::unlock() {
  static_cast<std::mutex*>(impl_)->unlock();
}

}  // namespace valdrix
