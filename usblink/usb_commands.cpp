#include "usblink/usb_commands.h"

#include <algorithm>
#include <vector>

namespace omr72 {
namespace {

using namespace wire;

constexpr uint16_t kRequestIndex = 0;

// The boot block is always addressed with these set-up values.
constexpr uint8_t kNandSelector = 0;
constexpr uint16_t kNandSetupWord1 = 1;
constexpr uint16_t kNandSetupWord2 = 1;
constexpr uint16_t kNandSetupWord3 = 0;
constexpr uint16_t kBootBlock = 0;
// Pages 1..8 of the block hold the image; only their read-back is compared.
constexpr uint32_t kImagePages = (kNandBootImageBytes + kNandPageSize - 1) / kNandPageSize;

bool RequestIn(UsbLink& link, uint8_t request, uint16_t value, ByteSpan reply) {
  return link.VendorRequest(request, value, kRequestIndex, DataStage::In(reply));
}

bool RequestOut(UsbLink& link, uint8_t request, uint16_t value, ConstByteSpan data) {
  return link.VendorRequest(request, value, kRequestIndex, DataStage::Out(data));
}

uint16_t ReadVersion(UsbLink& link, uint8_t request, bool* answered) {
  std::array<uint8_t, kVersionReplySize> reply = {};
  *answered = RequestIn(link, request, 0, reply);
  if (!*answered) return 0;
  return LoadLe16(reply);
}

bool NandSetup(UsbLink& link, uint8_t request, uint8_t selector, uint16_t pageSize, uint16_t word1,
               uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3) {
  const NandTransferSetup setup =
      BuildNandTransferSetup(selector, pageSize, word1, word2, pageCount, firstPage, word3);
  return RequestOut(link, request, 0, setup);
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
bool ReadWholeBootBlock(UsbLink& link, ByteSpan block) {
  if (!BootBlockReadSetup(link, kNandPagesPerBlock, 0)) return false;
  uint32_t moved = 0;
  link.BulkRead(block, &moved);
  return moved == kNandBlockBytes;
}

// Page 0 keeps what the recorder had; the image starts at page 1 and runs on across page
// boundaries; everything after it is erased flash.
void LayOutBootBlock(std::vector<uint8_t>& block, NandBootImage image) {
  std::fill(block.begin() + kNandPageSize, block.end(), 0xFF);
  std::copy(image.begin(), image.end(), block.begin() + kNandPageSize);
}

void WriteBootBlock(UsbLink& link, const std::vector<uint8_t>& block,
                    const ProgressCallback& progress) {
  for (uint32_t page = 0; page < kNandPagesPerBlock; ++page) {
    BootBlockWriteSetup(link, page);
    link.BulkWrite(ConstByteSpan(block).subspan(page * kNandPageSize, kNandPageSize));
    if (progress) progress(ProgressStage::kWrite, page + 1, kNandPagesPerBlock);
  }
}

// Pages 1..63 come back one page lower, so the image is compared from offset 0. A compared
// page that did not come back whole would leave the bytes we wrote in its place, and those can
// equal the image where it repeats itself (erased padding), so it counts as a mismatch.
bool ReadBackBootBlock(UsbLink& link, std::vector<uint8_t>& block,
                       const ProgressCallback& progress) {
  bool whole = true;
  for (uint32_t page = 1; page < kNandPagesPerBlock; ++page) {
    const bool setUp = BootBlockReadSetup(link, 1, page);
    uint32_t moved = 0;
    link.BulkRead(ByteSpan(block).subspan((page - 1) * kNandPageSize, kNandPageSize), &moved);
    if (page <= kImagePages && (!setUp || moved != kNandPageSize)) whole = false;
    if (progress) progress(ProgressStage::kVerify, page, kNandPagesPerBlock - 1);
  }
  return whole;
}

// The recorder has the last word; a verdict request that fails leaves the pre-set 1.
bool AskBootBlockVerdict(UsbLink& link) {
  std::array<uint8_t, 1> verdict = {1};
  RequestIn(link, kUsbReqBootBlockVerdict, 0, verdict);
  return verdict[0] != 0;
}

}  // namespace

NandTransferSetup BuildNandTransferSetup(uint8_t selector, uint16_t pageSize, uint16_t word1,
                                         uint16_t word2, uint32_t pageCount, uint32_t firstPage,
                                         uint16_t word3) {
  NandTransferSetup setup{};
  setup[0] = selector;
  StoreBe16(setup, 1, pageSize);
  StoreBe16(setup, 3, word1);
  StoreBe16(setup, 5, 0);
  StoreBe16(setup, 7, word2);
  StoreBe32(setup, 9, pageCount);
  StoreBe32(setup, 13, firstPage);
  StoreBe16(setup, 17, word3);
  return setup;
}

NandEraseRequest BuildNandEraseRequest(uint8_t selector, uint16_t blockNumber) {
  NandEraseRequest request{};
  request[0] = selector;
  StoreBe32(request, 1, static_cast<uint32_t>(blockNumber) * kNandPagesPerBlock);
  return request;
}

uint16_t UsbGetFirmwareVersion(UsbLink& link) {
  bool answered = false;
  return ReadVersion(link, kUsbReqGetFirmwareVersion, &answered);
}

// Boot loaders before 1.0 do not know 0x24; a recorder whose firmware still answers counts as
// 1.0, one that answers neither has no boot loader we can talk to.
uint16_t UsbGetBootLoaderVersion(UsbLink& link) {
  bool answered = false;
  const uint16_t version = ReadVersion(link, kUsbReqGetBootLoaderVersion, &answered);
  if (answered) return version;
  return UsbGetFirmwareVersion(link) != 0 ? kBootLoaderOneZero : 0;
}

bool UsbReadMemory(UsbLink& link, uint16_t address, MemoryBlockSpan block) {
  return RequestIn(link, kUsbReqReadMemory, address, block);
}

bool UsbReadSerialNumber(UsbLink& link, SerialRecordSpan serial) {
  return RequestIn(link, kUsbReqGetSerialNumber, 0, serial);
}

bool UsbEraseFlashPage(UsbLink& link, uint16_t address, std::span<uint8_t, 2> reply) {
  return RequestIn(link, kUsbReqEraseFlashPage, address, reply);
}

bool UsbWriteFlashChunk(UsbLink& link, uint16_t address, McuChunk chunk) {
  return RequestOut(link, kUsbReqWriteFlash, address, chunk);
}

bool UsbRestart(UsbLink& link) {
  return RequestIn(link, kUsbReqRestart, 0, {});
}

bool UsbErasePageForWriter(UsbLink& link, uint16_t address) {
  std::array<uint8_t, kEraseReplySize> reply = {};
  return UsbEraseFlashPage(link, address, reply);
}

bool UsbWriteMcuFlash(UsbLink& link, McuImage image) {
  UsbMcuFlash flash(link);
  return WriteMcuFlash(flash, image);
}

bool UsbNandReadSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                      uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3) {
  return NandSetup(link, kUsbReqNandReadSetup, selector, pageSize, word1, word2, pageCount,
                   firstPage, word3);
}

bool UsbNandWriteSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                       uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3) {
  return NandSetup(link, kUsbReqNandWriteSetup, selector, pageSize, word1, word2, pageCount,
                   firstPage, word3);
}

// Only the status byte tells; a status request that fails leaves the pre-set 0.
bool UsbNandEraseBlock(UsbLink& link, uint8_t selector, uint16_t blockNumber) {
  const NandEraseRequest request = BuildNandEraseRequest(selector, blockNumber);
  RequestOut(link, kUsbReqNandEraseBlock, 0, request);
  std::array<uint8_t, 1> status = {0};
  RequestIn(link, kUsbReqNandEraseStatus, 0, status);
  return status[0] == 0;
}

// Transport results of the erase, the writes and the read-back are not trusted either way: the
// read-back comparison and the recorder's verdict decide.
bool UsbRewriteNandBootBlock(UsbLink& link, NandBootImage image, const ProgressCallback& progress) {
  std::vector<uint8_t> block(kNandBlockBytes);
  if (!ReadWholeBootBlock(link, block)) return false;
  LayOutBootBlock(block, image);
  UsbNandEraseBlock(link, kNandSelector, kBootBlock);
  WriteBootBlock(link, block, progress);
  const bool whole = ReadBackBootBlock(link, block, progress);
  if (!whole || !std::equal(image.begin(), image.end(), block.begin())) return false;
  return AskBootBlockVerdict(link);
}

}  // namespace omr72
