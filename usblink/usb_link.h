// The recorder's boot-loader USB device, reached through the general-purpose USB driver.
// Every operation finds the device afresh among ezusb-0..ezusb-8, issues one driver request
// and closes it again, so a recorder that re-enumerates under another name is simply found
// again by the next operation. Nothing here prints.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/usb_driver.h"

namespace omr72 {

constexpr uint16_t kRecorderVendorId = 0x10C4;
constexpr uint16_t kRecorderProductId = 0x4512;

constexpr uint8_t kUsbDirectionOut = 0;  // host to device
constexpr uint8_t kUsbDirectionIn = 1;   // device to host
constexpr uint8_t kUsbReadPipe = 2;
constexpr uint8_t kUsbWritePipe = 1;
constexpr uint32_t kUsbMaxBulkTransfer = 16384;

// Pure builders of the driver's input blocks.
VendorRequestBlock BuildVendorRequestBlock(uint8_t direction, uint8_t request, uint16_t value,
                                           uint16_t index);
BulkPipeBlock BuildBulkPipeBlock(uint8_t pipe);

class UsbLink {
 public:
  explicit UsbLink(UsbDriver& driver) : driver_(driver) {}

  void SetDeviceIds(uint16_t vendorId, uint16_t productId);
  // Presence test: true when a device with the configured ids opens and answers.
  bool IsConnected();
  // One vendor request; direction 1 receives `length` bytes into `buffer`, direction 0 sends
  // them. length 0 with buffer == nullptr has no data stage. False, with the buffer untouched,
  // when no recorder is found.
  bool VendorRequest(uint8_t direction, uint8_t request, uint16_t value, uint16_t index,
                     uint16_t length, uint8_t* buffer);
  // One bulk transfer of at most 16384 bytes; direction 1 reads, 0 writes. `byteCount`
  // receives the number of bytes moved.
  bool BulkTransfer(uint8_t direction, uint8_t pipe, uint32_t length, uint8_t* buffer,
                    uint32_t* byteCount);
  // Move `length` bytes on pipe 2 (read) or pipe 1 (write) in as many transfers as it takes,
  // stopping at the first failed or empty transfer. `moved`, when given, receives how many
  // bytes were moved in all, so that a caller can tell a short transfer from a whole one.
  void BulkRead(uint8_t* buffer, uint32_t length, uint32_t* moved = nullptr);
  void BulkWrite(const uint8_t* buffer, uint32_t length, uint32_t* moved = nullptr);

 private:
  std::unique_ptr<UsbDevice> OpenDevice();
  std::unique_ptr<UsbDevice> OpenByName(const char* deviceName);
  uint32_t ChunkedTransfer(uint8_t direction, uint8_t pipe, uint8_t* buffer, uint32_t length);

  UsbDriver& driver_;
  uint16_t vendorId_ = 0;
  uint16_t productId_ = 0;
};

}  // namespace omr72
