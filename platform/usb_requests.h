// What the general-purpose driver's requests mean in USB terms, for the backends that have to
// issue them without that driver (libusb on Linux, WinUSB on Windows): which name is which
// device, the setup packet a request block stands for, and the endpoint behind a pipe index.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/usb_driver.h"

namespace omr72 {

// The digit N of "\\.\ezusb-N"; nothing for any other path.
std::optional<unsigned> UsbDeviceIndex(const char* path);

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
  uint8_t attributes = 0;  // bmAttributes; the low two bits are the transfer type
};

// The endpoint behind the driver's pipe index (the endpoints of interface 0 in descriptor
// order, counted from 0), provided it points the way the transfer needs and carries bulk or
// interrupt transfers, as the driver's pipes do.
std::optional<UsbEndpoint> PipeEndpoint(const std::vector<UsbEndpoint>& endpoints,
                                        const BulkPipeBlock& pipe, bool in);

}  // namespace omr72
