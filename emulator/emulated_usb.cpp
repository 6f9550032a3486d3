// Emulated host, any OS: the EZ-USB driver's device objects in memory.
#include "emulator/emulated_usb.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace omr72::emu {
namespace {

using namespace wire;

constexpr uint8_t kIn = kDirectionIn;
constexpr uint8_t kOut = kDirectionOut;
constexpr uint32_t kReadPipe = kUsbReadPipe;
constexpr uint32_t kWritePipe = kUsbWritePipe;
constexpr uint16_t kNandSetupBytes = kNandSetupSize;
constexpr uint16_t kNandEraseBytes = kNandEraseSize;

constexpr VendorCommand kVendorCommands[] = {
    {kUsbReqReadMemory, kIn, 64},     // read 64 bytes of flash
    {kUsbReqWriteFlash, kOut, 64},    // programme a 64-byte chunk
    {kUsbReqEraseFlashPage, kIn, 2},  // erase a 512-byte page; two reply bytes
    {kUsbReqRestart, kIn, 0},         // restart
    {kUsbReqGetBootLoaderVersion, kIn, 2},
    {kUsbReqGetSerialNumber, kIn, 21},  // serial record
    {kUsbReqBootBlockVerdict, kIn, 1},
    {kUsbReqGetFirmwareVersion, kIn, 2},
    {kUsbReqNandEraseBlock, kOut, kNandEraseBytes},
    {kUsbReqNandEraseStatus, kIn, 1},  // status of the last NAND erase
    {kUsbReqNandReadSetup, kOut, kNandSetupBytes},
    {kUsbReqNandWriteSetup, kOut, kNandSetupBytes},
};

uint32_t VendorCostMs(uint8_t request) {
  if (request == kUsbReqEraseFlashPage || request == kUsbReqNandEraseBlock) return kEraseMs;
  if (request == kUsbReqWriteFlash) return kChunkMs;
  return kCommandMs;
}

// The recorder's boot-loader interface as one opened handle sees it. The handle dies when the
// recorder leaves the bus, even if it comes back under the same name.
class RecorderUsbDevice : public UsbDevice {
 public:
  RecorderUsbDevice(HostContext& host, int slot)
      : host_(host), slot_(slot), epoch_(host.recorder.epoch()) {}

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    if (!Alive()) return false;
    const DeviceDescriptor d = BuildDeviceDescriptor(kRecorderUsbVendorId, kRecorderUsbProductId);
    std::copy(d.begin(), d.end(), descriptor.begin());
    return true;
  }

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    if (!Alive()) return false;
    host_.recorder.NoteUsbRequest();
    host_.BeforeTracedRequest();
    if (!Alive()) return false;
    const Fault fault = host_.trace.BeginCommand();
    const bool ok = fault != Fault::kFail && Vendor(block, data, fault == Fault::kShort);
    host_.timing.Spend(VendorCostMs(block[4]));
    host_.trace.Record(FormatVendorTrace(slot_, block, data.size(), ok));
    return ok;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    return Bulk(DataStage::In(data), pipe, moved);
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    return Bulk(DataStage::Out(data), pipe, moved);
  }

  bool Alive() const {
    const Recorder& r = host_.recorder;
    return r.OnUsb() && r.epoch() == epoch_ && r.usbName() == slot_;
  }

  // A request the boot loader does not know, or one with the wrong direction or data length,
  // fails like a stalled control transfer.
  bool Vendor(const VendorRequestBlock& block, DataStage data, bool shortData) {
    const uint32_t length = data.size();
    const VendorCommand* command = FindVendorCommand(block[4]);
    if (!command || block[1] != kRequestTypeVendor || block[2] != kRecipientDevice) return false;
    if (block[0] != command->direction || length != command->length) return false;
    if (LoadLe16(block, 8) != 0) return false;
    const uint16_t value = LoadLe16(block, 6);
    const uint32_t moves = shortData ? length / 2 : length;
    if (command->direction == kOut) return TakeData(block[4], value, data.out().data(), moves);
    std::vector<uint8_t> reply(length, 0);
    if (!Answer(block[4], value, reply.data())) return false;
    std::copy_n(reply.begin(), moves, data.in().begin());
    return true;
  }

  bool Answer(uint8_t request, uint16_t value, uint8_t* reply) {
    Recorder& r = host_.recorder;
    switch (request) {
      case kUsbReqReadMemory:
        r.ReadMcu(value, reply, kMcuBlockSize);
        if (IsIdentificationAddress(value)) host_.fuzz.Fill(reply, kMcuBlockSize);
        return true;
      case kUsbReqEraseFlashPage:
        r.EraseMcuPage(value);
        return true;
      case kUsbReqRestart:
        r.Restart(RestartCause::kUsbRequest);
        return true;
      case kUsbReqGetBootLoaderVersion: {
        const std::optional<uint16_t> version = r.BootLoaderVersionReply();
        if (!version) return false;
        StoreLe16({reply, 2}, 0, *version);
        host_.fuzz.Fill(reply, 2);
        return true;
      }
      case kUsbReqGetSerialNumber:
        std::copy(r.serialRecord().begin(), r.serialRecord().end(), reply);
        host_.fuzz.Fill(reply, r.serialRecord().size());
        return true;
      case kUsbReqBootBlockVerdict: {
        const std::optional<uint8_t> verdict = r.BootBlockVerdict();
        if (!verdict) return false;
        reply[0] = *verdict;
        return true;
      }
      case kUsbReqGetFirmwareVersion:
        if (!r.firmwareVersion()) return false;
        StoreLe16({reply, 2}, 0, *r.firmwareVersion());
        host_.fuzz.Fill(reply, 2);
        return true;
      case kUsbReqNandEraseStatus:
        reply[0] = r.nandEraseStatus();
        return true;
    }
    return false;
  }

  // A parameter block that arrives cut short cannot be parsed: the boot loader ignores it.
  bool TakeData(uint8_t request, uint16_t value, const uint8_t* data, uint32_t received) {
    Recorder& r = host_.recorder;
    switch (request) {
      case kUsbReqWriteFlash:
        r.ProgramMcu(value, data, received);
        return true;
      case kUsbReqNandEraseBlock:
        if (received == kNandEraseBytes) r.EraseNandBlock(LoadBe32({data, received}, 1));
        return true;
      case kUsbReqNandReadSetup:
      case kUsbReqNandWriteSetup:
        if (received < kNandSetupBytes) return true;
        if (LoadBe16({data, received}, 1) != kNandPageBytes) return false;
        return r.OpenNandTransfer(request == kUsbReqNandWriteSetup, LoadBe32({data, received}, 13),
                                  LoadBe32({data, received}, 9));
    }
    return false;
  }

  bool Bulk(DataStage data, const BulkPipeBlock& pipeBlock, uint32_t& moved) {
    moved = 0;
    if (!Alive()) return false;
    host_.recorder.NoteUsbRequest();
    host_.BeforeTracedRequest();
    if (!Alive()) return false;
    const bool read = data.isIn();
    const uint32_t length = data.size();
    const uint32_t pipe = LoadLe32(pipeBlock);
    const Fault fault = host_.trace.BeginCommand();
    bool ok = false;
    if (fault != Fault::kFail && pipe == (read ? kReadPipe : kWritePipe) &&
        length <= kMaxBulkBytes) {
      const uint32_t asked = fault == Fault::kShort ? length / 2 : length;
      ok = read ? host_.recorder.NandRead(data.in().data(), asked, moved)
                : host_.recorder.NandWrite(data.out().data(), asked, moved);
    }
    if (!ok) moved = 0;
    host_.timing.Spend(TransferMs(length));
    host_.trace.Record(FormatBulkTrace(slot_, read, pipe, length, moved, ok));
    return ok;
  }

  HostContext& host_;
  int slot_;
  uint32_t epoch_;
};

