#include "testbeds/linux/gadget/bulk_only.h"

#include <algorithm>
#include <cstring>

namespace omr72::testbed {
namespace {

constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr uint32_t kBlockSize = 512;
constexpr uint32_t kBlocks = 2048;  // a 1 MiB disk with nothing on it

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

enum Opcode : uint8_t {
  kTestUnitReady = 0x00,
  kRequestSense = 0x03,
  kModeSense6 = 0x1A,
  kStartStop = 0x1B,
  kPreventAllow = 0x1E,
  kReadCapacity10 = 0x25,
  kRead10 = 0x28,
  kWrite10 = 0x2A,
  kSynchronizeCache = 0x35,
};

}  // namespace

std::optional<Cbw> ParseCbw(const uint8_t* data, size_t length) {
  if (length != kCbwBytes || Le32(data) != kCbwSignature) return std::nullopt;
  Cbw cbw;
  cbw.tag = Le32(data + 4);
  cbw.command.length = Le32(data + 8);
  cbw.command.dataIn = (data[12] & 0x80) != 0;
  cbw.command.cdbLength = data[14] & 0x1F;
  if (cbw.command.cdbLength == 0 || cbw.command.cdbLength > 16) return std::nullopt;
  std::memcpy(cbw.command.cdb, data + 15, cbw.command.cdbLength);
  return cbw;
}

std::array<uint8_t, kCswBytes> BuildCsw(uint32_t tag, uint32_t residue, uint8_t status) {
  std::array<uint8_t, kCswBytes> csw{};
  PutLe32(&csw[0], kCswSignature);
  PutLe32(&csw[4], tag);
  PutLe32(&csw[8], residue);
  csw[12] = status;
  return csw;
}

uint8_t SmallDisk::Answer(const CommandBlock& command, uint8_t* data) {
  const uint8_t opcode = command.cdb[0];
  ++counts_[opcode];
  switch (opcode) {
    case kTestUnitReady:
    case kPreventAllow:
    case kStartStop:
    case kSynchronizeCache:
    case kWrite10:  // nothing is kept
      return kStatusGood;
    case kRequestSense: {
      uint8_t sense[18] = {0x70, 0, sense_[0], 0, 0, 0, 0, 10, 0, 0, 0, 0, sense_[1]};
      std::memcpy(data, sense, std::min<size_t>(command.length, sizeof sense));
      sense_ = {};
      return kStatusGood;
    }
    case kModeSense6: {
      const uint8_t header[4] = {3, 0, 0, 0};  // no block descriptors, not write-protected
      std::memcpy(data, header, std::min<size_t>(command.length, sizeof header));
      return kStatusGood;
    }
    case kReadCapacity10:
      if (command.length >= 8) {
        PutBe32(data, kBlocks - 1);
        PutBe32(data + 4, kBlockSize);
      }
      return kStatusGood;
    case kRead10:
      return kStatusGood;  // zeros
  }
  sense_ = {0x05, 0x20};  // ILLEGAL REQUEST, invalid command operation code
  return kStatusFailed;
}

}  // namespace omr72::testbed
