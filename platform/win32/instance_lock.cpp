// Windows: Win32InstanceLock, the named mutex shared with the other recorder applications.
#include <windows.h>

#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

class Win32InstanceLock : public InstanceLock {
 public:
  LockResult Acquire(const char* name) override {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    if (mutex == nullptr) return LockResult::kFailed;
    // The handle is never closed: the mutex stays owned until the process ends.
    return GetLastError() == ERROR_ALREADY_EXISTS ? LockResult::kAlreadyExists
                                                  : LockResult::kAcquired;
  }
};

}  // namespace

std::unique_ptr<InstanceLock> NativePlatform::MakeInstanceLock() {
  return std::make_unique<Win32InstanceLock>();
}

}  // namespace omr72
