#include "emulator/recorder_session.h"

#include <string>
#include <vector>

#include "emulator/host_context.h"
#include "emulator/recorder.h"

namespace omr72::emu {
namespace {

using protocol::Message;
using protocol::Reader;
using protocol::Writer;

Message Malformed(const char* what) {
  return protocol::ErrorReply(protocol::kMalformed, what);
}

Message BadHandle(uint32_t handle) {
  return protocol::ErrorReply(protocol::kBadHandle, "no such handle " + std::to_string(handle));
}

std::string SlotPath(const char* prefix, int slot) {
  return std::string(prefix) + static_cast<char>('0' + slot);
}

uint8_t SlotByte(bool present, int slot) {
  return present ? static_cast<uint8_t>(slot) : protocol::kNoSlot;
}

}  // namespace

Message RecorderSession::Handle(const Message& request) {
  Reader in(request.payload);
  switch (request.type) {
    case protocol::kHello:
      return Hello(in);
    case protocol::kStatus:
      return Status(in);
    case protocol::kUsbOpen:
      return UsbOpen(in);
    case protocol::kUsbDescriptor:
      return UsbDescriptor(in);
    case protocol::kUsbControl:
      return UsbControl(in);
    case protocol::kUsbBulkRead:
      return UsbBulk(true, in);
    case protocol::kUsbBulkWrite:
      return UsbBulk(false, in);
    case protocol::kDiskOpen:
      return DiskOpen(in);
    case protocol::kScsi:
      return Scsi(in);
    case protocol::kClose:
      return Close(in);
    case protocol::kShutdown:
      if (!in.AtEnd()) return Malformed("SHUTDOWN takes no payload");
      shutdown_ = true;
      return Writer(protocol::kShutdown | protocol::kReplyBit).Done();
  }
  return protocol::ErrorReply(protocol::kUnknownType,
                              "unknown request type " + std::to_string(request.type));
}

// The server speaks version 1 only and says so; the client decides whether it can go on.
Message RecorderSession::Hello(Reader& in) {
  uint16_t version = 0;
  if (!in.U16(version) || !in.AtEnd()) return Malformed("HELLO: u16 version");
  return Writer(protocol::kHello | protocol::kReplyBit).U16(protocol::kVersion).Done();
}

Message RecorderSession::Status(Reader& in) {
  if (!in.AtEnd()) return Malformed("STATUS takes no payload");
  const HostStatus status = host_.PollStatus();
  return Writer(protocol::kStatus | protocol::kReplyBit)
      .U8(SlotByte(status.usbSlot >= 0, status.usbSlot))
      .U8(SlotByte(status.diskDrive >= 0, status.diskDrive))
      .U32(status.epoch)
      .U16(status.foreignUsbMask)
      .U16(status.foreignDiskMask)
      .Done();
}

uint32_t RecorderSession::Add(OpenDevice handle) {
  const uint32_t id = nextHandle_++;
  if (nextHandle_ == 0) nextHandle_ = 1;  // 0 means "none" on the wire
  handles_[id] = std::move(handle);
  return id;
}

RecorderSession::OpenDevice* RecorderSession::Find(uint32_t handle, bool usb) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return nullptr;
  if (usb ? !it->second.usb : !it->second.disk) return nullptr;
  return &it->second;
}

Message RecorderSession::UsbOpen(Reader& in) {
  uint8_t slot = 0;
  if (!in.U8(slot) || !in.AtEnd() || slot >= kHostSlots) return Malformed("USB_OPEN: u8 slot 0..8");
  OpenDevice handle;
  handle.usb = host_.usb().Open(SlotPath("\\\\.\\ezusb-", slot).c_str());
  handle.slot = slot;
  const uint32_t id = handle.usb ? Add(std::move(handle)) : 0;
  return Writer(protocol::kUsbOpen | protocol::kReplyBit).U32(id).Done();
}

