// Linux: LinuxInstanceLock, a socket bound to the abstract address that is the lock name.
//
// An abstract Unix socket rather than flock on a file: there is no file to create, no
// directory whose permissions differ between users, and nothing left behind; the kernel frees
// the address the moment the process ends, however it ends. The address is the lock name
// itself so that any other recorder application can share the lock by name alone. The socket
// is never closed: the lock is held until the process ends, and it is not inherited by
// programs that this one starts.
#include "platform/linux/instance_lock.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "platform/native.h"

namespace omr72 {

LockResult LinuxInstanceLock::Acquire(const char* name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = name != nullptr ? std::strlen(name) : 0;
  // The first byte of sun_path stays 0: that is what makes the address abstract.
  if (length == 0 || length > sizeof(address.sun_path) - 1) return LockResult::kFailed;
  std::memcpy(address.sun_path + 1, name, length);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return LockResult::kFailed;
  auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
    return LockResult::kAcquired;
  }
  int error = errno;
  close(fd);
  return error == EADDRINUSE ? LockResult::kAlreadyExists : LockResult::kFailed;
}

std::unique_ptr<InstanceLock> NativePlatform::MakeInstanceLock() {
  return std::make_unique<LinuxInstanceLock>();
}

}  // namespace omr72
