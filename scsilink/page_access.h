// Page-level access to the recorder's flash over the disk link: requests of any 16-bit page
// count, split into commands that move at most 64 KiB each. The five exported functions are
// thin wrappers over these; tests drive them with fake or emulated drives.
#pragma once

#include <cstdint>

#include "scsilink/scsi_link.h"

namespace omr72 {

constexpr uint32_t kMaxCommandBytes = 65536;

// Scans for the recorder; on success every following call goes to its drive.
bool PageAccessIsConnected(ScsiLink& link);
// Reads the flash parameters and, only on success, copies the 40-byte record into params.
bool PageAccessGetFlashParams(ScsiLink& link, uint8_t* params40);
// Whole pages of the last record's page size. False, with nothing sent, while that page size
// is 0, for a null buffer, or when the pages would run past the last 32-bit page number.
// pageCount 0 succeeds at once.
bool PageAccessReadPages(ScsiLink& link, uint32_t startPage, uint8_t* buffer, uint16_t pageCount);
bool PageAccessWritePages(ScsiLink& link, uint32_t startPage, const uint8_t* buffer,
                          uint16_t pageCount);
// partSize bytes at partOffset of the pages startPage, startPage + pageStep, ..., stored back
// to back. False, with nothing sent, for partSize 0 or the same cases as above.
bool PageAccessReadPartsOfPages(ScsiLink& link, uint32_t startPage, uint16_t pageCount,
                                uint16_t partOffset, uint16_t partSize, uint16_t pageStep,
                                uint8_t* buffer);

}  // namespace omr72
