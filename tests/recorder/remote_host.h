// The test client's side of omr72-recorder: a UsbDriver and a ScsiPassThrough that forward
// every call over the recorder protocol, so that the real updater code can run against a
// recorder served by another process.
#pragma once

#include <memory>

#include "emulator/recorder_protocol.h"
#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72::testing {

class RecorderClient {
 public:
  explicit RecorderClient(int fd) : fd_(fd) {}
  ~RecorderClient();
  RecorderClient(const RecorderClient&) = delete;
  RecorderClient& operator=(const RecorderClient&) = delete;

  // One request, its reply; a reply of type 0 when the stream broke.
  emu::protocol::Message Call(const emu::protocol::Message& request);
  int errors() const { return errors_; }

 private:
  int fd_;
  int errors_ = 0;  // error replies and broken calls: a faithful client causes none
};

// Connects to the socket, trying again while the server is still starting; -1 if it never
// answers within about `attempts` x 10 ms.
int ConnectToRecorder(const std::string& path, int attempts);

class RemoteUsbDriver : public UsbDriver {
 public:
  explicit RemoteUsbDriver(RecorderClient& client) : client_(client) {}
  std::unique_ptr<UsbDevice> Open(const char* path) override;

 private:
  RecorderClient& client_;
};

class RemotePassThrough : public ScsiPassThrough {
 public:
  explicit RemotePassThrough(RecorderClient& client) : client_(client) {}
  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override;

 private:
  RecorderClient& client_;
};

}  // namespace omr72::testing
