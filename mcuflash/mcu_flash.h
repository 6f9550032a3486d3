// The recorder's microcontroller flash as either link reaches it: 512-byte pages erased one at
// a time and programmed in 64-byte chunks. The writer that programmes the update's pages is
// written once, above this interface, and both links call down to it.
#pragma once

#include <cstdint>
#include <span>

#include "mcuflash/progress.h"
#include "wire/recorder_wire.h"

namespace omr72 {

inline constexpr size_t kMcuImageSize = size_t{wire::kMcuPageCount} * wire::kMcuPageSize;  // 0x2A00
using McuImage = std::span<const uint8_t, kMcuImageSize>;
using McuChunk = std::span<const uint8_t, wire::kMcuChunkSize>;
using MemoryBlockSpan = std::span<uint8_t, wire::kMcuChunkSize>;  // one 64-byte memory read

class McuFlash {
 public:
  virtual ~McuFlash() = default;
  // One request each; true when it succeeded.
  virtual bool ErasePage(uint16_t address) = 0;
  virtual bool WriteChunk(uint16_t address, McuChunk chunk) = 0;
};

// McuFlash over a link's own erase and chunk-write operations.
template <typename Link, bool (*kErase)(Link&, uint16_t), bool (*kWrite)(Link&, uint16_t, McuChunk)>
class LinkMcuFlash final : public McuFlash {
 public:
  explicit LinkMcuFlash(Link& link) : link_(link) {}
  bool ErasePage(uint16_t address) override { return kErase(link_, address); }
  bool WriteChunk(uint16_t address, McuChunk chunk) override {
    return kWrite(link_, address, chunk);
  }

 private:
  Link& link_;
};

// Erases and programmes pages 0..20 from image bytes 0..10751: per page one erase, then its
// eight chunks in address order. A failed request stops nothing: all 189 requests always go
// out, and the result is true only when every one of them succeeded. `progress` hears of each
// page when its last chunk has gone out (kWrite, 1..21 of 21).
bool WriteMcuFlash(McuFlash& flash, McuImage image, const ProgressCallback& progress = {});

}  // namespace omr72
