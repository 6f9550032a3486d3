// The host's EZ-USB device objects ezusb-0..8: the recorder's boot-loader interface where it
// sits, foreign USB devices where configured, nothing elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "emulator/host_context.h"
#include "platform/usb_driver.h"
#include "wire/recorder_wire.h"

namespace omr72::emu {

constexpr uint16_t kRecorderUsbVendorId = wire::kRecorderVendorId;
constexpr uint16_t kRecorderUsbProductId = wire::kRecorderProductId;
constexpr uint32_t kMaxBulkBytes = wire::kUsbMaxBulkTransfer;

using DeviceDescriptor = std::array<uint8_t, kDeviceDescriptorSize>;

// A standard USB device descriptor with the given ids (little-endian at offsets 8 and 10).
DeviceDescriptor BuildDeviceDescriptor(uint16_t vendorId, uint16_t productId);
// N of "\\.\ezusb-N" for N = 0..8, -1 for any other path.
int ParseUsbSlot(const char* path);

// The boot loader's request table: direction and data length that each request must carry.
struct VendorCommand {
  uint8_t request;
  uint8_t direction;
  uint16_t length;
};
const VendorCommand* FindVendorCommand(uint8_t request);

class EmulatedUsbDriver : public UsbDriver {
 public:
  explicit EmulatedUsbDriver(HostContext& host) : host_(host) {}
  std::unique_ptr<UsbDevice> Open(const char* path) override;

 private:
  HostContext& host_;
};

}  // namespace omr72::emu
