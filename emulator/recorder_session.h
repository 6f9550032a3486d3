// One emulated host served to a client in messages (emulator/recorder_protocol.h): the client
// opens the recorder's faces by slot and drives them with raw USB setup packets, bulk transfers
// and CDBs, and the session turns each request into the same call on the host that the
// in-process UsbDriver and ScsiPassThrough make, so both kinds of client see one model.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "emulator/emulated_host.h"
#include "emulator/recorder_protocol.h"

namespace omr72::emu {

class RecorderSession {
 public:
  explicit RecorderSession(EmulatedHost& host) : host_(host) {}

  // One request, one reply. Malformed and unknown requests get an error reply.
  protocol::Message Handle(const protocol::Message& request);
  // True once a SHUTDOWN has been answered.
  bool shutdownRequested() const { return shutdown_; }
  // Closes every handle, as when a client goes away.
  void CloseAll() { handles_.clear(); }

 private:
  struct OpenDevice {
    std::unique_ptr<UsbDevice> usb;
    std::unique_ptr<ScsiDrive> disk;
    int slot = 0;
    uint32_t epoch = 0;
  };

  protocol::Message Hello(protocol::Reader& in);
  protocol::Message Status(protocol::Reader& in);
  protocol::Message UsbOpen(protocol::Reader& in);
  protocol::Message UsbDescriptor(protocol::Reader& in);
  protocol::Message UsbControl(protocol::Reader& in);
  protocol::Message UsbBulk(bool read, protocol::Reader& in);
  protocol::Message DiskOpen(protocol::Reader& in);
  protocol::Message Scsi(protocol::Reader& in);
  protocol::Message Close(protocol::Reader& in);
  // The open handle of that kind, or nullptr.
  OpenDevice* Find(uint32_t handle, bool usb);
  uint32_t Add(OpenDevice device);

  EmulatedHost& host_;
  std::map<uint32_t, OpenDevice> handles_;
  uint32_t nextHandle_ = 1;
  bool shutdown_ = false;
};

}  // namespace omr72::emu
