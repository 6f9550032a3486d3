#include "usblink/usb_commands.h"

#include <algorithm>
#include <vector>

namespace omr72 {
namespace {

constexpr uint16_t kRequestIndex = 0;
constexpr uint16_t kMcuChunkBytes = 64;
constexpr uint16_t kMcuPageBytes = 512;
constexpr uint16_t kMcuChunksPerPage = kMcuPageBytes / kMcuChunkBytes;
constexpr uint16_t kMcuPageCount = 21;
constexpr uint16_t kVersionBytes = 2;
constexpr uint16_t kEraseReplyBytes = 2;
constexpr uint16_t kSerialBytes = 21;
constexpr uint16_t kBootLoaderOneZero = 0x0100;

// The boot block is always addressed with these set-up values.
constexpr uint8_t kNandSelector = 0;
constexpr uint16_t kNandSetupWord1 = 1;
constexpr uint16_t kNandSetupWord2 = 1;
constexpr uint16_t kNandSetupWord3 = 0;
constexpr uint16_t kBootBlock = 0;
// Pages 1..8 of the block hold the image; only their read-back is compared.
constexpr uint32_t kImagePages = (kNandBootImageBytes + kNandPageSize - 1) / kNandPageSize;

void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void PutBe32(uint8_t* p, uint32_t v) {
  PutBe16(p, static_cast<uint16_t>(v >> 16));
  PutBe16(p + 2, static_cast<uint16_t>(v));
}

bool RequestIn(UsbLink& link, uint8_t request, uint16_t value, uint16_t length, uint8_t* buffer) {
  return link.VendorRequest(kUsbDirectionIn, request, value, kRequestIndex, length, buffer);
}

// The link takes the data stage through a mutable pointer in both directions; what we send is
// copied first so that the caller's bytes are never handed out as writable.
template <size_t N>
bool RequestOut(UsbLink& link, uint8_t request, uint16_t value, const uint8_t* data) {
  std::array<uint8_t, N> stage;
  std::copy(data, data + N, stage.begin());
  return link.VendorRequest(kUsbDirectionOut, request, value, kRequestIndex, N, stage.data());
}

uint16_t ReadVersion(UsbLink& link, uint8_t request, bool* answered) {
  uint8_t reply[kVersionBytes] = {};
  *answered = RequestIn(link, request, 0, kVersionBytes, reply);
  if (!*answered) return 0;
  return static_cast<uint16_t>(reply[0] | (reply[1] << 8));
}

bool NandSetup(UsbLink& link, uint8_t request, uint8_t selector, uint16_t pageSize, uint16_t word1,
               uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3) {
  const NandTransferSetup setup =
      BuildNandTransferSetup(selector, pageSize, word1, word2, pageCount, firstPage, word3);
  return RequestOut<sizeof(NandTransferSetup)>(link, request, 0, setup.data());
}

bool BootBlockReadSetup(UsbLink& link, uint32_t pageCount, uint32_t firstPage) {
  return UsbNandReadSetup(link, kNandSelector, kNandPageSize, kNandSetupWord1, kNandSetupWord2,
                          pageCount, firstPage, kNandSetupWord3);
}

bool BootBlockWriteSetup(UsbLink& link, uint32_t page) {
  return UsbNandWriteSetup(link, kNandSelector, kNandPageSize, kNandSetupWord1, kNandSetupWord2, 1,
                           page, kNandSetupWord3);
}

// Page 0 is written back from this read after the block is erased, so anything short of the
// whole block, or a read the recorder was never set up for, must stop the rewrite.
bool ReadWholeBootBlock(UsbLink& link, uint8_t* block) {
  if (!BootBlockReadSetup(link, kNandPagesPerBlock, 0)) return false;
  uint32_t moved = 0;
  link.BulkRead(block, kNandBlockBytes, &moved);
  return moved == kNandBlockBytes;
}

// Page 0 keeps what the recorder had; the image starts at page 1 and runs on across page
// boundaries; everything after it is erased flash.
void LayOutBootBlock(std::vector<uint8_t>& block, const uint8_t* image) {
  std::fill(block.begin() + kNandPageSize, block.end(), 0xFF);
  std::copy(image, image + kNandBootImageBytes, block.begin() + kNandPageSize);
}

void WriteBootBlock(UsbLink& link, const std::vector<uint8_t>& block) {
  for (uint32_t page = 0; page < kNandPagesPerBlock; ++page) {
    BootBlockWriteSetup(link, page);
    link.BulkWrite(block.data() + page * kNandPageSize, kNandPageSize);
  }
}

// Pages 1..63 come back one page lower, so the image is compared from offset 0. A compared
// page that did not come back whole would leave the bytes we wrote in its place, and those can
// equal the image where it repeats itself (erased padding), so it counts as a mismatch.
bool ReadBackBootBlock(UsbLink& link, std::vector<uint8_t>& block) {
  bool whole = true;
  for (uint32_t page = 1; page < kNandPagesPerBlock; ++page) {
    const bool setUp = BootBlockReadSetup(link, 1, page);
    uint32_t moved = 0;
    link.BulkRead(block.data() + (page - 1) * kNandPageSize, kNandPageSize, &moved);
    if (page <= kImagePages && (!setUp || moved != kNandPageSize)) whole = false;
  }
  return whole;
}

// The recorder has the last word; a verdict request that fails leaves the pre-set 1.
bool AskBootBlockVerdict(UsbLink& link) {
  uint8_t verdict = 1;
  RequestIn(link, USB_REQ_BOOT_BLOCK_VERDICT, 0, 1, &verdict);
  return verdict != 0;
}

}  // namespace

NandTransferSetup BuildNandTransferSetup(uint8_t selector, uint16_t pageSize, uint16_t word1,
                                         uint16_t word2, uint32_t pageCount, uint32_t firstPage,
                                         uint16_t word3) {
  NandTransferSetup setup{};
  setup[0] = selector;
  PutBe16(&setup[1], pageSize);
  PutBe16(&setup[3], word1);
  PutBe16(&setup[5], 0);
  PutBe16(&setup[7], word2);
  PutBe32(&setup[9], pageCount);
  PutBe32(&setup[13], firstPage);
  PutBe16(&setup[17], word3);
  return setup;
}

NandEraseRequest BuildNandEraseRequest(uint8_t selector, uint16_t blockNumber) {
  NandEraseRequest request{};
  request[0] = selector;
  PutBe32(&request[1], static_cast<uint32_t>(blockNumber) * kNandPagesPerBlock);
  return request;
}

uint16_t UsbGetFirmwareVersion(UsbLink& link) {
  bool answered = false;
  return ReadVersion(link, USB_REQ_GET_FIRMWARE_VERSION, &answered);
}

// Boot loaders before 1.0 do not know 0x24; a recorder whose firmware still answers counts as
// 1.0, one that answers neither has no boot loader we can talk to.
uint16_t UsbGetBootLoaderVersion(UsbLink& link) {
  bool answered = false;
  const uint16_t version = ReadVersion(link, USB_REQ_GET_BOOT_LOADER_VERSION, &answered);
  if (answered) return version;
  return UsbGetFirmwareVersion(link) != 0 ? kBootLoaderOneZero : 0;
}

bool UsbReadMemory(UsbLink& link, uint16_t address, uint8_t* buffer64) {
  return RequestIn(link, USB_REQ_READ_MEMORY, address, kMcuChunkBytes, buffer64);
}

bool UsbReadSerialNumber(UsbLink& link, uint8_t* buffer21) {
  return RequestIn(link, USB_REQ_GET_SERIAL_NUMBER, 0, kSerialBytes, buffer21);
}

bool UsbEraseFlashPage(UsbLink& link, uint16_t address, uint8_t* reply2) {
  return RequestIn(link, USB_REQ_ERASE_FLASH_PAGE, address, kEraseReplyBytes, reply2);
}

bool UsbWriteFlashChunk(UsbLink& link, uint16_t address, const uint8_t* data64) {
  return RequestOut<kMcuChunkBytes>(link, USB_REQ_WRITE_FLASH, address, data64);
}

bool UsbRestart(UsbLink& link) {
  return RequestIn(link, USB_REQ_RESTART, 0, 0, nullptr);
}

// A failure must not stop the remaining requests: each result is taken before it is combined.
bool UsbWriteMcuFlash(UsbLink& link, const uint8_t* image) {
  bool ok = true;
  for (uint16_t page = 0; page < kMcuPageCount; ++page) {
    const uint16_t pageAddress = page * kMcuPageBytes;
    uint8_t reply[kEraseReplyBytes] = {};
    const bool erased = UsbEraseFlashPage(link, pageAddress, reply);
    ok = ok && erased;
    for (uint16_t chunk = 0; chunk < kMcuChunksPerPage; ++chunk) {
      const uint16_t address = pageAddress + chunk * kMcuChunkBytes;
      const bool written = UsbWriteFlashChunk(link, address, image + address);
      ok = ok && written;
    }
  }
  return ok;
}

bool UsbNandReadSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                      uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3) {
  return NandSetup(link, USB_REQ_NAND_READ_SETUP, selector, pageSize, word1, word2, pageCount,
                   firstPage, word3);
}

