#include "mcuflash/mcu_flash.h"

namespace omr72 {

// Each result is taken before it is combined, so a failure cannot short-circuit a request.
bool WriteMcuFlash(McuFlash& flash, McuImage image, const ProgressCallback& progress) {
  bool ok = true;
  for (uint16_t page = 0; page < wire::kMcuPageCount; ++page) {
    const uint16_t pageAddress = static_cast<uint16_t>(page * wire::kMcuPageSize);
    const bool erased = flash.ErasePage(pageAddress);
    ok = ok && erased;
    for (uint16_t chunk = 0; chunk < wire::kMcuChunksPerPage; ++chunk) {
      const uint16_t address = static_cast<uint16_t>(pageAddress + chunk * wire::kMcuChunkSize);
      const bool written =
          flash.WriteChunk(address, McuChunk{image.subspan(address, wire::kMcuChunkSize)});
      ok = ok && written;
    }
    if (progress) progress(ProgressStage::kWrite, page + 1u, wire::kMcuPageCount);
  }
  return ok;
}

}  // namespace omr72
