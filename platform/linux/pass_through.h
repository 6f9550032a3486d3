// Linux: SCSI pass-through to USB disks through the sg driver's SG_IO.
//
// "\\.\PHYSICALDRIVEN" names a /dev/sgK whose device hangs below a USB mass-storage interface,
// so that no command of ours ever reaches an internal disk: for a scan's INQUIRY the N-th such
// device (K in numeric order), for every other command the device that INQUIRY reached
// (sg_devices.h).
#pragma once

#include <scsi/sg.h>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/device_change_watch.h"
#include "platform/linux/sg_devices.h"
#include "platform/scsi_pass_through.h"

namespace omr72 {

constexpr size_t kSgSenseBufferSize = 32;
constexpr unsigned char kSgSenseRequested = 24;

// The digit N of "\\.\PHYSICALDRIVEN"; nothing for any other name.
std::optional<unsigned> DriveIndex(const char* deviceName);

// The numbers K of the sgK devices under `sysfsRoot` that sit on a device bound to
// usb-storage or uas, in ascending numeric order.
std::vector<unsigned> UsbScsiGenericDevices(const std::filesystem::path& sysfsRoot);

// What an SG_IO header points into besides the caller's buffer; it must outlive the ioctl.
struct SgIoBuffers {
  Cdb cdb{};
  std::array<unsigned char, kSgSenseBufferSize> sense{};
  std::vector<uint8_t> dataOut;
};

// The SG_IO header for one request that passed ScsiDrive::Execute's check.
sg_io_hdr BuildSgIoHeader(const ScsiRequest& request, SgIoBuffers& buffers);

// Whether the OS completed the request: the ioctl returned 0 and the info word says OK.
bool SgIoCompleted(int ioctlResult, const sg_io_hdr& header);

class LinuxSgPassThrough : public ScsiPassThrough {
 public:
  explicit LinuxSgPassThrough(std::filesystem::path sysfsRoot = "/sys",
                              std::filesystem::path deviceDir = "/dev");
  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override;
  std::vector<AccessDenial> TakeAccessDenials() override { return denials_.Take(); }
  // The /dev/sgK behind the device name, for the probe; empty when there is none.
  std::string NodeOf(const char* deviceName);

 private:
  // Opens /dev/sgK for K = `number`; -1 when there is none or it cannot be opened.
  int OpenNode(std::optional<unsigned> number);

  std::filesystem::path deviceDir_;
  AccessDenialLog denials_;
  // The sg nodes are listed again only when they may have changed (see SgDriveMap).
  DeviceChangeWatch watch_;
  SgDriveMap map_;
};

}  // namespace omr72