bool UsbNandWriteSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                       uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3) {
  return NandSetup(link, USB_REQ_NAND_WRITE_SETUP, selector, pageSize, word1, word2, pageCount,
                   firstPage, word3);
}

// Only the status byte tells; a status request that fails leaves the pre-set 0.
bool UsbNandEraseBlock(UsbLink& link, uint8_t selector, uint16_t blockNumber) {
  const NandEraseRequest request = BuildNandEraseRequest(selector, blockNumber);
  RequestOut<sizeof(NandEraseRequest)>(link, USB_REQ_NAND_ERASE_BLOCK, 0, request.data());
  uint8_t status = 0;
  RequestIn(link, USB_REQ_NAND_ERASE_STATUS, 0, 1, &status);
  return status == 0;
}

// Transport results of the erase, the writes and the read-back are not trusted either way: the
// read-back comparison and the recorder's verdict decide.
bool UsbRewriteNandBootBlock(UsbLink& link, const uint8_t* image) {
  std::vector<uint8_t> block(kNandBlockBytes);
  if (!ReadWholeBootBlock(link, block.data())) return false;
  LayOutBootBlock(block, image);
  UsbNandEraseBlock(link, kNandSelector, kBootBlock);
  WriteBootBlock(link, block);
  const bool whole = ReadBackBootBlock(link, block);
  if (!whole || !std::equal(image, image + kNandBootImageBytes, block.begin())) return false;
  return AskBootBlockVerdict(link);
}

}  // namespace omr72
