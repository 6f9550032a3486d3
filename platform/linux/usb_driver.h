// Linux: the general-purpose USB driver's device objects provided through libusb-1.0.
//
// There is no EZ-USB driver on Linux, so "\\.\ezusb-N" names the N-th vendor-specific USB
// device (first interface of class 0xFF), counted in bus and port-path order so that the
// numbering does not change from one scan to the next while the same devices are plugged in.
// The four driver requests are mapped onto libusb calls with the same meaning.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/device_change_watch.h"
#include "platform/usb_driver.h"

namespace omr72 {

// Where a device sits: its bus and the chain of hub ports from the root hub down.
struct UsbLocation {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;
  auto operator<=>(const UsbLocation&) const = default;
};

struct UsbCandidate {
  UsbLocation location;
  bool vendorSpecific = false;  // config 0, interface 0, altsetting 0 has class 0xFF
};

// The digit N of "\\.\ezusb-N"; nothing for any other path.
std::optional<unsigned> UsbDeviceIndex(const char* path);

// Indices into `candidates` of the vendor-specific devices, in bus and port-path order.
std::vector<size_t> OrderVendorDevices(const std::vector<UsbCandidate>& candidates);

struct ControlSetup {
  uint8_t requestType = 0;  // bmRequestType
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
};

// The setup packet the driver's request block stands for; nothing when the block or the
// data-stage length cannot be expressed as one.
std::optional<ControlSetup> DecodeVendorRequest(const VendorRequestBlock& block, uint32_t length);

struct UsbEndpoint {
  uint8_t address = 0;     // bEndpointAddress; bit 7 set for IN
  uint8_t attributes = 0;  // bmAttributes
};

// The endpoint behind the driver's pipe index (the endpoints of interface 0 in descriptor
// order, counted from 0), provided it points the way the transfer needs and carries bulk or
// interrupt transfers, as the driver's pipes do.
std::optional<UsbEndpoint> PipeEndpoint(const std::vector<UsbEndpoint>& endpoints,
                                        const BulkPipeBlock& pipe, bool in);

// The 18 bytes of a device descriptor as they travel on the bus (multi-byte fields LE).
std::array<uint8_t, kDeviceDescriptorSize> SerializeDeviceDescriptor(
    const libusb_device_descriptor& d);

class LinuxUsbDriver : public UsbDriver {
 public:
  LinuxUsbDriver();
  ~LinuxUsbDriver() override;
  LinuxUsbDriver(const LinuxUsbDriver&) = delete;
  LinuxUsbDriver& operator=(const LinuxUsbDriver&) = delete;

  std::unique_ptr<UsbDevice> Open(const char* path) override;

 private:
  libusb_context* context_ = nullptr;
  // The devices are listed again only when the USB device nodes may have changed.
  DeviceChangeWatch watch_{{{"/dev/bus/usb", "", true}}};
  size_t listedDevices_ = 0;  // vendor-specific devices at the last listing
};

}  // namespace omr72
