#include "scsilink/service_commands.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace omr72 {
namespace {

constexpr uint8_t kSubWritePages = 0x01;
constexpr uint8_t kSubReadPartsOfPages = 0x02;
constexpr uint8_t kSubGetFlashParams = 0x03;
constexpr uint8_t kSubCommand6 = 0x06;
constexpr uint8_t kSubGetBootLoaderVersion = 0x08;
constexpr uint8_t kSubEraseFlashPage = 0x09;
constexpr uint8_t kSubReadMemory = 0x0A;
constexpr uint8_t kSubWriteFlashChunk = 0x0B;
constexpr uint8_t kSubWriteSerialNumber = 0x0C;
constexpr uint8_t kSubRestart = 0x0D;

constexpr uint32_t kMemoryBlockSize = 64;
constexpr uint32_t kBootLoaderVersionSize = 2;
constexpr uint16_t kMcuPageSize = 512;
constexpr uint16_t kMcuChunkSize = 64;
constexpr int kMcuPages = 21;
constexpr int kChunksPerMcuPage = kMcuPageSize / kMcuChunkSize;

constexpr size_t kParamWordOffset = 1;
constexpr size_t kParamShortOffset = 11;
constexpr size_t kPageSizeOffset = 14;
constexpr size_t kSerialOffset = 17;
constexpr size_t kFirmwareVersionOffset = 38;

void PutBe16(Cdb& cdb, size_t at, uint16_t value) {
  cdb[at] = static_cast<uint8_t>(value >> 8);
  cdb[at + 1] = static_cast<uint8_t>(value);
}

void PutBe32(Cdb& cdb, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) cdb[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// Bytes 2-8 are laid out alike in all three page commands.
Cdb BuildPageCdb(uint8_t opcode, uint8_t subCommand, uint32_t firstPage, uint16_t pageCount) {
  Cdb cdb{};
  cdb[0] = opcode;
  cdb[1] = subCommand;
  PutBe32(cdb, 2, firstPage);
  PutBe16(cdb, 7, pageCount);
  return cdb;
}

// The record's multi-byte fields are turned into host order by value, so this is correct
// whatever the byte order of the machine it runs on.
void ConvertBe32InPlace(FlashParams& params, size_t at) {
  const uint32_t value = (uint32_t{params[at]} << 24) | (uint32_t{params[at + 1]} << 16) |
                         (uint32_t{params[at + 2]} << 8) | uint32_t{params[at + 3]};
  std::memcpy(params.data() + at, &value, sizeof value);
}

void ConvertBe16InPlace(FlashParams& params, size_t at) {
  const uint16_t value = static_cast<uint16_t>((params[at] << 8) | params[at + 1]);
  std::memcpy(params.data() + at, &value, sizeof value);
}

bool ExecuteWithoutData(ScsiLink& link, uint8_t dataIn, const Cdb& cdb) {
  return link.Execute(dataIn, cdb, nullptr, 0);
}

}  // namespace

Cdb BuildReadPagesCdb(uint32_t firstPage, uint16_t pageCount) {
  return BuildPageCdb(kRead10Opcode, 0x00, firstPage, pageCount);
}

Cdb BuildWritePagesCdb(uint32_t firstPage, uint16_t pageCount) {
  return BuildPageCdb(kServiceOpcode, kSubWritePages, firstPage, pageCount);
}

Cdb BuildReadPartsOfPagesCdb(uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                             uint16_t pageStep, uint16_t partOffset) {
  Cdb cdb = BuildPageCdb(kServiceOpcode, kSubReadPartsOfPages, firstPage, pageCount);
  PutBe16(cdb, 9, partSize);
  PutBe16(cdb, 11, pageStep);
  PutBe16(cdb, 13, partOffset);
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
  PutBe16(cdb, 2, address);
  return cdb;
}

bool ScsiReadPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint8_t* buffer,
                   uint32_t length) {
  return link.Execute(kDataIn, BuildReadPagesCdb(firstPage, pageCount), buffer, length);
}

bool ScsiWritePages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint8_t* buffer,
                    uint32_t length) {
  return link.Execute(kDataOut, BuildWritePagesCdb(firstPage, pageCount), buffer, length);
}

