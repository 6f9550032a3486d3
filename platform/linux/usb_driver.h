// Linux: the general-purpose USB driver's device objects provided through libusb-1.0.
//
// There is no EZ-USB driver on Linux, so "\\.\ezusb-N" names the N-th device that the driver
// would serve, as its INF file lists them: the vendor:product pairs of kServedUsbDevices (the
// list the udev rules are made from), counted in bus and port-path order so that the numbering
// does not change from one scan to the next while the same devices are plugged in. No other
// device is ever opened. The four driver requests are mapped onto libusb calls with the same
// meaning.
#pragma once

#include <libusb.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/device_change_watch.h"
#include "platform/served_usb_devices.h"
#include "platform/usb_driver.h"
#include "platform/usb_requests.h"

namespace omr72 {

// Where a device sits: its bus and the chain of hub ports from the root hub down.
struct UsbLocation {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;
  auto operator<=>(const UsbLocation&) const = default;
};

struct UsbCandidate {
  UsbLocation location;
  UsbId id;
};

// Indices into `candidates` of the devices whose ids are in `served`, in bus and port-path order.
std::vector<size_t> OrderServedDevices(const std::vector<UsbCandidate>& candidates,
                                       std::span<const UsbId> served = kServedUsbDevices);

// The usbfs node of a device, /dev/bus/usb/BBB/DDD.
std::string UsbfsNode(uint8_t bus, uint8_t address);

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
  std::vector<AccessDenial> TakeAccessDenials() override { return denials_.Take(); }
  // The usbfs node behind the path, for the probe; empty when there is none.
  std::string NodeOf(const char* path);

 private:
  std::shared_ptr<libusb_context> Context(unsigned index);
  void NoteDenial(libusb_device* device);

  std::shared_ptr<libusb_context> context_;
  AccessDenialLog denials_;
  // The devices are listed again only when the USB device nodes may have changed.
  DeviceChangeWatch watch_{{{"/dev/bus/usb", "", true}}};
  size_t listedDevices_ = 0;  // served devices at the last listing
};

}  // namespace omr72
