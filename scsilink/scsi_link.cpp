#include "scsilink/scsi_link.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace omr72 {
namespace {

constexpr uint8_t kInquiryOpcode = 0x12;
constexpr uint8_t kGoodStatus = 0;

}  // namespace

const InquiryData kInquiryTemplate = {
    0x00, 0x80, 0x05, 0x02, 0x20, 0x00, 0x80, 0x00,                          // header
    'C',  'o',  'o',  'l',  ' ',  0x00, ' ',  ' ',                           // vendor
    'M',  'a',  's',  's',  ' ',  'S',  't',  'o',                           // product
    'r',  'a',  'g',  'e',  ' ',  0x00, ' ',  ' ',  0x00, 0x00, 0x00, 0x01,  // revision
};

bool ScsiLink::ExecuteOnNamedDrive(uint8_t dataIn, const Cdb& cdb, uint8_t* buffer,
                                   uint32_t length) {
  std::unique_ptr<ScsiDrive> drive = passThrough_.Open(deviceName_.data());
  if (!drive) return false;
  ScsiRequest request;
  request.dataIn = dataIn;
  request.cdb = cdb;
  request.buffer = length == 0 ? nullptr : buffer;
  request.length = length;
  request.timeoutSeconds = kScsiTimeoutSeconds;
  uint8_t status = 0xFF;
  const bool completed = drive->Execute(request, status);
  return completed && status == kGoodStatus;
}

// Only a drive that the last scan identified may receive commands: after a failed scan the
// name still holds the last digit probed, which is some other disk (or no disk at all).
bool ScsiLink::Execute(uint8_t dataIn, const Cdb& cdb, uint8_t* buffer, uint32_t length) {
  if (!identified_) return false;
  return ExecuteOnNamedDrive(dataIn, cdb, buffer, length);
}

// The allocation length stays 0 in the CDB; the reply length lives in the request only. The
// buffer is zeroed so that a reply shorter than the template can never match it.
bool ScsiLink::Identify() {
  Cdb cdb{};
  cdb[0] = kInquiryOpcode;
  std::vector<uint8_t> reply(kInquiryReplySize, 0);
  if (!ExecuteOnNamedDrive(kDataIn, cdb, reply.data(), kInquiryReplySize)) return false;
  return std::equal(kInquiryTemplate.begin(), kInquiryTemplate.end(), reply.begin());
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
