// The recorder's boot-loader USB device, reached through the general-purpose USB driver.
// Every operation finds the device afresh among ezusb-0..ezusb-8, issues one driver request
// and closes it again, so a recorder that re-enumerates under another name is simply found
// again by the next operation. Nothing here prints.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/usb_driver.h"
#include "wire/recorder_wire.h"

namespace omr72 {

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
  // One vendor request; an In stage receives its bytes, an Out stage sends them, an empty one
  // has no data stage. False, with the buffer untouched, when no recorder is found.
  bool VendorRequest(uint8_t request, uint16_t value, uint16_t index, DataStage data);
  // One bulk transfer of at most 16384 bytes: an In stage reads, an Out stage writes.
  // `byteCount` receives the number of bytes moved.
  bool BulkTransfer(uint8_t pipe, DataStage data, uint32_t* byteCount);
  // Move all of `data` on pipe 2 (read) or pipe 1 (write) in as many transfers as it takes,
  // stopping at the first failed or empty transfer. `moved`, when given, receives how many
  // bytes were moved in all, so that a caller can tell a short transfer from a whole one.
  void BulkRead(ByteSpan data, uint32_t* moved = nullptr);
  void BulkWrite(ConstByteSpan data, uint32_t* moved = nullptr);

 private:
  std::unique_ptr<UsbDevice> OpenDevice();
  std::unique_ptr<UsbDevice> OpenByName(const char* deviceName);
  uint32_t ChunkedTransfer(uint8_t pipe, DataStage data);

  UsbDriver& driver_;
  uint16_t vendorId_ = 0;
  uint16_t productId_ = 0;
};

}  // namespace omr72
