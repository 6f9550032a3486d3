#include "testbeds/linux/gadget/recorder_adapter.h"

#include <string>

#include "emulator/emulated_pass_through.h"
#include "emulator/recorder.h"
#include "wire/byte_order.h"

namespace omr72::testbed {
namespace {

constexpr uint32_t kWritePipe = 1;
constexpr uint32_t kReadPipe = 2;
constexpr uint8_t kNandReadSetup = 0xE0;
constexpr uint16_t kNandSetupBytes = 19;

BulkPipeBlock Pipe(uint32_t index) {
  return {static_cast<uint8_t>(index), 0, 0, 0};
}

}  // namespace

VendorRequestBlock BlockFromSetup(const SetupPacket& setup) {
  VendorRequestBlock block{};
  block[0] = setup.requestType >> 7;
  block[1] = (setup.requestType >> 5) & 3;
  block[2] = setup.requestType & 0x1F;
  block[4] = setup.request;
  block[6] = static_cast<uint8_t>(setup.value);
  block[7] = static_cast<uint8_t>(setup.value >> 8);
  block[8] = static_cast<uint8_t>(setup.index);
  block[9] = static_cast<uint8_t>(setup.index >> 8);
  return block;
}

bool RunControlRequest(UsbDevice* device, const SetupPacket& setup, uint8_t* data) {
  if (device == nullptr) return false;
  const VendorRequestBlock block = BlockFromSetup(setup);
  const ByteSpan stage(data, setup.length);
  return device->VendorOrClassRequest(
      block, block[0] == kDataIn ? DataStage::In(stage) : DataStage::Out(stage));
}

bool RunBulkWrite(UsbDevice* device, const uint8_t* data, uint32_t length) {
  uint32_t moved = 0;
  return device != nullptr &&
         device->BulkWrite(Pipe(kWritePipe), ConstByteSpan(data, length), moved);
}

bool RunBulkRead(UsbDevice* device, uint8_t* data, uint32_t length, uint32_t& moved) {
  moved = 0;
  return device != nullptr && device->BulkRead(Pipe(kReadPipe), ByteSpan(data, length), moved);
}

uint32_t NandReadBytesOpened(const SetupPacket& setup, const uint8_t* data) {
  if (setup.request != kNandReadSetup || setup.length != kNandSetupBytes) return 0;
  return LoadBe32(ConstByteSpan(data, kNandSetupBytes), 9) * emu::kNandPageBytes;
}

// A command without a data stage carries no direction on the wire (usb-storage sends it as
// "out"); the program's request has one, and the model checks it, so it is taken from the
// shape the model expects for that command.
bool RunDriveCommand(ScsiDrive* drive, const CommandBlock& command, uint8_t* buffer,
                     uint8_t& status) {
  if (drive == nullptr) return false;
  ScsiRequest request;
  std::copy(command.cdb, command.cdb + 16, request.cdb.begin());
  bool dataIn = command.dataIn;
  if (command.length == 0) {
    const auto shape = emu::ShapeOfCommand(request.cdb);
    dataIn = !shape || shape->dataIn == kDataIn;
  }
  const ByteSpan data(buffer, command.length);
  request.data = dataIn ? DataStage::In(data) : DataStage::Out(data);
  return drive->Execute(request, status);
}

std::unique_ptr<UsbDevice> OpenUsbFace(emu::EmulatedHost& host, int usbName) {
  const std::string path = "\\\\.\\ezusb-" + std::to_string(usbName);
  return host.usb().Open(path.c_str());
}

std::unique_ptr<ScsiDrive> OpenDrive(emu::EmulatedHost& host, int drive) {
  const std::string path = "\\\\.\\PHYSICALDRIVE" + std::to_string(drive);
  return host.scsi().Open(path.c_str());
}

void PollPresence(emu::EmulatedHost& host) {
  OpenUsbFace(host, 0);
}

void ReplugIfWaitedFor(emu::EmulatedHost& host) {
  for (int i = 0; i < emu::kReplugPolls; ++i) OpenDrive(host, 0);
}

}  // namespace omr72::testbed
