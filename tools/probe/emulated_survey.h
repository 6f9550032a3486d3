// The survey of the emulated host, for omr72-probe --emulated: the recorder where the chosen
// route puts it, a foreign disk on drive 0 and a USB device with other ids at ezusb-1.
#pragma once

#include "emulator/emulated_host.h"
#include "platform/device_survey.h"

namespace omr72::probe {

class EmulatedSurvey : public DeviceSurvey {
 public:
  explicit EmulatedSurvey(emu::StartRoute route);

  UsbDriver& usb() override { return host_.usb(); }
  ScsiPassThrough& scsi() override { return host_.scsi(); }
  // The emulated host has names only, no nodes, and no drives beside them.
  std::string UsbNode(const char*) override { return ""; }
  std::string DriveNode(const char*) override { return ""; }
  std::vector<std::string> UnaddressedDrives() override { return {}; }
  std::string UsbRouteNeeds() override { return "nothing: the host is emulated."; }
  std::string DiskRouteNeeds() override { return "nothing: the host is emulated."; }

  emu::EmulatedHost& host() { return host_; }

 private:
  emu::EmulatedHost host_;
};

}  // namespace omr72::probe
