// Linux: the USB disks' sg devices, and which of them a drive digit names.
//
// A digit of "\\.\PHYSICALDRIVEN" is given its meaning by the scan: the INQUIRY sent through
// digit N goes to the N-th USB sg device of that moment, and from then on digit N names that
// device by its sysfs identity, not by its position. A stick pulled from a lower sg number, or
// a disk that takes a freed number, therefore never moves a digit onto another disk; when the
// named device is gone, commands through the digit fail until the next scan.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace omr72 {

struct UsbSgDevice {
  unsigned number = 0;   // K of /dev/sgK
  std::string identity;  // the SCSI device's sysfs path and its USB device's enumeration
};

// The sg devices under `sysfsRoot` that sit on a device bound to usb-storage or uas, in
// ascending numeric order. Never throws: entries that cannot be read are left out.
std::vector<UsbSgDevice> ListUsbSgDevices(const std::filesystem::path& sysfsRoot);

class SgDriveMap {
 public:
  static constexpr unsigned kDigits = 10;

  // `listingDue` says whether the sg devices may have changed since they were last listed (a
  // watch on the device nodes); without it they are listed afresh at every question.
  explicit SgDriveMap(
      std::filesystem::path sysfsRoot, std::function<bool()> listingDue = [] { return true; })
      : sysfsRoot_(std::move(sysfsRoot)), listingDue_(std::move(listingDue)) {}

  // The digit-th USB sg device now, the one a scan's INQUIRY reaches, with its identity.
  std::optional<UsbSgDevice> AtPosition(unsigned digit) const;
  // Digit `digit` names `device` from now on; nothing when the scan found no device there.
  void Bind(unsigned digit, const std::optional<UsbSgDevice>& device);
  // The sg number under which the device the digit names is present now; nothing when that
  // device is gone or the digit names none.
  std::optional<unsigned> Named(unsigned digit) const;

 private:
  const std::vector<UsbSgDevice>& Devices() const;

  std::filesystem::path sysfsRoot_;
  std::function<bool()> listingDue_;
  mutable std::vector<UsbSgDevice> devices_;
  mutable bool listed_ = false;
  std::array<std::optional<std::string>, kDigits> named_;
};

}  // namespace omr72