bool ScsiReadPartsOfPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                          uint16_t pageStep, uint16_t partOffset, uint8_t* buffer,
                          uint32_t length) {
  const Cdb cdb = BuildReadPartsOfPagesCdb(firstPage, pageCount, partSize, pageStep, partOffset);
  return link.Execute(kDataIn, cdb, buffer, length);
}

// The reply goes to a scratch record first: a failed read must not leave a half-overwritten,
// unconverted record behind for the page size of later transfers. The scratch starts zeroed,
// so a short reply yields zeros rather than stale bytes of the previous record.
bool ScsiGetFlashParams(ScsiLink& link) {
  FlashParams reply{};
  if (!link.Execute(kDataIn, BuildServiceCdb(kSubGetFlashParams), reply.data(), kFlashParamsSize))
    return false;
  ConvertBe32InPlace(reply, kParamWordOffset);
  ConvertBe16InPlace(reply, kParamShortOffset);
  ConvertBe16InPlace(reply, kPageSizeOffset);
  link.flashParams = reply;
  return true;
}

bool ScsiGetBootLoaderVersion(ScsiLink& link, uint16_t* version) {
  std::array<uint8_t, kBootLoaderVersionSize> reply{};
  const Cdb cdb = BuildServiceCdb(kSubGetBootLoaderVersion);
  if (!link.Execute(kDataIn, cdb, reply.data(), kBootLoaderVersionSize)) return false;
  *version = static_cast<uint16_t>(reply[0] | (reply[1] << 8));
  return true;
}

bool ScsiReadMemory(ScsiLink& link, uint16_t address, uint8_t* buffer64) {
  const Cdb cdb = BuildServiceAddressCdb(kSubReadMemory, address);
  return link.Execute(kDataIn, cdb, buffer64, kMemoryBlockSize);
}

bool ScsiWriteFlashChunk(ScsiLink& link, uint16_t address, const uint8_t* data64) {
  std::array<uint8_t, kMemoryBlockSize> chunk;
  std::copy_n(data64, chunk.size(), chunk.begin());
  const Cdb cdb = BuildServiceAddressCdb(kSubWriteFlashChunk, address);
  return link.Execute(kDataOut, cdb, chunk.data(), kMemoryBlockSize);
}

bool ScsiEraseFlashPage(ScsiLink& link, uint16_t address) {
  return ExecuteWithoutData(link, kDataIn, BuildServiceAddressCdb(kSubEraseFlashPage, address));
}

bool ScsiWriteSerialNumber(ScsiLink& link, const uint8_t* field21) {
  std::array<uint8_t, kSerialFieldSize> field;
  std::copy_n(field21, field.size(), field.begin());
  const Cdb cdb = BuildServiceCdb(kSubWriteSerialNumber);
  return link.Execute(kDataOut, cdb, field.data(), kSerialFieldSize);
}

bool ScsiRestart(ScsiLink& link) {
  return ExecuteWithoutData(link, kDataIn, BuildServiceCdb(kSubRestart));
}

bool ScsiServiceCommand6(ScsiLink& link) {
  return ExecuteWithoutData(link, kDataOut, BuildServiceCdb(kSubCommand6));
}

// A failed command does not stop the writer: every page still gets its erase and its chunks,
// and the caller learns of the failure from the result.
bool ScsiWriteMcuFlash(ScsiLink& link, const uint8_t* image) {
  bool result = true;
  for (int page = 0; page < kMcuPages; ++page) {
    const uint16_t pageAddress = static_cast<uint16_t>(page * kMcuPageSize);
    result = ScsiEraseFlashPage(link, pageAddress) && result;
    for (int chunk = 0; chunk < kChunksPerMcuPage; ++chunk) {
      const uint16_t address = static_cast<uint16_t>(pageAddress + chunk * kMcuChunkSize);
      result = ScsiWriteFlashChunk(link, address, image + address) && result;
    }
  }
  return result;
}

uint16_t FlashParamsPageSize(const FlashParams& params) {
  uint16_t pageSize;
  std::memcpy(&pageSize, params.data() + kPageSizeOffset, sizeof pageSize);
  return pageSize;
}

uint16_t FlashParamsFirmwareVersion(const FlashParams& params) {
  return static_cast<uint16_t>(params[kFirmwareVersionOffset] |
                               (params[kFirmwareVersionOffset + 1] << 8));
}

const uint8_t* FlashParamsSerialNumber(const FlashParams& params) {
  return params.data() + kSerialOffset;
}

}  // namespace omr72
