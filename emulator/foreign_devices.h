// Devices on the emulated host that are not the recorder: a USB device with other ids and a
// plain disk. They keep a log of what reaches them, so that tests can prove that the program
// never sent them anything but the presence tests; the log stays bounded however long the
// program polls (docs/RECORDER_MODEL.md, "Foreign devices").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72::emu {

constexpr uint16_t kForeignVendorId = 0x0781;
constexpr uint16_t kForeignProductId = 0x5567;

struct ForeignDiskEntry {
  Cdb cdb{};
  uint8_t dataIn = kDataIn;
  uint32_t length = 0;
  bool operator==(const ForeignDiskEntry&) const = default;
};

enum class ForeignUsbRequest { kDescriptor, kVendor, kBulkRead, kBulkWrite };

struct ForeignUsbEntry {
  ForeignUsbRequest kind = ForeignUsbRequest::kDescriptor;
  VendorRequestBlock block{};  // kVendor only
  uint32_t pipe = 0;           // the bulk requests only
  uint32_t length = 0;
  bool operator==(const ForeignUsbEntry&) const = default;
};

constexpr size_t kForeignLogLimit = 1024;

// Presence requests (INQUIRY, the device descriptor) are counted, and logged only when the
// entry before differs, so a wait of any length adds nothing; everything else is logged up to
// kForeignLogLimit entries and only counted after that.
template <typename Entry>
struct ForeignLog {
  std::vector<Entry> entries;
  uint64_t presenceRequests = 0;
  uint64_t unlogged = 0;

  void Add(const Entry& entry, bool presence) {
    if (presence) {
      ++presenceRequests;
      if (!entries.empty() && entries.back() == entry) return;
    }
    if (entries.size() >= kForeignLogLimit) {
      ++unlogged;
      return;
    }
    entries.push_back(entry);
  }
};

// A generic hard disk's standard INQUIRY data: nothing like the recorder's.
using ForeignInquiry = std::array<uint8_t, 36>;
ForeignInquiry BuildForeignInquiry();

}  // namespace omr72::emu
