// The recorder on the route the run found it on: what the update procedure asks of it, with
// one implementation over the boot-loader USB device and one over the USB disk. Its
// microcontroller flash (page erase, chunk write) is the link's, so the one flash writer runs
// on either.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "mcuflash/mcu_flash.h"
#include "scsilink/scsi_link.h"
#include "usblink/usb_commands.h"
#include "usblink/usb_link.h"

namespace omr72 {

class RecorderRoute {
 public:
  virtual ~RecorderRoute() = default;
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
  virtual McuFlash& Flash() = 0;
  // Boot loaders that keep themselves in a NAND boot block are upgraded by rewriting it; only
  // the USB route has such recorders.
  virtual bool KeepsBootLoaderInNand(uint16_t /*bootLoaderVersion*/) const { return false; }
  virtual bool RewriteNandBootBlock(NandBootImage /*image*/, const ProgressCallback& /*progress*/) {
    return false;
  }
};

// The recorder as the boot-loader USB device, and as a USB disk.
std::unique_ptr<RecorderRoute> MakeUsbRoute(UsbLink& link);
std::unique_ptr<RecorderRoute> MakeDiskRoute(ScsiLink& link);

}  // namespace omr72