// A USB device that is not the recorder: it answers its descriptor and nothing else.
class ForeignUsbDevice : public UsbDevice {
 public:
  ForeignUsbDevice(HostContext& host, int slot)
      : host_(host), slot_(slot), log_(host.foreignUsb[slot]) {}

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    log_.Add({ForeignUsbRequest::kDescriptor, {}, 0, kDeviceDescriptorSize}, true);
    const DeviceDescriptor d = BuildDeviceDescriptor(kForeignVendorId, kForeignProductId);
    std::copy(d.begin(), d.end(), descriptor.begin());
    return true;
  }

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    log_.Add({ForeignUsbRequest::kVendor, block, 0, data.size()}, false);
    host_.BeforeTracedRequest();
    host_.trace.BeginCommand();
    host_.trace.Record(FormatVendorTrace(slot_, block, data.size(), false));
    return false;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    return Bulk(ForeignUsbRequest::kBulkRead, pipe, data.size(), moved);
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    return Bulk(ForeignUsbRequest::kBulkWrite, pipe, data.size(), moved);
  }

  bool Bulk(ForeignUsbRequest kind, const BulkPipeBlock& pipeBlock, uint32_t length,
            uint32_t& moved) {
    moved = 0;
    const uint32_t pipe = LoadLe32(pipeBlock);
    log_.Add({kind, {}, pipe, length}, false);
    host_.BeforeTracedRequest();
    host_.trace.BeginCommand();
    host_.trace.Record(
        FormatBulkTrace(slot_, kind == ForeignUsbRequest::kBulkRead, pipe, length, 0, false));
    return false;
  }

  HostContext& host_;
  int slot_;
  ForeignLog<ForeignUsbEntry>& log_;
};

}  // namespace

