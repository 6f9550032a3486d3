#include "updater/recorder_route.h"

#include <algorithm>

#include "scsilink/service_commands.h"

namespace omr72 {

bool UsbRoute::IsPresent() {
  return link_.IsConnected();
}

uint16_t UsbRoute::ReadFirmwareVersion() {
  return UsbGetFirmwareVersion(link_);
}

uint16_t UsbRoute::ReadBootLoaderVersion() {
  return UsbGetBootLoaderVersion(link_);
}

void UsbRoute::ReadSerialNumber(SerialRecordSpan serial) {
  UsbReadSerialNumber(link_, serial);
}

bool UsbRoute::ReadMemory(uint16_t address, MemoryBlockSpan block) {
  return UsbReadMemory(link_, address, block);
}

bool UsbRoute::Restart() {
  return UsbRestart(link_);
}

// The boot loader answers an erase with two bytes that tell nothing more than the result.
bool UsbRoute::ErasePage(uint16_t address) {
  std::array<uint8_t, wire::kEraseReplySize> reply = {};
  return UsbEraseFlashPage(link_, address, reply);
}

bool UsbRoute::WriteChunk(uint16_t address, McuChunk chunk) {
  return UsbWriteFlashChunk(link_, address, chunk);
}

// Boot loaders before 1.0 live in the NAND boot block.
bool UsbRoute::KeepsBootLoaderInNand(uint16_t bootLoaderVersion) const {
  return bootLoaderVersion < wire::kBootLoaderOneZero;
}

bool UsbRoute::RewriteNandBootBlock(NandBootImage image) {
  return UsbRewriteNandBootBlock(link_, image);
}

bool DiskRoute::IsPresent() {
  return link_.IsConnected();
}

uint16_t DiskRoute::ReadFirmwareVersion() {
  return ScsiGetFlashParams(link_) ? FlashParamsFirmwareVersion(link_.flashParams) : 0;
}

uint16_t DiskRoute::ReadBootLoaderVersion() {
  uint16_t version = 0;
  ScsiGetBootLoaderVersion(link_, &version);
  return version;
}

void DiskRoute::ReadSerialNumber(SerialRecordSpan serial) {
  const auto text = FlashParamsSerialNumber(link_.flashParams);
  std::copy(text.begin(), text.end(), serial.begin());
}

bool DiskRoute::ReadMemory(uint16_t address, MemoryBlockSpan block) {
  return ScsiReadMemory(link_, address, block);
}

bool DiskRoute::Restart() {
  return ScsiRestart(link_);
}

bool DiskRoute::ErasePage(uint16_t address) {
  return ScsiEraseFlashPage(link_, address);
}

bool DiskRoute::WriteChunk(uint16_t address, McuChunk chunk) {
  return ScsiWriteFlashChunk(link_, address, chunk);
}

}  // namespace omr72
