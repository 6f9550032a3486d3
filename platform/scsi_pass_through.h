// Direct SCSI pass-through to the host's drives, as seen by the disk link.
//
// Backend contract:
// - Open(deviceName) opens "\\.\PHYSICALDRIVEn" (n = '0'..'8') for reading and writing the way
//   CreateFileA does (GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING,
//   FILE_ATTRIBUTE_SYSTEM); nullptr when it cannot be opened or is not a drive that may take
//   pass-through commands. Destroying the ScsiDrive closes it.
// - ScsiDrive::Execute sends exactly one CDB with the given direction, buffer, length and
//   time-out. It returns true when the OS completed the request (DeviceIoControl nonzero, or
//   SG_IO returned 0 with an OK info word) and then sets `scsiStatus`; a data phase shorter than
//   requested is not an error at this level.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/access_denials.h"

namespace omr72 {

using Cdb = std::array<uint8_t, 16>;

constexpr uint8_t kDataOut = 0;  // SCSI_IOCTL_DATA_OUT: data to the device
constexpr uint8_t kDataIn = 1;   // SCSI_IOCTL_DATA_IN: data from the device

struct ScsiRequest {
  uint8_t dataIn = kDataIn;
  Cdb cdb{};
  uint8_t* buffer = nullptr;  // null when length is 0
  uint32_t length = 0;
  uint32_t timeoutSeconds = 2;
};

class ScsiDrive {
 public:
  virtual ~ScsiDrive() = default;
  virtual bool Execute(const ScsiRequest& request, uint8_t& scsiStatus) = 0;
};

class ScsiPassThrough {
 public:
  virtual ~ScsiPassThrough() = default;
  virtual std::unique_ptr<ScsiDrive> Open(const char* deviceName) = 0;
  // Nodes that Open met but was not allowed to open, since the last call; none by default.
  virtual std::vector<AccessDenial> TakeAccessDenials() { return {}; }
};

}  // namespace omr72
