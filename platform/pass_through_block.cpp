#include "platform/pass_through_block.h"

#include <algorithm>

namespace omr72 {
namespace {

void PutLe16(PassThroughBlock& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(PassThroughBlock& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

PassThroughBlock BuildPassThroughBlock(const ScsiRequest& request, uint32_t dataBuffer) {
  PassThroughBlock b{};
  PutLe16(b, 0, kPassThroughLength);
  b[4] = kPassThroughTargetId;
  b[6] = kPassThroughCdbLength;
  b[7] = kPassThroughSenseLength;
  b[8] = request.dataIn;
  PutLe32(b, 12, request.length);
  PutLe32(b, 16, request.timeoutSeconds);
  PutLe32(b, 20, dataBuffer);
  PutLe32(b, 24, kPassThroughSenseOffset);
  std::copy(request.cdb.begin(), request.cdb.end(), b.begin() + 28);
  return b;
}

}  // namespace omr72
