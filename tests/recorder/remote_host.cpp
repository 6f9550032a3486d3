#include "tests/recorder/remote_host.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "emulator/emulated_pass_through.h"
#include "emulator/emulated_usb.h"
#include "tools/recorder/message_stream.h"

namespace omr72::testing {
namespace {

using emu::protocol::Message;
using emu::protocol::Reader;
using emu::protocol::Writer;

bool IsReply(const Message& reply, uint8_t request) {
  return reply.type == (request | emu::protocol::kReplyBit);
}

class RemoteUsbDevice : public UsbDevice {
 public:
  RemoteUsbDevice(RecorderClient& client, uint32_t handle) : client_(client), handle_(handle) {}
  ~RemoteUsbDevice() override { client_.Call(Writer(emu::protocol::kClose).U32(handle_).Done()); }

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    const Message reply = client_.Call(Writer(emu::protocol::kUsbDescriptor).U32(handle_).Done());
    Reader in(reply.payload);
    uint8_t ok = 0;
    const uint8_t* bytes = nullptr;
    if (!IsReply(reply, emu::protocol::kUsbDescriptor) || !in.U8(ok) ||
        !in.Bytes(kDeviceDescriptorSize, bytes)) {
      return false;
    }
    std::copy_n(bytes, kDeviceDescriptorSize, descriptor.begin());
    return ok != 0;
  }

  // The driver's request block as the setup packet a device sees.
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    const bool in = data.isIn();
    const uint32_t length = data.size();
    const uint8_t requestType =
        static_cast<uint8_t>((in ? 0x80 : 0) | ((block[1] & 3) << 5) | (block[2] & 0x1F));
    const uint8_t setup[8] = {requestType,
                              block[4],
                              block[6],
                              block[7],
                              block[8],
                              block[9],
                              static_cast<uint8_t>(length),
                              static_cast<uint8_t>(length >> 8)};
    Writer request(emu::protocol::kUsbControl);
    request.U32(handle_).Bytes(setup, sizeof setup);
    if (!in) request.Bytes(data.out().data(), length);
    const Message reply = client_.Call(request.Done());
    Reader r(reply.payload);
    uint8_t ok = 0;
    uint32_t n = 0;
    const uint8_t* bytes = nullptr;
    if (!IsReply(reply, emu::protocol::kUsbControl) || !r.U8(ok) || !r.U32(n) ||
        !r.Bytes(n, bytes) || n > length) {
      return false;
    }
    if (n > 0) std::copy_n(bytes, n, data.in().begin());
    return ok != 0;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    const uint32_t length = static_cast<uint32_t>(data.size());
    const Message reply = client_.Call(
        Writer(emu::protocol::kUsbBulkRead).U32(handle_).U32(Pipe(pipe)).U32(length).Done());
    Reader r(reply.payload);
    uint8_t ok = 0;
    const uint8_t* bytes = nullptr;
    if (!IsReply(reply, emu::protocol::kUsbBulkRead) || !r.U8(ok) || !r.U32(moved) ||
        moved > length || !r.Bytes(moved, bytes)) {
      moved = 0;
      return false;
    }
    if (moved > 0) std::copy_n(bytes, moved, data.begin());
    return ok != 0;
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    const uint32_t length = static_cast<uint32_t>(data.size());
    const Message reply = client_.Call(Writer(emu::protocol::kUsbBulkWrite)
                                           .U32(handle_)
                                           .U32(Pipe(pipe))
                                           .U32(length)
                                           .Bytes(data.data(), length)
                                           .Done());
    Reader r(reply.payload);
    uint8_t ok = 0;
    if (!IsReply(reply, emu::protocol::kUsbBulkWrite) || !r.U8(ok) || !r.U32(moved)) return false;
    return ok != 0;
  }

 private:
  static uint32_t Pipe(const BulkPipeBlock& block) { return LoadLe32(block); }

  RecorderClient& client_;
  uint32_t handle_;
};

class RemoteDrive : public ScsiDrive {
 public:
  RemoteDrive(RecorderClient& client, uint32_t handle) : client_(client), handle_(handle) {}
  ~RemoteDrive() override { client_.Call(Writer(emu::protocol::kClose).U32(handle_).Done()); }

  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    Writer w(emu::protocol::kScsi);
    w.U32(handle_).U8(request.direction()).U8(16).Bytes(request.cdb.data(), request.cdb.size());
    w.U32(request.length()).U32(request.timeoutSeconds);
    if (!request.data.isIn()) w.Bytes(request.data.out().data(), request.length());
    const Message reply = client_.Call(w.Done());
    Reader r(reply.payload);
    uint8_t completed = 0;
    uint8_t status = 0;
    uint32_t n = 0;
    const uint8_t* bytes = nullptr;
    if (!IsReply(reply, emu::protocol::kScsi) || !r.U8(completed) || !r.U8(status) || !r.U32(n) ||
        n > request.length() || !r.Bytes(n, bytes)) {
      return false;
    }
    if (!completed) return false;
    if (n > 0) std::copy_n(bytes, n, request.data.in().begin());
    scsiStatus = status;
    return true;
  }

 private:
  RecorderClient& client_;
  uint32_t handle_;
};

uint32_t OpenHandle(RecorderClient& client, uint8_t type, int slot) {
  const Message reply = client.Call(Writer(type).U8(static_cast<uint8_t>(slot)).Done());
  Reader r(reply.payload);
  uint32_t handle = 0;
  if (!IsReply(reply, type) || !r.U32(handle)) return 0;
  return handle;
}

}  // namespace

RecorderClient::~RecorderClient() {
  if (fd_ >= 0) close(fd_);
}

Message RecorderClient::Call(const Message& request) {
  Message reply;
  if (!recorder::WriteMessage(fd_, request) ||
      recorder::ReadMessage(fd_, reply) != recorder::ReadResult::kMessage) {
    ++errors_;
    return Message{};
  }
  if (reply.type == emu::protocol::kError) ++errors_;
  return reply;
}

int ConnectToRecorder(const std::string& path, int attempts) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  for (int i = 0; i < attempts; ++i) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

std::unique_ptr<UsbDevice> RemoteUsbDriver::Open(const char* path) {
  const int slot = emu::ParseUsbSlot(path);
  if (slot < 0) return nullptr;
  const uint32_t handle = OpenHandle(client_, emu::protocol::kUsbOpen, slot);
  if (handle == 0) return nullptr;
  return std::make_unique<RemoteUsbDevice>(client_, handle);
}

std::unique_ptr<ScsiDrive> RemotePassThrough::Open(const char* deviceName) {
  const int drive = emu::ParseDriveNumber(deviceName);
  if (drive < 0) return nullptr;
  const uint32_t handle = OpenHandle(client_, emu::protocol::kDiskOpen, drive);
  if (handle == 0) return nullptr;
  return std::make_unique<RemoteDrive>(client_, handle);
}

}  // namespace omr72::testing
