// What stands behind the program's device names on this machine, for the probe tool: the two
// routes' backends, the OS's node behind each name, the drives that are never addressed, and
// the access each route needs. Nothing here reads from a device.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72 {

class DeviceSurvey {
 public:
  virtual ~DeviceSurvey() = default;
  virtual UsbDriver& usb() = 0;
  virtual ScsiPassThrough& scsi() = 0;
  // The OS's node behind "\\.\ezusb-N" or "\\.\PHYSICALDRIVEN"; empty when there is none or
  // the OS has no such thing.
  virtual std::string UsbNode(const char* path) = 0;
  virtual std::string DriveNode(const char* deviceName) = 0;
  // Drives of this machine that no drive name reaches, each as "node: what and why".
  virtual std::vector<std::string> UnaddressedDrives() = 0;
  // What a user needs to use each route, one paragraph each.
  virtual std::string UsbRouteNeeds() = 0;
  virtual std::string DiskRouteNeeds() = 0;
};

// The survey of the machine the program runs on.
std::unique_ptr<DeviceSurvey> MakeNativeDeviceSurvey();

}  // namespace omr72
