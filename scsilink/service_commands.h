// The recorder's vendor service commands (opcode 0xC8) and READ(10) over its flash pages, and
// the microcontroller flash writer over them. CDBs are built by pure functions; every
// operation is one ScsiLink::Execute and returns its success.
#pragma once

#include <cstdint>
#include <span>

#include "mcuflash/mcu_flash.h"
#include "scsilink/scsi_link.h"

namespace omr72 {

using SerialField = std::span<const uint8_t, wire::kSerialRecordSize>;

Cdb BuildReadPagesCdb(uint32_t firstPage, uint16_t pageCount);
Cdb BuildWritePagesCdb(uint32_t firstPage, uint16_t pageCount);
Cdb BuildReadPartsOfPagesCdb(uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                             uint16_t pageStep, uint16_t partOffset);
Cdb BuildServiceCdb(uint8_t subCommand);
Cdb BuildServiceAddressCdb(uint8_t subCommand, uint16_t address);

bool ScsiReadPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, ByteSpan buffer);
bool ScsiWritePages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, ConstByteSpan data);
bool ScsiReadPartsOfPages(ScsiLink& link, uint32_t firstPage, uint16_t pageCount, uint16_t partSize,
                          uint16_t pageStep, uint16_t partOffset, ByteSpan buffer);
// Reads the record into link.flashParams and converts its three big-endian fields. A failed
// read leaves the previous copy as it was.
bool ScsiGetFlashParams(ScsiLink& link);
// The two reply bytes land in *version as a little-endian word; untouched on failure.
bool ScsiGetBootLoaderVersion(ScsiLink& link, uint16_t* version);
bool ScsiReadMemory(ScsiLink& link, uint16_t address, MemoryBlockSpan block);
bool ScsiWriteFlashChunk(ScsiLink& link, uint16_t address, McuChunk chunk);
bool ScsiEraseFlashPage(ScsiLink& link, uint16_t address);
bool ScsiWriteSerialNumber(ScsiLink& link, SerialField field);
bool ScsiRestart(ScsiLink& link);
bool ScsiServiceCommand6(ScsiLink& link);
// The microcontroller flash over sub-commands 9 (erase) and 11 (chunk).
using ScsiMcuFlash = LinkMcuFlash<ScsiLink, ScsiEraseFlashPage, ScsiWriteFlashChunk>;

// WriteMcuFlash (mcuflash/mcu_flash.h) over ScsiMcuFlash.
bool ScsiWriteMcuFlash(ScsiLink& link, McuImage image, const ProgressCallback& progress = {});

// Host-order fields of a converted record.
uint16_t FlashParamsPageSize(const FlashParams& params);
uint16_t FlashParamsFirmwareVersion(const FlashParams& params);
std::span<const uint8_t, wire::kSerialTextSize> FlashParamsSerialNumber(const FlashParams& params);

}  // namespace omr72
