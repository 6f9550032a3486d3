// Why a recorder may not be found: on Linux a device node that this user may not open, on
// Windows a drive or USB driver device that only an elevated process may open. Said once per
// run on standard error, never on standard output, whose transcript stays exactly the dialogue.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace omr72 {

inline constexpr char kUdevRulesFile[] = "70-omr72-recorder.rules";

// The hint for the first denial that may be the recorder: any USB disk's SCSI generic node, or
// a USB device with the recorder's boot-loader ids (nothing for other USB devices); on Windows
// any drive or USB driver device the process was not privileged to open.
std::optional<std::string> AccessHintText(const std::vector<AccessDenial>& denials);

class AccessHint {
 public:
  explicit AccessHint(std::FILE* out) : out_(out) {}
  // Takes what both routes' scans were denied since the last call; prints the hint the first
  // time there is one to give.
  void Check(Platform& platform);

 private:
  std::FILE* out_;
  bool shown_ = false;
};

}  // namespace omr72
