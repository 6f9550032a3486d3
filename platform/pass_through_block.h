// The 80-byte block handed to IOCTL_SCSI_PASS_THROUGH_DIRECT by a 32-bit process: the 44-byte
// SCSI_PASS_THROUGH_DIRECT, a 4-byte filler and a 32-byte sense buffer. Built as plain bytes
// so that its layout can be checked on any host.
#pragma once

#include <array>
#include <cstdint>

#include "platform/scsi_pass_through.h"

namespace omr72 {

constexpr uint32_t kPassThroughBlockSize = 80;
constexpr uint16_t kPassThroughLength = 44;
constexpr uint8_t kPassThroughTargetId = 1;
constexpr uint8_t kPassThroughCdbLength = 16;
constexpr uint8_t kPassThroughSenseLength = 24;
constexpr uint32_t kPassThroughSenseOffset = 48;
constexpr uint32_t kPassThroughStatusOffset = 2;

using PassThroughBlock = std::array<uint8_t, kPassThroughBlockSize>;

// `dataBuffer` is the 32-bit address of the caller's buffer (0 when there is no data).
PassThroughBlock BuildPassThroughBlock(const ScsiRequest& request, uint32_t dataBuffer);

}  // namespace omr72
