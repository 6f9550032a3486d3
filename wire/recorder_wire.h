// What travels between the host and the recorder: ids, request codes, service sub-commands,
// addresses and sizes. Values only; the links build their requests from these and the
// emulated recorder answers from the same names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace omr72::wire {

// --- The boot-loader USB device --------------------------------------------------------------
inline constexpr uint16_t kRecorderVendorId = 0x10C4;
inline constexpr uint16_t kRecorderProductId = 0x4512;

// Direction bytes of the driver's request blocks (and of SCSI pass-through).
inline constexpr uint8_t kDirectionOut = 0;  // host to device
inline constexpr uint8_t kDirectionIn = 1;   // device to host
inline constexpr uint8_t kRequestTypeVendor = 2;
inline constexpr uint8_t kRecipientDevice = 0;
inline constexpr uint8_t kUsbReadPipe = 2;
inline constexpr uint8_t kUsbWritePipe = 1;
inline constexpr uint32_t kUsbMaxBulkTransfer = 16384;

// Vendor requests of the boot loader; all carry index 0.
inline constexpr uint8_t kUsbReqReadMemory = 0x20;
inline constexpr uint8_t kUsbReqWriteFlash = 0x21;
inline constexpr uint8_t kUsbReqEraseFlashPage = 0x22;
inline constexpr uint8_t kUsbReqRestart = 0x23;
inline constexpr uint8_t kUsbReqGetBootLoaderVersion = 0x24;
inline constexpr uint8_t kUsbReqGetSerialNumber = 0xC1;
inline constexpr uint8_t kUsbReqBootBlockVerdict = 0xC5;
inline constexpr uint8_t kUsbReqGetFirmwareVersion = 0xC6;
inline constexpr uint8_t kUsbReqNandEraseBlock = 0xD1;
inline constexpr uint8_t kUsbReqNandEraseStatus = 0xD2;
inline constexpr uint8_t kUsbReqNandReadSetup = 0xE0;
inline constexpr uint8_t kUsbReqNandWriteSetup = 0xE1;

inline constexpr uint16_t kVersionReplySize = 2;
inline constexpr uint16_t kEraseReplySize = 2;

// The NAND boot block of boot loaders before 1.0.
inline constexpr uint16_t kNandPageSize = 2112;
inline constexpr uint32_t kNandPagesPerBlock = 64;
inline constexpr uint32_t kNandBlockBytes = kNandPageSize * kNandPagesPerBlock;  // 135168
inline constexpr uint32_t kNandBootImageBytes = 15360;
inline constexpr uint16_t kNandSetupSize = 19;
inline constexpr uint16_t kNandEraseSize = 5;

// --- The disk face: SCSI commands ---------------------------------------------------------------
inline constexpr uint8_t kInquiryOpcode = 0x12;
inline constexpr uint8_t kRead10Opcode = 0x28;
inline constexpr uint8_t kServiceOpcode = 0xC8;

// Service sub-commands (byte 1 of an 0xC8 CDB).
inline constexpr uint8_t kSubWritePages = 0x01;
inline constexpr uint8_t kSubReadPartsOfPages = 0x02;
inline constexpr uint8_t kSubGetFlashParams = 0x03;
inline constexpr uint8_t kSubCommand6 = 0x06;
inline constexpr uint8_t kSubGetBootLoaderVersion = 0x08;
inline constexpr uint8_t kSubEraseFlashPage = 0x09;
inline constexpr uint8_t kSubReadMemory = 0x0A;
inline constexpr uint8_t kSubWriteFlashChunk = 0x0B;
inline constexpr uint8_t kSubWriteSerialNumber = 0x0C;
inline constexpr uint8_t kSubRestart = 0x0D;

inline constexpr uint8_t kGoodStatus = 0;
inline constexpr uint32_t kScsiTimeoutSeconds = 2;
inline constexpr uint32_t kInquiryReplySize = 2048;

// The first 36 bytes of the recorder's INQUIRY data.
using InquiryData = std::array<uint8_t, 36>;
inline constexpr InquiryData kInquiryTemplate = {
    0x00, 0x80, 0x05, 0x02, 0x20, 0x00, 0x80, 0x00,                          // header
    'C',  'o',  'o',  'l',  ' ',  0x00, ' ',  ' ',                           // vendor
    'M',  'a',  's',  's',  ' ',  'S',  't',  'o',                           // product
    'r',  'a',  'g',  'e',  ' ',  0x00, ' ',  ' ',  0x00, 0x00, 0x00, 0x01,  // revision
};

// The flash-parameter record of sub-command 3: big-endian u32 at 1, u16 at 11, the page size
// (u16) at 14, the serial text at 17, the firmware version (minor, major) at 38.
inline constexpr uint32_t kFlashParamsSize = 40;
inline constexpr size_t kParamWordOffset = 1;
inline constexpr size_t kParamShortOffset = 11;
inline constexpr size_t kParamPageSizeOffset = 14;
inline constexpr size_t kParamSerialOffset = 17;
inline constexpr size_t kParamFirmwareVersionOffset = 38;

// --- The microcontroller flash, the same on both routes ----------------------------------------
inline constexpr uint16_t kMcuChunkSize = 64;  // one memory read or one programmed chunk
inline constexpr uint16_t kMcuPageSize = 512;  // one erase
inline constexpr uint16_t kMcuPageCount = 21;  // pages 0..20 hold what the updater writes
inline constexpr uint16_t kMcuChunksPerPage = kMcuPageSize / kMcuChunkSize;

inline constexpr uint16_t kSerialAddress = 0xDE00;
inline constexpr uint16_t kDeviceInfoAddress = 0x29F9;      // firmware version, then the model tag
inline constexpr uint16_t kBootLoaderPageAddress = 0x0200;  // erased: the boot loader stays
inline constexpr uint16_t kSerialRecordSize = 21;           // the text and its terminator
inline constexpr uint16_t kSerialTextSize = 20;

// Versions are major << 8 | minor.
inline constexpr uint16_t kBootLoaderOneZero = 0x0100;

}  // namespace omr72::wire