DeviceDescriptor BuildDeviceDescriptor(uint16_t vendorId, uint16_t productId) {
  DeviceDescriptor d{};
  d[0] = kDeviceDescriptorSize;  // bLength
  d[1] = 0x01;                   // bDescriptorType: device
  StoreLe16(d, 2, 0x0200);       // bcdUSB
  d[4] = 0xFF;                   // bDeviceClass: vendor-specific
  d[7] = 64;                     // bMaxPacketSize0
  StoreLe16(d, 8, vendorId);
  StoreLe16(d, 10, productId);
  StoreLe16(d, 12, 0x0001);  // bcdDevice
  d[17] = 1;                 // bNumConfigurations
  return d;
}

int ParseUsbSlot(const char* path) {
  static const char kPrefix[] = "\\\\.\\ezusb-";
  const size_t prefixLength = sizeof kPrefix - 1;
  if (!path || std::strncmp(path, kPrefix, prefixLength) != 0) return -1;
  const char digit = path[prefixLength];
  if (digit < '0' || digit > '8' || path[prefixLength + 1] != '\0') return -1;
  return digit - '0';
}

const VendorCommand* FindVendorCommand(uint8_t request) {
  for (const VendorCommand& command : kVendorCommands) {
    if (command.request == request) return &command;
  }
  return nullptr;
}

// Every open is reported to the recorder first: it may be the poll that brings it back.
// The recorder hides a foreign device configured at its own slot.
std::unique_ptr<UsbDevice> EmulatedUsbDriver::Open(const char* path) {
  const int slot = ParseUsbSlot(path);
  if (slot < 0) return nullptr;
  host_.recorder.NoteUsbOpen(slot);
  if (host_.recorder.OnUsb() && host_.recorder.usbName() == slot) {
    return std::make_unique<RecorderUsbDevice>(host_, slot);
  }
  if (host_.foreignUsb.count(slot)) return std::make_unique<ForeignUsbDevice>(host_, slot);
  return nullptr;
}

}  // namespace omr72::emu
