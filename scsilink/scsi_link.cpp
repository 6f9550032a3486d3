#include "scsilink/scsi_link.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace omr72 {

bool ScsiLink::ExecuteOnNamedDrive(const Cdb& cdb, DataStage data) {
  std::unique_ptr<ScsiDrive> drive = passThrough_.Open(deviceName_.data());
  if (!drive) return false;
  const ScsiRequest request{.cdb = cdb, .data = data, .timeoutSeconds = wire::kScsiTimeoutSeconds};
  uint8_t status = 0xFF;
  const bool completed = drive->Execute(request, status);
  return completed && status == wire::kGoodStatus;
}

// Only a drive that the last scan identified may receive commands: after a failed scan the
// name still holds the last digit probed, which is some other disk (or no disk at all).
bool ScsiLink::Execute(const Cdb& cdb, DataStage data) {
  if (!identified_) return false;
  return ExecuteOnNamedDrive(cdb, data);
}

// The allocation length stays 0 in the CDB; the reply length lives in the request only. The
// buffer is zeroed so that a reply shorter than the template can never match it.
bool ScsiLink::Identify() {
  Cdb cdb{};
  cdb[0] = wire::kInquiryOpcode;
  std::vector<uint8_t> reply(wire::kInquiryReplySize, 0);
  if (!ExecuteOnNamedDrive(cdb, DataStage::In(reply))) return false;
  return std::equal(wire::kInquiryTemplate.begin(), wire::kInquiryTemplate.end(), reply.begin());
}

bool ScsiLink::IsConnected() {
  identified_ = false;
  for (char digit = '0'; digit < '9'; ++digit) {
    deviceName_[kDigitIndex] = digit;
    if (Identify()) {
      identified_ = true;
      return true;
    }
  }
  return false;
}

}  // namespace omr72
