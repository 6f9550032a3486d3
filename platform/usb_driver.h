// The general-purpose USB driver's device objects, as seen by the USB link.
//
// Backend contract (every OS file under platform/ implements it):
// - Open(path) opens the device object behind "\\.\ezusb-N" the way CreateFileA does with
//   GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING; nullptr stands for INVALID_HANDLE_VALUE.
//   Destroying the returned UsbDevice closes the handle.
// - Each UsbDevice call is exactly one driver request and returns whether the driver reported
//   success. Nothing is retried, cached or printed. The Do... calls see only requests that
//   passed the public call's check.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/access_denials.h"
#include "platform/data_stage.h"

namespace omr72 {

// Input block of the vendor-or-class request: direction, type, recipient, reserved bits,
// request, reserved, value (LE), index (LE).
using VendorRequestBlock = std::array<uint8_t, 10>;
// Input block of the bulk requests: the pipe index as a little-endian u32.
using BulkPipeBlock = std::array<uint8_t, 4>;

constexpr uint32_t kDeviceDescriptorSize = 18;
constexpr uint32_t kMaxControlDataSize = 0xFFFF;
using DeviceDescriptorSpan = std::span<uint8_t, kDeviceDescriptorSize>;

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  // IOCTL_Ezusb_GET_DEVICE_DESCRIPTOR (0x222004): the 18-byte buffer is input and output.
  virtual bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) = 0;
  // IOCTL_EZUSB_VENDOR_OR_CLASS_REQUEST (0x222059): the data stage is received for an In stage,
  // sent for an Out one. False, with nothing sent, when the block's direction is not the
  // stage's or the stage does not fit a control transfer.
  bool VendorOrClassRequest(const VendorRequestBlock& block, DataStage data) {
    if (block[0] != data.direction() || !data.FitsWithin(kMaxControlDataSize)) return false;
    return DoVendorOrClassRequest(block, data);
  }
  // IOCTL_EZUSB_BULK_READ (0x22204E): at most data.size() bytes; `moved` receives the
  // driver's byte count.
  bool BulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) {
    moved = 0;
    if (!DataStage::In(data).FitsWithin(kBulkLimit)) return false;
    return DoBulkRead(pipe, data, moved);
  }
  // IOCTL_EZUSB_BULK_WRITE (0x222051): the bytes of `data`.
  bool BulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) {
    moved = 0;
    if (!DataStage::Out(data).FitsWithin(kBulkLimit)) return false;
    return DoBulkWrite(pipe, data, moved);
  }

 private:
  static constexpr size_t kBulkLimit = 0x7FFFFFFF;  // what every backend can count
  virtual bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) = 0;
  virtual bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) = 0;
  virtual bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) = 0;
};

class UsbDriver {
 public:
  virtual ~UsbDriver() = default;
  // `path` is the full device path, "\\.\" followed by "ezusb-0" .. "ezusb-8".
  virtual std::unique_ptr<UsbDevice> Open(const char* path) = 0;
  // Nodes that Open met but was not allowed to open, since the last call; none by default.
  virtual std::vector<AccessDenial> TakeAccessDenials() { return {}; }
};

}  // namespace omr72