Message RecorderSession::UsbDescriptor(Reader& in) {
  uint32_t id = 0;
  if (!in.U32(id) || !in.AtEnd()) return Malformed("USB_DESCRIPTOR: u32 handle");
  OpenDevice* handle = Find(id, true);
  if (!handle) return BadHandle(id);
  uint8_t descriptor[kDeviceDescriptorSize] = {};
  const bool ok = handle->usb->GetDeviceDescriptor(descriptor);
  return Writer(protocol::kUsbDescriptor | protocol::kReplyBit)
      .U8(ok)
      .Bytes(descriptor, sizeof descriptor)
      .Done();
}

// The setup packet becomes the driver's request block: direction from bit 7, type from bits 5
// and 6, recipient from bits 0 to 4 of bmRequestType.
Message RecorderSession::UsbControl(Reader& in) {
  uint32_t id = 0;
  const uint8_t* setup = nullptr;
  if (!in.U32(id) || !in.Bytes(protocol::kSetupBytes, setup)) {
    return Malformed("USB_CONTROL: u32 handle, 8-byte setup packet");
  }
  const uint16_t length = static_cast<uint16_t>(setup[6] | (setup[7] << 8));
  const bool deviceToHost = (setup[0] & 0x80) != 0;
  const uint8_t* out = nullptr;
  if (!deviceToHost && !in.Bytes(length, out)) return Malformed("USB_CONTROL: data stage short");
  if (!in.AtEnd()) return Malformed("USB_CONTROL: bytes after the request");
  OpenDevice* handle = Find(id, true);
  if (!handle) return BadHandle(id);

  const VendorRequestBlock block = {static_cast<uint8_t>(deviceToHost ? 1 : 0),
                                    static_cast<uint8_t>((setup[0] >> 5) & 3),
                                    static_cast<uint8_t>(setup[0] & 0x1F),
                                    0,
                                    setup[1],
                                    0,
                                    setup[2],
                                    setup[3],
                                    setup[4],
                                    setup[5]};
  std::vector<uint8_t> data(length, 0);
  if (!deviceToHost && length > 0) std::copy(out, out + length, data.begin());
  const DataStage stage = deviceToHost ? DataStage::In(data) : DataStage::Out(data);
  const bool ok = handle->usb->VendorOrClassRequest(block, stage);
  const uint32_t returned = ok && deviceToHost ? length : 0;
  return Writer(protocol::kUsbControl | protocol::kReplyBit)
      .U8(ok)
      .U32(returned)
      .Bytes(data.data(), returned)
      .Done();
}

Message RecorderSession::UsbBulk(bool read, Reader& in) {
  uint32_t id = 0;
  uint32_t pipe = 0;
  uint32_t length = 0;
  const uint8_t* out = nullptr;
  if (!in.U32(id) || !in.U32(pipe) || !in.U32(length) || (!read && !in.Bytes(length, out)) ||
      !in.AtEnd()) {
    return Malformed(read ? "USB_BULK_READ: u32 handle, u32 pipe, u32 length"
                          : "USB_BULK_WRITE: u32 handle, u32 pipe, u32 length, data");
  }
  if (read && length > protocol::kMaxMessageLength) return Malformed("USB_BULK_READ: too long");
  OpenDevice* handle = Find(id, true);
  if (!handle) return BadHandle(id);
  const BulkPipeBlock block = {static_cast<uint8_t>(pipe), static_cast<uint8_t>(pipe >> 8),
                               static_cast<uint8_t>(pipe >> 16), static_cast<uint8_t>(pipe >> 24)};
  uint32_t moved = 0;
  if (!read) {
    const bool ok = handle->usb->BulkWrite(block, ConstByteSpan(out, length), moved);
    return Writer(protocol::kUsbBulkWrite | protocol::kReplyBit).U8(ok).U32(moved).Done();
  }
  std::vector<uint8_t> data(length, 0);
  const bool ok = handle->usb->BulkRead(block, ByteSpan(data), moved);
  if (moved > length) moved = length;
  return Writer(protocol::kUsbBulkRead | protocol::kReplyBit)
      .U8(ok)
      .U32(moved)
      .Bytes(data.data(), moved)
      .Done();
}

