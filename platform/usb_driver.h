// The general-purpose USB driver's device objects, as seen by the USB link.
//
// Backend contract (every OS file under platform/ implements it):
// - Open(path) opens the device object behind "\\.\ezusb-N" the way CreateFileA does with
//   GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING; nullptr stands for INVALID_HANDLE_VALUE.
//   Destroying the returned UsbDevice closes the handle.
// - Each UsbDevice call is exactly one driver request and returns whether the driver reported
//   success. Nothing is retried, cached or printed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/access_denials.h"

namespace omr72 {

// Input block of the vendor-or-class request: direction, type, recipient, reserved bits,
// request, reserved, value (LE), index (LE).
using VendorRequestBlock = std::array<uint8_t, 10>;
// Input block of the bulk requests: the pipe index as a little-endian u32.
using BulkPipeBlock = std::array<uint8_t, 4>;

constexpr uint32_t kDeviceDescriptorSize = 18;

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  // IOCTL_Ezusb_GET_DEVICE_DESCRIPTOR (0x222004): the 18-byte buffer is input and output.
  virtual bool GetDeviceDescriptor(uint8_t* descriptor) = 0;
  // IOCTL_EZUSB_VENDOR_OR_CLASS_REQUEST (0x222059): the data stage is `length` bytes at `data`
  // (sent for direction 0, received for direction 1); length 0 with data == nullptr has none.
  virtual bool VendorOrClassRequest(const VendorRequestBlock& block, uint8_t* data,
                                    uint32_t length) = 0;
  // IOCTL_EZUSB_BULK_READ (0x22204E): at most `length` bytes into `data`; `moved` receives the
  // driver's byte count.
  virtual bool BulkRead(const BulkPipeBlock& pipe, uint8_t* data, uint32_t length,
                        uint32_t& moved) = 0;
  // IOCTL_EZUSB_BULK_WRITE (0x222051): `length` bytes from `data`.
  virtual bool BulkWrite(const BulkPipeBlock& pipe, const uint8_t* data, uint32_t length,
                         uint32_t& moved) = 0;
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
