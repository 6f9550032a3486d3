#include "usblink/usb_link.h"

#include <cstring>
#include <string>

namespace omr72 {
namespace {

constexpr char kPathPrefix[] = "\\\\.\\";
constexpr char kFirstDeviceName[] = "ezusb-0";
constexpr size_t kDescriptorVendorOffset = 8;
constexpr size_t kDescriptorProductOffset = 10;
constexpr uint8_t kRequestTypeVendor = 2;
constexpr uint8_t kRecipientDevice = 0;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

VendorRequestBlock BuildVendorRequestBlock(uint8_t direction, uint8_t request, uint16_t value,
                                           uint16_t index) {
  return {direction,
          kRequestTypeVendor,
          kRecipientDevice,
          0,
          request,
          0,
          static_cast<uint8_t>(value),
          static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(index),
          static_cast<uint8_t>(index >> 8)};
}

BulkPipeBlock BuildBulkPipeBlock(uint8_t pipe) {
  return {pipe, 0, 0, 0};
}

void UsbLink::SetDeviceIds(uint16_t vendorId, uint16_t productId) {
  vendorId_ = vendorId;
  productId_ = productId;
}

std::unique_ptr<UsbDevice> UsbLink::OpenByName(const char* deviceName) {
  const std::string path = std::string(kPathPrefix) + deviceName;
  return driver_.Open(path.c_str());
}

// The first of ezusb-0..ezusb-8 whose descriptor carries our ids; names after it stay unopened.
// A device with other ids, or one whose descriptor request fails, is closed and skipped.
std::unique_ptr<UsbDevice> UsbLink::OpenDevice() {
  char deviceName[sizeof kFirstDeviceName];
  std::memcpy(deviceName, kFirstDeviceName, sizeof deviceName);
  for (char digit = '0'; digit < '9'; ++digit) {
    deviceName[sizeof deviceName - 2] = digit;
    std::unique_ptr<UsbDevice> device = OpenByName(deviceName);
    if (!device) continue;
    uint8_t descriptor[kDeviceDescriptorSize] = {};
    const bool answered = device->GetDeviceDescriptor(descriptor);
    if (answered && Le16(descriptor + kDescriptorVendorOffset) == vendorId_ &&
        Le16(descriptor + kDescriptorProductOffset) == productId_) {
      return device;
    }
  }
  return nullptr;
}

bool UsbLink::IsConnected() {
  return OpenDevice() != nullptr;
}

bool UsbLink::VendorRequest(uint8_t direction, uint8_t request, uint16_t value, uint16_t index,
                            uint16_t length, uint8_t* buffer) {
  std::unique_ptr<UsbDevice> device = OpenDevice();
  if (!device) return false;
  const VendorRequestBlock block = BuildVendorRequestBlock(direction, request, value, index);
  return device->VendorOrClassRequest(block, length == 0 ? nullptr : buffer, length);
}

bool UsbLink::BulkTransfer(uint8_t direction, uint8_t pipe, uint32_t length, uint8_t* buffer,
                           uint32_t* byteCount) {
  if (direction != kUsbDirectionIn && direction != kUsbDirectionOut) return false;
  std::unique_ptr<UsbDevice> device = OpenDevice();
  if (!device) return false;
  const BulkPipeBlock block = BuildBulkPipeBlock(pipe);
  const uint32_t transferLength = length <= kUsbMaxBulkTransfer ? length : kUsbMaxBulkTransfer;
  uint32_t moved = 0;
  const bool ok = direction == kUsbDirectionIn
                      ? device->BulkRead(block, buffer, transferLength, moved)
                      : device->BulkWrite(block, buffer, transferLength, moved);
  if (byteCount) *byteCount = moved;
  return ok;
}

// A transfer that succeeds but moves nothing would never finish the loop, and one that claims
// more than was asked would run past the buffer: both end it like a failed transfer.
uint32_t UsbLink::ChunkedTransfer(uint8_t direction, uint8_t pipe, uint8_t* buffer,
                                  uint32_t length) {
  uint32_t remaining = length;
  uint32_t done = 0;
  while (remaining != 0) {
    uint32_t n = 0;
    if (!BulkTransfer(direction, pipe, remaining, buffer + done, &n)) break;
    if (n == 0 || n > remaining) break;
    remaining -= n;
    done += n;
  }
  return done;
}

void UsbLink::BulkRead(uint8_t* buffer, uint32_t length, uint32_t* moved) {
  const uint32_t done = ChunkedTransfer(kUsbDirectionIn, kUsbReadPipe, buffer, length);
  if (moved) *moved = done;
}

void UsbLink::BulkWrite(const uint8_t* buffer, uint32_t length, uint32_t* moved) {
  // The driver only reads the source of a bulk write.
  const uint32_t done =
      ChunkedTransfer(kUsbDirectionOut, kUsbWritePipe, const_cast<uint8_t*>(buffer), length);
  if (moved) *moved = done;
}

}  // namespace omr72
