// Devices on the emulated host that are not the recorder: a USB device with other ids and a
// plain disk. They keep a log of everything that reaches them, so that tests can prove that
// the program never sent them anything but the presence tests.
#pragma once

#include <array>
#include <cstdint>

#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72::emu {

constexpr uint16_t kForeignVendorId = 0x0781;
constexpr uint16_t kForeignProductId = 0x5567;

struct ForeignDiskEntry {
  Cdb cdb{};
  uint8_t dataIn = kDataIn;
  uint32_t length = 0;
};

enum class ForeignUsbRequest { kDescriptor, kVendor, kBulkRead, kBulkWrite };

struct ForeignUsbEntry {
  ForeignUsbRequest kind = ForeignUsbRequest::kDescriptor;
  VendorRequestBlock block{};  // kVendor only
  uint32_t pipe = 0;           // the bulk requests only
  uint32_t length = 0;
};

// A generic hard disk's standard INQUIRY data: nothing like the recorder's.
using ForeignInquiry = std::array<uint8_t, 36>;
ForeignInquiry BuildForeignInquiry();

}  // namespace omr72::emu
