#include "scsilink/page_access.h"

#include <algorithm>

#include "scsilink/service_commands.h"

namespace omr72 {
namespace {

constexpr uint64_t kLastPageNumber = 0xFFFFFFFF;

// Page numbers are 32-bit on the wire. A request that runs past the last one would wrap round
// to page 0 and touch pages the caller never named, so it is refused before anything is sent.
bool FitsPageRange(uint32_t startPage, uint16_t count, uint32_t pageStep) {
  return startPage + uint64_t{pageStep} * (count - 1u) <= kLastPageNumber;
}

// Splits `count` units of `unitSize` bytes into commands of at most 64 KiB and sends them in
// order through `send(page, n, offset, length)`; the first failure ends the request. The page
// of the next command advances by pageStep per unit moved.
template <typename Send>
bool SendInCommands(uint32_t startPage, uint16_t count, uint32_t unitSize, uint32_t pageStep,
                    Send send) {
  uint32_t page = startPage;
  uint16_t remaining = count;
  size_t done = 0;
  while (remaining > 0) {
    const uint16_t n =
        static_cast<uint16_t>(std::min<uint32_t>(kMaxCommandBytes / unitSize, remaining));
    if (!send(page, n, done * unitSize, unitSize * n)) return false;
    remaining = static_cast<uint16_t>(remaining - n);
    page += pageStep * n;
    done += n;
  }
  return true;
}

}  // namespace

bool PageAccessIsConnected(ScsiLink& link) {
  return link.IsConnected();
}

bool PageAccessGetFlashParams(ScsiLink& link, uint8_t* params40) {
  if (params40 == nullptr) return false;
  if (!ScsiGetFlashParams(link)) return false;
  std::copy(link.flashParams.begin(), link.flashParams.end(), params40);
  return true;
}

bool PageAccessReadPages(ScsiLink& link, uint32_t startPage, uint8_t* buffer, uint16_t pageCount) {
  if (pageCount == 0) return true;
  const uint16_t pageSize = FlashParamsPageSize(link.flashParams);
  if (pageSize == 0 || buffer == nullptr || !FitsPageRange(startPage, pageCount, 1)) return false;
  return SendInCommands(startPage, pageCount, pageSize, 1,
                        [&](uint32_t page, uint16_t n, size_t offset, uint32_t length) {
                          return ScsiReadPages(link, page, n, ByteSpan(buffer + offset, length));
                        });
}

bool PageAccessWritePages(ScsiLink& link, uint32_t startPage, const uint8_t* buffer,
                          uint16_t pageCount) {
  if (pageCount == 0) return true;
  const uint16_t pageSize = FlashParamsPageSize(link.flashParams);
  if (pageSize == 0 || buffer == nullptr || !FitsPageRange(startPage, pageCount, 1)) return false;
  return SendInCommands(startPage, pageCount, pageSize, 1,
                        [&](uint32_t page, uint16_t n, size_t offset, uint32_t length) {
                          return ScsiWritePages(link, page, n,
                                                ConstByteSpan(buffer + offset, length));
                        });
}

// partOffset only travels to the recorder; the host's arithmetic is in whole parts.
bool PageAccessReadPartsOfPages(ScsiLink& link, uint32_t startPage, uint16_t pageCount,
                                uint16_t partOffset, uint16_t partSize, uint16_t pageStep,
                                uint8_t* buffer) {
  if (pageCount == 0) return true;
  if (partSize == 0 || buffer == nullptr || !FitsPageRange(startPage, pageCount, pageStep))
    return false;
  return SendInCommands(startPage, pageCount, partSize, pageStep,
                        [&](uint32_t page, uint16_t n, size_t offset, uint32_t length) {
                          return ScsiReadPartsOfPages(link, page, n, partSize, pageStep, partOffset,
                                                      ByteSpan(buffer + offset, length));
                        });
}

}  // namespace omr72
