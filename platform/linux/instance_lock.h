// Linux: the named instance lock as an abstract Unix socket.
#pragma once

#include "platform/instance_lock.h"

namespace omr72 {

class LinuxInstanceLock : public InstanceLock {
 public:
  LockResult Acquire(const char* name) override;
};

}  // namespace omr72
