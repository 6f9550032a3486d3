#include "scsilink/service_commands.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace omr72 {
namespace {

using namespace wire;

constexpr uint8_t kRead10Flags = 0x00;

// Bytes 2-8 are laid out alike in all three page commands.
Cdb BuildPageCdb(uint8_t opcode, uint8_t subCommand, uint32_t firstPage, uint16_t pageCount) {
  Cdb cdb{};
  cdb[0] = opcode;
  cdb[1] = subCommand;
  StoreBe32(cdb, 2, firstPage);
  StoreBe16(cdb, 7, pageCount);
  return cdb;
}

// The record's multi-byte fields are turned into host order by value, so this is correct
// whatever the byte order of the machine it runs on.
void ConvertBe32InPlace(FlashParams& params, size_t at) {
  const uint32_t value = LoadBe32(params, at);
  std::memcpy(params.data() + at, &value, sizeof value);
}

void ConvertBe16InPlace(FlashParams& params, size_t at) {
  const uint16_t value = LoadBe16(params, at);
  std::memcpy(params.data() + at, &value, sizeof value);
}

// Commands without data still name their direction on the wire.
bool ExecuteInWithoutData(ScsiLink& link, const Cdb& cdb) {
  return link.Execute(cdb, DataStage::In({}));
}

}  // namespace

Cdb BuildReadPagesCdb(uint32_t firstPage, uint16_t pageCount) {
  return BuildPageCdb(kRead10Opcode, kRead10Flags, firstPage, pageCount);
}

Cdb BuildWritePagesCdb(uint32_t firstPage, uint16_t pageCount) {
  return BuildPageCdb(kServiceOpcode, kSubWritePages, firstPage, pageCount);
}

Cdb BuildReadPartsOfPagesCdb(uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                             uint16_t pageStep, uint16_t partOffset) {
  Cdb cdb = BuildPageCdb(kServiceOpcode, kSubReadPartsOfPages, firstPage, pageCount);
  StoreBe16(cdb, 9, partSize);
  StoreBe16(cdb, 11, pageStep);
  StoreBe16(cdb, 13, partOffset);
  return cdb;
}

Cdb BuildServiceCdb(uint8_t subCommand) {
  Cdb cdb{};
  cdb[0] = kServiceOpcode;
  cdb[1] = subCommand;
  return cdb;
}

Cdb BuildServiceAddressCdb(uint8_t subCommand, uint16_t address) {
  Cdb cdb = BuildServiceCdb(subCommand);
  StoreBe16(cdb, 2, address);
  return cdb;
}

bool ScsiReadPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, ByteSpan buffer) {
  return link.Execute(BuildReadPagesCdb(firstPage, pageCount), DataStage::In(buffer));
}

bool ScsiWritePages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, ConstByteSpan data) {
  return link.Execute(BuildWritePagesCdb(firstPage, pageCount), DataStage::Out(data));
}

bool ScsiReadPartsOfPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                          uint16_t pageStep, uint16_t partOffset, ByteSpan buffer) {
  const Cdb cdb = BuildReadPartsOfPagesCdb(firstPage, pageCount, partSize, pageStep, partOffset);
  return link.Execute(cdb, DataStage::In(buffer));
}

// The reply goes to a scratch record first: a failed read must not leave a half-overwritten,
// unconverted record behind for the page size of later transfers. The scratch starts zeroed,
// so a short reply yields zeros rather than stale bytes of the previous record.
bool ScsiGetFlashParams(ScsiLink& link) {
  FlashParams reply{};
  if (!link.Execute(BuildServiceCdb(kSubGetFlashParams), DataStage::In(reply))) return false;
  ConvertBe32InPlace(reply, kParamWordOffset);
  ConvertBe16InPlace(reply, kParamShortOffset);
  ConvertBe16InPlace(reply, kParamPageSizeOffset);
  link.flashParams = reply;
  return true;
}

bool ScsiGetBootLoaderVersion(ScsiLink& link, uint16_t* version) {
  std::array<uint8_t, kVersionReplySize> reply{};
  const Cdb cdb = BuildServiceCdb(kSubGetBootLoaderVersion);
  if (!link.Execute(cdb, DataStage::In(reply))) return false;
  *version = LoadLe16(reply);
  return true;
}

bool ScsiReadMemory(ScsiLink& link, uint16_t address, MemoryBlockSpan block) {
  return link.Execute(BuildServiceAddressCdb(kSubReadMemory, address), DataStage::In(block));
}

bool ScsiWriteFlashChunk(ScsiLink& link, uint16_t address, McuChunk chunk) {
  return link.Execute(BuildServiceAddressCdb(kSubWriteFlashChunk, address), DataStage::Out(chunk));
}

bool ScsiEraseFlashPage(ScsiLink& link, uint16_t address) {
  return ExecuteInWithoutData(link, BuildServiceAddressCdb(kSubEraseFlashPage, address));
}

bool ScsiWriteSerialNumber(ScsiLink& link, SerialField field) {
  return link.Execute(BuildServiceCdb(kSubWriteSerialNumber), DataStage::Out(field));
}

bool ScsiRestart(ScsiLink& link) {
  return ExecuteInWithoutData(link, BuildServiceCdb(kSubRestart));
}

bool ScsiServiceCommand6(ScsiLink& link) {
  return link.Execute(BuildServiceCdb(kSubCommand6), DataStage::Out({}));
}

bool ScsiWriteMcuFlash(ScsiLink& link, McuImage image, const ProgressCallback& progress) {
  ScsiMcuFlash flash(link);
  return WriteMcuFlash(flash, image, progress);
}

uint16_t FlashParamsPageSize(const FlashParams& params) {
  uint16_t pageSize;
  std::memcpy(&pageSize, params.data() + kParamPageSizeOffset, sizeof pageSize);
  return pageSize;
}

uint16_t FlashParamsFirmwareVersion(const FlashParams& params) {
  return LoadLe16(params, kParamFirmwareVersionOffset);
}

std::span<const uint8_t, kSerialTextSize> FlashParamsSerialNumber(const FlashParams& params) {
  return std::span<const uint8_t, kSerialTextSize>(params.data() + kParamSerialOffset,
                                                   kSerialTextSize);
}

}  // namespace omr72
