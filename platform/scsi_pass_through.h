// Direct SCSI pass-through to the host's drives, as seen by the disk link.
//
// Backend contract:
// - Open(deviceName) opens "\\.\PHYSICALDRIVEn" (n = '0'..'8') for reading and writing the way
//   CreateFileA does (GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING,
//   FILE_ATTRIBUTE_SYSTEM); nullptr when it cannot be opened or is not a drive that may take
//   pass-through commands. Destroying the ScsiDrive closes it.
// - ScsiDrive::DoExecute sends exactly one CDB with the request's direction, data and time-out.
//   It returns true when the OS completed the request (DeviceIoControl nonzero, or SG_IO
//   returned 0 with an OK info word) and then sets `scsiStatus`; a data phase shorter than
//   requested is not an error at this level. It sees only requests that passed Execute's check.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "platform/access_denials.h"

#include "platform/data_stage.h"

namespace omr72 {

using Cdb = std::array<uint8_t, 16>;

struct ScsiRequest {
  Cdb cdb{};
  DataStage data;
  uint32_t timeoutSeconds = 2;

  uint8_t direction() const { return data.direction(); }
  uint32_t length() const { return data.size(); }
};

class ScsiDrive {
 public:
  virtual ~ScsiDrive() = default;
  // False, with nothing sent, for data without an address or longer than 32 bits can count.
  bool Execute(const ScsiRequest& request, uint8_t& scsiStatus) {
    if (!request.data.FitsWithin(std::numeric_limits<uint32_t>::max())) return false;
    return DoExecute(request, scsiStatus);
  }

 private:
  virtual bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) = 0;
};

class ScsiPassThrough {
 public:
  virtual ~ScsiPassThrough() = default;
  virtual std::unique_ptr<ScsiDrive> Open(const char* deviceName) = 0;
  // Nodes that Open met but was not allowed to open, since the last call; none by default.
  virtual std::vector<AccessDenial> TakeAccessDenials() { return {}; }
};

}  // namespace omr72
