// A named lock shared by every recorder application on the machine. Once acquired it is held
// until the process ends; the OS releases it when the process dies.
#pragma once

namespace omr72 {

enum class LockResult {
  kAcquired,
  kAlreadyExists,  // another process holds the name (ERROR_ALREADY_EXISTS)
  kFailed,         // the lock could not be created for another reason
};

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  virtual LockResult Acquire(const char* name) = 0;
};

}  // namespace omr72
