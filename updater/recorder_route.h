// The recorder on the route the run found it on: what the update procedure asks of it, with
// one implementation over the boot-loader USB device and one over the USB disk. The
// microcontroller flash requests come with it (McuFlash), so the flash writer runs on either.
#pragma once

#include <cstdint>
#include <span>

#include "mcuflash/mcu_flash.h"
#include "scsilink/scsi_link.h"
#include "usblink/usb_commands.h"
#include "usblink/usb_link.h"

namespace omr72 {

class RecorderRoute : public McuFlash {
 public:
  // Presence test of the recorder on this route.
  virtual bool IsPresent() = 0;
  // The installed firmware's version; 0 when no firmware answers. Asked first.
  virtual uint16_t ReadFirmwareVersion() = 0;
  // The boot loader's version; 0 when no boot loader we can talk to answers.
  virtual uint16_t ReadBootLoaderVersion() = 0;
  // The serial record of a recorder whose firmware answered; the result is not checked.
  virtual void ReadSerialNumber(SerialRecordSpan serial) = 0;
  virtual bool ReadMemory(uint16_t address, MemoryBlockSpan block) = 0;
  virtual bool Restart() = 0;
  // Boot loaders that keep themselves in a NAND boot block are upgraded by rewriting it; only
  // the USB route has such recorders.
  virtual bool KeepsBootLoaderInNand(uint16_t /*bootLoaderVersion*/) const { return false; }
  virtual bool RewriteNandBootBlock(NandBootImage /*image*/) { return false; }
};

class UsbRoute : public RecorderRoute {
 public:
  explicit UsbRoute(UsbLink& link) : link_(link) {}
  bool IsPresent() override;
  uint16_t ReadFirmwareVersion() override;
  uint16_t ReadBootLoaderVersion() override;
  void ReadSerialNumber(SerialRecordSpan serial) override;
  bool ReadMemory(uint16_t address, MemoryBlockSpan block) override;
  bool Restart() override;
  bool ErasePage(uint16_t address) override;
  bool WriteChunk(uint16_t address, McuChunk chunk) override;
  bool KeepsBootLoaderInNand(uint16_t bootLoaderVersion) const override;
  bool RewriteNandBootBlock(NandBootImage image) override;

 private:
  UsbLink& link_;
};

class DiskRoute : public RecorderRoute {
 public:
  explicit DiskRoute(ScsiLink& link) : link_(link) {}
  bool IsPresent() override;
  // Reads the flash-parameter record, which also holds the serial text.
  uint16_t ReadFirmwareVersion() override;
  uint16_t ReadBootLoaderVersion() override;
  // Copies the serial text of the record the firmware version came from; nothing is sent.
  void ReadSerialNumber(SerialRecordSpan serial) override;
  bool ReadMemory(uint16_t address, MemoryBlockSpan block) override;
  bool Restart() override;
  bool ErasePage(uint16_t address) override;
  bool WriteChunk(uint16_t address, McuChunk chunk) override;

 private:
  ScsiLink& link_;
};

}  // namespace omr72
