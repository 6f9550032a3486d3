// Device nodes that a scan found but could not open for want of permission (EACCES, EPERM on
// Linux; ERROR_ACCESS_DENIED on Windows).
// Backends only record them; the updater takes them after a scan and decides whether to tell
// the user. Nothing here prints.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace omr72 {

struct AccessDenial {
  std::string node;       // the OS's name for it, /dev/sg2 or /dev/bus/usb/001/007
  uint16_t vendorId = 0;  // USB devices only: the ids from its descriptor
  uint16_t productId = 0;
  // Refused for what the process may do, not for the node's own permissions: on Windows only
  // an elevated process opens a physical drive, and no rule on the device changes that.
  bool processPrivilege = false;
  auto operator<=>(const AccessDenial&) const = default;
};

// What a backend met since the last Take(): each node once, at most kMaxKept of them, so that
// polling many times a second never lets it grow.
class AccessDenialLog {
 public:
  static constexpr size_t kMaxKept = 18;  // nine USB names and nine drives

  void Note(AccessDenial denial) {
    if (denials_.size() >= kMaxKept) return;
    for (const AccessDenial& d : denials_) {
      if (d.node == denial.node) return;
    }
    denials_.push_back(std::move(denial));
  }
  std::vector<AccessDenial> Take() { return std::exchange(denials_, {}); }

 private:
  std::vector<AccessDenial> denials_;
};

}  // namespace omr72
