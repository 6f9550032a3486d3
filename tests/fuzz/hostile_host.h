// A hostile recorder for fuzzing: the emulated host answers every request first, then the fuzz
// input may fail it, set a bad SCSI status, overwrite or cut short its data, claim more bulk
// bytes than were asked, or make a foreign device answer like the recorder. With the input used
// up every request passes unchanged, so short inputs still reach the ends of the flows.
//
// It checks what the fuzzer cannot see for itself and aborts when a check fails:
// - a command reaches a device that the last scan did not identify as the recorder;
// - runs that never end are stopped (HostileHost::Stop is thrown) after a bound.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>

#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72::fuzz {

class HostileHost {
 public:
  struct Stop {};

  HostileHost(UsbDriver& usb, ScsiPassThrough& scsi, FuzzedDataProvider& input)
      : usbInner_(usb), scsiInner_(scsi), input_(input) {}

  std::unique_ptr<UsbDevice> OpenUsb(const char* path);
  std::unique_ptr<ScsiDrive> OpenDrive(const char* name);

  // --- for the wrapped devices ---
  enum class Twist { kNone, kFail, kStatus, kOverwrite, kShort, kLonger, kImpostor };
  Twist NextTwist();
  FuzzedDataProvider& input() { return input_; }
  // Called for every request that reaches a device; throws Stop past the bounds.
  void Request(bool presenceTest);
  // The SCSI scan state: the drive whose INQUIRY last answered as the recorder, or -1.
  int identifiedDrive = -1;

 private:
  void Opened();

  UsbDriver& usbInner_;
  ScsiPassThrough& scsiInner_;
  FuzzedDataProvider& input_;
  size_t quietOpens_ = 0;
  size_t requests_ = 0;
};

// The platform faces of a HostileHost.
class HostileUsbDriver : public UsbDriver {
 public:
  explicit HostileUsbDriver(HostileHost& host) : host_(host) {}
  std::unique_ptr<UsbDevice> Open(const char* path) override { return host_.OpenUsb(path); }

 private:
  HostileHost& host_;
};

class HostilePassThrough : public ScsiPassThrough {
 public:
  explicit HostilePassThrough(HostileHost& host) : host_(host) {}
  std::unique_ptr<ScsiDrive> Open(const char* name) override { return host_.OpenDrive(name); }

 private:
  HostileHost& host_;
};

}  // namespace omr72::fuzz
