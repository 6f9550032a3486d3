// The boot-loader USB command set: vendor requests with index 0 and the two boot-loader
// programming routines built from them. Nothing here prints or keeps state.
#pragma once

#include <array>
#include <cstdint>

#include "usblink/usb_link.h"

namespace omr72 {

constexpr uint8_t USB_REQ_READ_MEMORY = 0x20;
constexpr uint8_t USB_REQ_WRITE_FLASH = 0x21;
constexpr uint8_t USB_REQ_ERASE_FLASH_PAGE = 0x22;
constexpr uint8_t USB_REQ_RESTART = 0x23;
constexpr uint8_t USB_REQ_GET_BOOT_LOADER_VERSION = 0x24;
constexpr uint8_t USB_REQ_GET_SERIAL_NUMBER = 0xC1;
constexpr uint8_t USB_REQ_BOOT_BLOCK_VERDICT = 0xC5;
constexpr uint8_t USB_REQ_GET_FIRMWARE_VERSION = 0xC6;
constexpr uint8_t USB_REQ_NAND_ERASE_BLOCK = 0xD1;
constexpr uint8_t USB_REQ_NAND_ERASE_STATUS = 0xD2;
constexpr uint8_t USB_REQ_NAND_READ_SETUP = 0xE0;
constexpr uint8_t USB_REQ_NAND_WRITE_SETUP = 0xE1;

constexpr uint16_t kNandPageSize = 2112;
constexpr uint32_t kNandPagesPerBlock = 64;
constexpr uint32_t kNandBlockBytes = kNandPageSize * kNandPagesPerBlock;  // 135168
constexpr uint32_t kNandBootImageBytes = 15360;

using NandTransferSetup = std::array<uint8_t, 19>;
using NandEraseRequest = std::array<uint8_t, 5>;

NandTransferSetup BuildNandTransferSetup(uint8_t selector, uint16_t pageSize, uint16_t word1,
                                         uint16_t word2, uint32_t pageCount, uint32_t firstPage,
                                         uint16_t word3);
NandEraseRequest BuildNandEraseRequest(uint8_t selector, uint16_t blockNumber);

uint16_t UsbGetFirmwareVersion(UsbLink& link);
uint16_t UsbGetBootLoaderVersion(UsbLink& link);
bool UsbReadMemory(UsbLink& link, uint16_t address, uint8_t* buffer64);
bool UsbReadSerialNumber(UsbLink& link, uint8_t* buffer21);
bool UsbEraseFlashPage(UsbLink& link, uint16_t address, uint8_t* reply2);
bool UsbWriteFlashChunk(UsbLink& link, uint16_t address, const uint8_t* data64);
bool UsbRestart(UsbLink& link);
// Erase and programme pages 0..20 from image bytes 0..10751; all 189 requests always go out.
bool UsbWriteMcuFlash(UsbLink& link, const uint8_t* image);
bool UsbNandReadSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                      uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3);
bool UsbNandWriteSetup(UsbLink& link, uint8_t selector, uint16_t pageSize, uint16_t word1,
                       uint16_t word2, uint32_t pageCount, uint32_t firstPage, uint16_t word3);
bool UsbNandEraseBlock(UsbLink& link, uint8_t selector, uint16_t blockNumber);
// Rewrite NAND block 0 with image bytes 0..15359 from page 1 on, verify, ask the verdict.
// False before anything is erased when the first whole-block read does not deliver all
// 135,168 bytes (page 0 is written back from that read); a read-back page of the image that
// does not come back whole counts as a mismatch.
bool UsbRewriteNandBootBlock(UsbLink& link, const uint8_t* image);

}  // namespace omr72
