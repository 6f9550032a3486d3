#include "platform/pass_through_block.h"

#include <algorithm>

#include "wire/byte_order.h"

namespace omr72 {

PassThroughBlock BuildPassThroughBlock(const ScsiRequest& request, uint32_t dataBuffer) {
  PassThroughBlock b{};
  StoreLe16(b, 0, kPassThroughLength);
  b[4] = kPassThroughTargetId;
  b[6] = kPassThroughCdbLength;
  b[7] = kPassThroughSenseLength;
  b[8] = request.direction();
  StoreLe32(b, 12, request.length());
  StoreLe32(b, 16, request.timeoutSeconds);
  StoreLe32(b, 20, dataBuffer);
  StoreLe32(b, 24, kPassThroughSenseOffset);
  std::copy(request.cdb.begin(), request.cdb.end(), b.begin() + 28);
  return b;
}

}  // namespace omr72
