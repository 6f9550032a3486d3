#include "usblink/usb_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace omr72 {
namespace {

constexpr char kPathPrefix[] = "\\\\.\\";
constexpr char kFirstDeviceName[] = "ezusb-0";
constexpr size_t kDescriptorVendorOffset = 8;
constexpr size_t kDescriptorProductOffset = 10;

// The part of a stage from `offset` on, in the stage's direction.
DataStage Rest(DataStage data, uint32_t offset) {
  return data.isIn() ? DataStage::In(data.in().subspan(offset))
                     : DataStage::Out(data.out().subspan(offset));
}

}  // namespace

VendorRequestBlock BuildVendorRequestBlock(uint8_t direction, uint8_t request, uint16_t value,
                                           uint16_t index) {
  VendorRequestBlock block = {direction, wire::kRequestTypeVendor, wire::kRecipientDevice, 0,
                              request};
  StoreLe16(block, 6, value);
  StoreLe16(block, 8, index);
  return block;
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
    std::array<uint8_t, kDeviceDescriptorSize> descriptor = {};
    const bool answered = device->GetDeviceDescriptor(descriptor);
    if (answered && LoadLe16(descriptor, kDescriptorVendorOffset) == vendorId_ &&
        LoadLe16(descriptor, kDescriptorProductOffset) == productId_) {
      return device;
    }
  }
  return nullptr;
}

bool UsbLink::IsConnected() {
  return OpenDevice() != nullptr;
}

bool UsbLink::VendorRequest(uint8_t request, uint16_t value, uint16_t index, DataStage data) {
  std::unique_ptr<UsbDevice> device = OpenDevice();
  if (!device) return false;
  const VendorRequestBlock block = BuildVendorRequestBlock(data.direction(), request, value, index);
  return device->VendorOrClassRequest(block, data);
}

bool UsbLink::BulkTransfer(uint8_t pipe, DataStage data, uint32_t* byteCount) {
  std::unique_ptr<UsbDevice> device = OpenDevice();
  if (!device) return false;
  const BulkPipeBlock block = BuildBulkPipeBlock(pipe);
  const size_t transferLength = std::min<size_t>(data.size(), wire::kUsbMaxBulkTransfer);
  uint32_t moved = 0;
  const bool ok = data.isIn() ? device->BulkRead(block, data.in().first(transferLength), moved)
                              : device->BulkWrite(block, data.out().first(transferLength), moved);
  if (byteCount) *byteCount = moved;
  return ok;
}

// A transfer that succeeds but moves nothing would never finish the loop, and one that claims
// more than was asked would run past the buffer: both end it like a failed transfer.
uint32_t UsbLink::ChunkedTransfer(uint8_t pipe, DataStage data) {
  uint32_t remaining = data.size();
  uint32_t done = 0;
  while (remaining != 0) {
    uint32_t n = 0;
    if (!BulkTransfer(pipe, Rest(data, done), &n)) break;
    if (n == 0 || n > remaining) break;
    remaining -= n;
    done += n;
  }
  return done;
}

void UsbLink::BulkRead(ByteSpan data, uint32_t* moved) {
  const uint32_t done = ChunkedTransfer(wire::kUsbReadPipe, DataStage::In(data));
  if (moved) *moved = done;
}

void UsbLink::BulkWrite(ConstByteSpan data, uint32_t* moved) {
  const uint32_t done = ChunkedTransfer(wire::kUsbWritePipe, DataStage::Out(data));
  if (moved) *moved = done;
}

}  // namespace omr72