Message RecorderSession::DiskOpen(Reader& in) {
  uint8_t drive = 0;
  if (!in.U8(drive) || !in.AtEnd() || drive >= kHostSlots)
    return Malformed("DISK_OPEN: u8 drive 0..8");
  OpenDevice handle;
  handle.disk = host_.scsi().Open(SlotPath("\\\\.\\PHYSICALDRIVE", drive).c_str());
  handle.slot = drive;
  handle.epoch = host_.recorder().epoch();
  const uint32_t id = handle.disk ? Add(std::move(handle)) : 0;
  return Writer(protocol::kDiskOpen | protocol::kReplyBit).U32(id).Done();
}

// A 16-byte CDB is the program's own command and goes the way of ScsiDrive::Execute, traced;
// a shorter one is the host OS's own (a kernel probing a new disk) and is answered untraced.
Message RecorderSession::Scsi(Reader& in) {
  uint32_t id = 0;
  uint8_t dataIn = 0;
  uint8_t cdbLength = 0;
  const uint8_t* cdbBytes = nullptr;
  uint32_t length = 0;
  uint32_t timeout = 0;
  if (!in.U32(id) || !in.U8(dataIn) || !in.U8(cdbLength) ||
      !in.Bytes(protocol::kCdbBytes, cdbBytes) || !in.U32(length) || !in.U32(timeout)) {
    return Malformed("SCSI: u32 handle, u8 dataIn, u8 cdbLength, 16-byte CDB, u32, u32");
  }
  const uint8_t* out = nullptr;
  if (dataIn == 0 && !in.Bytes(length, out)) return Malformed("SCSI: data-out stage short");
  if (!in.AtEnd()) return Malformed("SCSI: bytes after the request");
  if (dataIn > 1 || cdbLength == 0 || cdbLength > protocol::kCdbBytes) {
    return Malformed("SCSI: dataIn 0 or 1, cdbLength 1..16");
  }
  if (dataIn == 1 && length > protocol::kMaxMessageLength) return Malformed("SCSI: too long");
  OpenDevice* handle = Find(id, false);
  if (!handle) return BadHandle(id);

  std::vector<uint8_t> data(length, 0);
  if (dataIn == 0 && length > 0) std::copy(out, out + length, data.begin());
  uint8_t status = 0;
  uint32_t returned = 0;
  bool completed = false;
  if (cdbLength == protocol::kCdbBytes) {
    ScsiRequest request;
    std::copy(cdbBytes, cdbBytes + protocol::kCdbBytes, request.cdb.begin());
    request.data = dataIn == 1 ? DataStage::In(data) : DataStage::Out(data);
    request.timeoutSeconds = timeout;
    completed = handle->disk->Execute(request, status);
    if (completed && status == 0 && dataIn == 1) returned = length;
  } else {
    HostCommand command;
    command.dataIn = dataIn;
    std::copy(cdbBytes, cdbBytes + cdbLength, command.cdb.begin());
    command.cdbLength = cdbLength;
    command.buffer = length > 0 ? data.data() : nullptr;
    command.length = length;
    completed = host_.ExecuteHostCommand(handle->slot, handle->epoch, command, status, returned);
    if (dataIn == 0) returned = 0;
  }
  return Writer(protocol::kScsi | protocol::kReplyBit)
      .U8(completed)
      .U8(completed ? status : 0)
      .U32(returned)
      .Bytes(data.data(), returned)
      .Done();
}

Message RecorderSession::Close(Reader& in) {
  uint32_t id = 0;
  if (!in.U32(id) || !in.AtEnd()) return Malformed("CLOSE: u32 handle");
  if (handles_.erase(id) == 0) return BadHandle(id);
  return Writer(protocol::kClose | protocol::kReplyBit).Done();
}

}  // namespace omr72::emu
