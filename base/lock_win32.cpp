#include <windows.h>

#include "base/lock.h"

namespace valdrix {

Lock::Lock() : impl_(new SRWLOCK) {
  InitializeSRWLock(static_cast<SRWLOCK*>(impl_));
}
Lock::~Lock() {
  delete static_cast<SRWLOCK*>(impl_);
}
void Lock::lock() {
  AcquireSRWLockExclusive(static_cast<SRWLOCK*>(impl_));
}
void Lock::unlock() {
  ReleaseSRWLockExclusive(static_cast<SRWLOCK*>(impl_));
}

}  // namespace valdrix
