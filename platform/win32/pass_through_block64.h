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
  auto put = [&b](size_t at, uint64_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, kPassThroughLength64, 2);
  b[4] = kPassThroughTargetId;
  b[6] = kPassThroughCdbLength;
  b[7] = kPassThroughSenseLength;
  b[8] = request.dataIn;
  put(kPassThrough64DataTransferLength, request.length, 4);
  put(kPassThrough64TimeOutValue, request.timeoutSeconds, 4);
  put(kPassThrough64DataBuffer, dataBuffer, 8);
  put(kPassThrough64SenseInfoOffset, kPassThroughSenseOffset64, 4);
  std::copy(request.cdb.begin(), request.cdb.end(), b.begin() + kPassThrough64Cdb);
  return b;
}

}  // namespace omr72
