// Emulated host, any OS: the EZ-USB driver's device objects in memory.
#include "emulator/emulated_usb.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace omr72::emu {
namespace {

constexpr uint8_t kIn = 1;
constexpr uint8_t kOut = 0;
constexpr uint8_t kRequestTypeVendor = 2;
constexpr uint8_t kRecipientDevice = 0;
constexpr uint32_t kReadPipe = 2;
constexpr uint32_t kWritePipe = 1;
constexpr uint16_t kNandSetupBytes = 19;
constexpr uint16_t kNandEraseBytes = 5;

constexpr VendorCommand kVendorCommands[] = {
    {0x20, kIn, 64},   // read 64 bytes of flash
    {0x21, kOut, 64},  // programme a 64-byte chunk
    {0x22, kIn, 2},    // erase a 512-byte page; two reply bytes
    {0x23, kIn, 0},    // restart
    {0x24, kIn, 2},    // boot-loader version
    {0xC1, kIn, 21},   // serial record
    {0xC5, kIn, 1},    // boot-block verdict
    {0xC6, kIn, 2},    // firmware version
    {0xD1, kOut, kNandEraseBytes},
    {0xD2, kIn, 1},  // status of the last NAND erase
    {0xE0, kOut, kNandSetupBytes},
    {0xE1, kOut, kNandSetupBytes},
};

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t VendorCostMs(uint8_t request) {
  if (request == 0x22 || request == 0xD1) return kEraseMs;
  if (request == 0x21) return kChunkMs;
  return kCommandMs;
}

// The recorder's boot-loader interface as one opened handle sees it. The handle dies when the
// recorder leaves the bus, even if it comes back under the same name.
class RecorderUsbDevice : public UsbDevice {
 public:
  RecorderUsbDevice(HostContext& host, int slot)
      : host_(host), slot_(slot), epoch_(host.recorder.epoch()) {}

  bool GetDeviceDescriptor(uint8_t* descriptor) override {
    if (!Alive()) return false;
    const DeviceDescriptor d = BuildDeviceDescriptor(kRecorderUsbVendorId, kRecorderUsbProductId);
    std::memcpy(descriptor, d.data(), d.size());
    return true;
  }

  bool VendorOrClassRequest(const VendorRequestBlock& block, uint8_t* data,
                            uint32_t length) override {
    if (!Alive()) return false;
    host_.recorder.NoteUsbRequest();
    host_.BeforeTracedRequest();
    if (!Alive()) return false;
    const Fault fault = host_.trace.BeginCommand();
    const bool ok = fault != Fault::kFail && Vendor(block, data, length, fault == Fault::kShort);
    host_.timing.Spend(VendorCostMs(block[4]));
    host_.trace.Record(FormatVendorTrace(slot_, block, length, ok));
    return ok;
  }

  bool BulkRead(const BulkPipeBlock& pipe, uint8_t* data, uint32_t length,
                uint32_t& moved) override {
    return Bulk(true, pipe, data, length, moved);
  }

  bool BulkWrite(const BulkPipeBlock& pipe, const uint8_t* data, uint32_t length,
                 uint32_t& moved) override {
    return Bulk(false, pipe, const_cast<uint8_t*>(data), length, moved);
  }

 private:
  bool Alive() const {
    const Recorder& r = host_.recorder;
    return r.OnUsb() && r.epoch() == epoch_ && r.usbName() == slot_;
  }

  // A request the boot loader does not know, or one with the wrong direction or data length,
  // fails like a stalled control transfer.
  bool Vendor(const VendorRequestBlock& block, uint8_t* data, uint32_t length, bool shortData) {
    const VendorCommand* command = FindVendorCommand(block[4]);
    if (!command || block[1] != kRequestTypeVendor || block[2] != kRecipientDevice) return false;
    if (block[0] != command->direction || length != command->length) return false;
    if (Le16(&block[8]) != 0) return false;
    if (length > 0 && !data) return false;
    const uint16_t value = Le16(&block[6]);
    const uint32_t moves = shortData ? length / 2 : length;
    if (command->direction == kOut) return TakeData(block[4], value, data, moves);
    std::vector<uint8_t> reply(length, 0);
    if (!Answer(block[4], value, reply.data())) return false;
    std::copy_n(reply.begin(), moves, data);
    return true;
  }

