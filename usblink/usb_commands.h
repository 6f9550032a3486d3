// The boot-loader USB command set: vendor requests with index 0 and the two boot-loader
// programming routines built from them. Nothing here prints or keeps state.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "mcuflash/mcu_flash.h"
#include "usblink/usb_link.h"

namespace omr72 {

using NandTransferSetup = std::array<uint8_t, wire::kNandSetupSize>;
using NandEraseRequest = std::array<uint8_t, wire::kNandEraseSize>;
using SerialRecordSpan = std::span<uint8_t, wire::kSerialRecordSize>;
using NandBootImage = std::span<const uint8_t, wire::kNandBootImageBytes>;

NandTransferSetup BuildNandTransferSetup(uint8_t selector, uint16_t pageSize, uint16_t word1,
                                         uint16_t word2, uint32_t pageCount, uint32_t firstPage,
                                         uint16_t word3);
NandEraseRequest BuildNandEraseRequest(uint8_t selector, uint16_t blockNumber);

uint16_t UsbGetFirmwareVersion(UsbLink& link);
uint16_t UsbGetBootLoaderVersion(UsbLink& link);
bool UsbReadMemory(UsbLink& link, uint16_t address, MemoryBlockSpan block);
bool UsbReadSerialNumber(UsbLink& link, SerialRecordSpan serial);
bool UsbEraseFlashPage(UsbLink& link, uint16_t address, std::span<uint8_t, 2> reply);
bool UsbWriteFlashChunk(UsbLink& link, uint16_t address, McuChunk chunk);
bool UsbRestart(UsbLink& link);
// The erase for the flash writer: the two reply bytes tell nothing beyond the result.
bool UsbErasePageForWriter(UsbLink& link, uint16_t address);
// The microcontroller flash over the boot loader's requests 0x22 (erase) and 0x21 (chunk).
using UsbMcuFlash = LinkMcuFlash<UsbLink, UsbErasePageForWriter, UsbWriteFlashChunk>;

// WriteMcuFlash (mcuflash/mcu_flash.h) over UsbMcuFlash.
bool UsbWriteMcuFlash(UsbLink& link, McuImage image);
bool UsbNandReadSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                      uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3);
bool UsbNandWriteSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                       uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3);
bool UsbNandEraseBlock(UsbLink& link, uint8_t selector, uint16_t blockNumber);
// Rewrite NAND block 0 with image bytes 0..15359 from page 1 on, verify, ask the verdict.
// False before anything is erased when the first whole-block read does not deliver all
// 135,168 bytes (page 0 is written back from that read); a read-back page of the image that
// does not come back whole counts as a mismatch. `progress` hears of each page written
// (kWrite, 1..64 of 64) and read back (kVerify, 1..63 of 63).
bool UsbRewriteNandBootBlock(UsbLink& link, NandBootImage image,
                             const ProgressCallback& progress = {});

}  // namespace omr72
