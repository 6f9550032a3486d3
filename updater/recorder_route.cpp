#include "updater/recorder_route.h"

#include <algorithm>

#include "scsilink/service_commands.h"

namespace omr72 {
namespace {

class UsbRoute : public RecorderRoute {
 public:
  explicit UsbRoute(UsbLink& link) : link_(link) {}

  bool IsPresent() override { return link_.IsConnected(); }
  uint16_t ReadFirmwareVersion() override { return UsbGetFirmwareVersion(link_); }
  uint16_t ReadBootLoaderVersion() override { return UsbGetBootLoaderVersion(link_); }
  void ReadSerialNumber(SerialRecordSpan serial) override { UsbReadSerialNumber(link_, serial); }
  bool ReadMemory(uint16_t address, MemoryBlockSpan block) override {
    return UsbReadMemory(link_, address, block);
  }
  bool Restart() override { return UsbRestart(link_); }
  McuFlash& Flash() override { return flash_; }
  // Boot loaders before 1.0 live in the NAND boot block.
  bool KeepsBootLoaderInNand(uint16_t bootLoaderVersion) const override {
    return bootLoaderVersion < wire::kBootLoaderOneZero;
  }
  bool RewriteNandBootBlock(NandBootImage image, const ProgressCallback& progress) override {
    return UsbRewriteNandBootBlock(link_, image, progress);
  }

 private:
  UsbLink& link_;
  UsbMcuFlash flash_{link_};
};

// The firmware version comes from the flash-parameter record, which also holds the serial
// text: the serial is copied from the record read last, and nothing is sent for it.
class DiskRoute : public RecorderRoute {
 public:
  explicit DiskRoute(ScsiLink& link) : link_(link) {}

  bool IsPresent() override { return link_.IsConnected(); }
  uint16_t ReadFirmwareVersion() override {
    return ScsiGetFlashParams(link_) ? FlashParamsFirmwareVersion(link_.flashParams) : 0;
  }
  uint16_t ReadBootLoaderVersion() override {
    uint16_t version = 0;
    ScsiGetBootLoaderVersion(link_, &version);
    return version;
  }
  void ReadSerialNumber(SerialRecordSpan serial) override {
    const auto text = FlashParamsSerialNumber(link_.flashParams);
    std::copy(text.begin(), text.end(), serial.begin());
  }
  bool ReadMemory(uint16_t address, MemoryBlockSpan block) override {
    return ScsiReadMemory(link_, address, block);
  }
  bool Restart() override { return ScsiRestart(link_); }
  McuFlash& Flash() override { return flash_; }

 private:
  ScsiLink& link_;
  ScsiMcuFlash flash_{link_};
};

}  // namespace

std::unique_ptr<RecorderRoute> MakeUsbRoute(UsbLink& link) {
  return std::make_unique<UsbRoute>(link);
}

std::unique_ptr<RecorderRoute> MakeDiskRoute(ScsiLink& link) {
  return std::make_unique<DiskRoute>(link);
}

}  // namespace omr72
