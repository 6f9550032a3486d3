// The block handed to IOCTL_SCSI_PASS_THROUGH_DIRECT by a 64-bit process: the native
// SCSI_PASS_THROUGH_DIRECT, whose DataBuffer is an 8-byte pointer (56 bytes with its padding),
// followed at once by the sense buffer. It carries the same values as the 32-bit block. Pure
// bytes, so that the layout can be checked on any host.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/pass_through_block.h"
#include "platform/scsi_pass_through.h"

namespace omr72 {

constexpr uint16_t kPassThroughLength64 = 56;
constexpr uint32_t kPassThroughSenseOffset64 = kPassThroughLength64;
constexpr uint32_t kPassThroughSenseBufferSize64 = 32;
constexpr uint32_t kPassThroughBlockSize64 = kPassThroughLength64 + kPassThroughSenseBufferSize64;

constexpr size_t kPassThrough64DataTransferLength = 12;
constexpr size_t kPassThrough64TimeOutValue = 16;
constexpr size_t kPassThrough64DataBuffer = 24;
constexpr size_t kPassThrough64SenseInfoOffset = 32;
constexpr size_t kPassThrough64Cdb = 36;

using PassThroughBlock64 = std::array<uint8_t, kPassThroughBlockSize64>;

inline PassThroughBlock64 BuildPassThroughBlock64(const ScsiRequest& request, uint64_t dataBuffer) {
  PassThroughBlock64 b{};
  StoreLe16(b, 0, kPassThroughLength64);
  b[4] = kPassThroughTargetId;
  b[6] = kPassThroughCdbLength;
  b[7] = kPassThroughSenseLength;
  b[8] = request.direction();
  StoreLe32(b, kPassThrough64DataTransferLength, request.length());
  StoreLe32(b, kPassThrough64TimeOutValue, request.timeoutSeconds);
  StoreLe32(b, kPassThrough64DataBuffer, static_cast<uint32_t>(dataBuffer));
  StoreLe32(b, kPassThrough64DataBuffer + 4, static_cast<uint32_t>(dataBuffer >> 32));
  StoreLe32(b, kPassThrough64SenseInfoOffset, kPassThroughSenseOffset64);
  std::copy(request.cdb.begin(), request.cdb.end(), b.begin() + kPassThrough64Cdb);
  return b;
}

}  // namespace omr72