  bool Answer(uint8_t request, uint16_t value, uint8_t* reply) {
    Recorder& r = host_.recorder;
    switch (request) {
      case 0x20:
        r.ReadMcu(value, reply, kMcuBlockSize);
        if (IsIdentificationAddress(value)) host_.fuzz.Fill(reply, kMcuBlockSize);
        return true;
      case 0x22:
        r.EraseMcuPage(value);
        return true;
      case 0x23:
        r.Restart(RestartCause::kUsbRequest);
        return true;
      case 0x24: {
        const std::optional<uint16_t> version = r.BootLoaderVersionReply();
        if (!version) return false;
        PutLe16(reply, *version);
        host_.fuzz.Fill(reply, 2);
        return true;
      }
      case 0xC1:
        std::copy(r.serialRecord().begin(), r.serialRecord().end(), reply);
        host_.fuzz.Fill(reply, r.serialRecord().size());
        return true;
      case 0xC5: {
        const std::optional<uint8_t> verdict = r.BootBlockVerdict();
        if (!verdict) return false;
        reply[0] = *verdict;
        return true;
      }
      case 0xC6:
        if (!r.firmwareVersion()) return false;
        PutLe16(reply, *r.firmwareVersion());
        host_.fuzz.Fill(reply, 2);
        return true;
      case 0xD2:
        reply[0] = r.nandEraseStatus();
        return true;
    }
    return false;
  }

  // A parameter block that arrives cut short cannot be parsed: the boot loader ignores it.
  bool TakeData(uint8_t request, uint16_t value, const uint8_t* data, uint32_t received) {
    Recorder& r = host_.recorder;
    switch (request) {
      case 0x21:
        r.ProgramMcu(value, data, received);
        return true;
      case 0xD1:
        if (received == kNandEraseBytes) r.EraseNandBlock(Be32(data + 1));
        return true;
      case 0xE0:
      case 0xE1:
        if (received < kNandSetupBytes) return true;
        if (Be16(data + 1) != kNandPageBytes) return false;
        return r.OpenNandTransfer(request == 0xE1, Be32(data + 13), Be32(data + 9));
    }
    return false;
  }

  bool Bulk(bool read, const BulkPipeBlock& pipeBlock, uint8_t* data, uint32_t length,
            uint32_t& moved) {
    moved = 0;
    if (!Alive()) return false;
    host_.recorder.NoteUsbRequest();
    host_.BeforeTracedRequest();
    if (!Alive()) return false;
    const uint32_t pipe = Le32(pipeBlock.data());
    const Fault fault = host_.trace.BeginCommand();
    bool ok = false;
    if (fault != Fault::kFail && pipe == (read ? kReadPipe : kWritePipe) &&
        length <= kMaxBulkBytes && (length == 0 || data)) {
      const uint32_t asked = fault == Fault::kShort ? length / 2 : length;
      ok = read ? host_.recorder.NandRead(data, asked, moved)
                : host_.recorder.NandWrite(data, asked, moved);
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

  bool GetDeviceDescriptor(uint8_t* descriptor) override {
    log_.Add({ForeignUsbRequest::kDescriptor, {}, 0, kDeviceDescriptorSize}, true);
    const DeviceDescriptor d = BuildDeviceDescriptor(kForeignVendorId, kForeignProductId);
    std::memcpy(descriptor, d.data(), d.size());
    return true;
  }

  bool VendorOrClassRequest(const VendorRequestBlock& block, uint8_t*, uint32_t length) override {
    log_.Add({ForeignUsbRequest::kVendor, block, 0, length}, false);
    host_.BeforeTracedRequest();
    host_.trace.BeginCommand();
    host_.trace.Record(FormatVendorTrace(slot_, block, length, false));
    return false;
  }

  bool BulkRead(const BulkPipeBlock& pipe, uint8_t*, uint32_t length, uint32_t& moved) override {
    return Bulk(ForeignUsbRequest::kBulkRead, pipe, length, moved);
  }

  bool BulkWrite(const BulkPipeBlock& pipe, const uint8_t*, uint32_t length,
                 uint32_t& moved) override {
    return Bulk(ForeignUsbRequest::kBulkWrite, pipe, length, moved);
  }

 private:
  bool Bulk(ForeignUsbRequest kind, const BulkPipeBlock& pipeBlock, uint32_t length,
            uint32_t& moved) {
    moved = 0;
    const uint32_t pipe = Le32(pipeBlock.data());
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
  PutLe16(&d[2], 0x0200);        // bcdUSB
  d[4] = 0xFF;                   // bDeviceClass: vendor-specific
  d[7] = 64;                     // bMaxPacketSize0
  PutLe16(&d[8], vendorId);
  PutLe16(&d[10], productId);
  PutLe16(&d[12], 0x0001);  // bcdDevice
  d[17] = 1;                // bNumConfigurations
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
