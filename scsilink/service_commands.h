// The recorder's vendor service commands (opcode 0xC8) and READ(10) over its flash pages, and
// the microcontroller flash writer built from them. CDBs are built by pure functions; every
// operation is one ScsiLink::Execute and returns its success.
#pragma once

#include <cstdint>

#include "scsilink/scsi_link.h"

namespace omr72 {

constexpr uint8_t kServiceOpcode = 0xC8;
constexpr uint8_t kRead10Opcode = 0x28;
constexpr uint32_t kSerialFieldSize = 21;

Cdb BuildReadPagesCdb(uint32_t firstPage, uint16_t pageCount);
Cdb BuildWritePagesCdb(uint32_t firstPage, uint16_t pageCount);
Cdb BuildReadPartsOfPagesCdb(uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                             uint16_t pageStep, uint16_t partOffset);
Cdb BuildServiceCdb(uint8_t subCommand);
Cdb BuildServiceAddressCdb(uint8_t subCommand, uint16_t address);

bool ScsiReadPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint8_t* buffer,
                   uint32_t length);
bool ScsiWritePages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint8_t* buffer,
                    uint32_t length);
bool ScsiReadPartsOfPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                          uint16_t pageStep, uint16_t partOffset, uint8_t* buffer, uint32_t length);
// Reads the record into link.flashParams and converts its three big-endian fields. A failed
// read leaves the previous copy as it was.
bool ScsiGetFlashParams(ScsiLink& link);
// The two reply bytes land in *version as a little-endian word; untouched on failure.
bool ScsiGetBootLoaderVersion(ScsiLink& link, uint16_t* version);
bool ScsiReadMemory(ScsiLink& link, uint16_t address, uint8_t* buffer64);
bool ScsiWriteFlashChunk(ScsiLink& link, uint16_t address, const uint8_t* data64);
bool ScsiEraseFlashPage(ScsiLink& link, uint16_t address);
bool ScsiWriteSerialNumber(ScsiLink& link, const uint8_t* field21);
bool ScsiRestart(ScsiLink& link);
bool ScsiServiceCommand6(ScsiLink& link);
// Erase and programme pages 0..20 from image bytes 0..10751; all 189 commands always go out.
bool ScsiWriteMcuFlash(ScsiLink& link, const uint8_t* image);

// Host-order fields of a converted record.
uint16_t FlashParamsPageSize(const FlashParams& params);
uint16_t FlashParamsFirmwareVersion(const FlashParams& params);
const uint8_t* FlashParamsSerialNumber(const FlashParams& params);  // 20 bytes

}  // namespace omr72
