// A host with small, recognisable images and the two links over it, for the emulator tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "emulator/emulated_host.h"
#include "emulator/recorder.h"
#include "scsilink/scsi_link.h"
#include "scsilink/service_commands.h"
#include "usblink/usb_commands.h"
#include "usblink/usb_link.h"

namespace omr72::emu {

constexpr uint16_t kImageFirmware = 0x0207;
constexpr uint16_t kImageBootLoader = 0x0103;
constexpr uint16_t kImageOldBootLoader = 0x0009;

// An image whose bytes at versionOffset (0x29F9 firmware, 0x1000 boot loader) carry a version.
inline std::vector<uint8_t> MakeImage(uint8_t seed, uint32_t versionOffset, uint16_t version) {
  std::vector<uint8_t> image(0xFC00);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * seed + seed);
  image[versionOffset] = static_cast<uint8_t>(version);
  image[versionOffset + 1] = static_cast<uint8_t>(version >> 8);
  return image;
}

class EmulatorTest : public ::testing::Test {
 public:
  static RecorderConfig Config(StartRoute route) {
    RecorderConfig config;
    config.route = route;
    return config;
  }
  void Start(RecorderConfig config) {
    images_.firmware = MakeImage(3, 0x29F9, kImageFirmware);
    std::copy_n("R72QX", 5, images_.firmware.begin() + 0x29FB);
    images_.bootLoaders = {MakeImage(5, 0x1000, kImageBootLoader),
                           MakeImage(7, 0x1000, kImageOldBootLoader)};
    host_ = std::make_unique<EmulatedHost>(config, images_);
    usb_ = std::make_unique<UsbLink>(host_->usb());
    usb_->SetDeviceIds(0x10C4, 0x4512);
    scsi_ = std::make_unique<ScsiLink>(host_->scsi());
  }
  EmulatedHost& host() { return *host_; }
  Recorder& recorder() { return host_->recorder(); }
  UsbLink& usb() { return *usb_; }
  ScsiLink& scsi() { return *scsi_; }
  const KnownImages& images() const { return images_; }

  // Scans until the recorder shows on that route; false after `limit` scans.
  bool BackWithin(int limit, Face face = Face::kDisk) {
    for (int i = 0; i < limit; ++i) {
      if (face == Face::kUsb ? usb().IsConnected() : scsi().IsConnected()) return true;
    }
    return false;
  }

 private:
  KnownImages images_;
  std::unique_ptr<EmulatedHost> host_;
  std::unique_ptr<UsbLink> usb_;
  std::unique_ptr<ScsiLink> scsi_;
};

}  // namespace omr72::emu
