// Windows: the device survey over the backends the updater uses. Behind each USB name stands
// either an EZ-USB driver object or, where there is none, a served device bound to WinUSB; the
// node column says which, the latter by the device instance path Device Manager shows. Behind
// each drive name stands a disk, named by the bus Windows reports for it, which a console
// without administrator rights may not open.
#include "platform/device_survey.h"

#include <windows.h>
// windows.h first: winioctl.h needs its types.
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/access_denials.h"
#include "platform/native.h"
#include "platform/usb_requests.h"
#include "platform/win32/handle.h"
#include "platform/win32/winusb_driver.h"

namespace omr72 {
namespace {

// "usb#vid_10c4&pid_4512#5&1a2b3c&0&2" as Device Manager writes it:
// "USB\VID_10C4&PID_4512\5&1A2B3C&0&2".
std::string InstancePath(std::string instance) {
  const size_t start = instance.rfind('\\');  // after "\\?\"
  if (start != std::string::npos) instance.erase(0, start + 1);
  for (char& c : instance) {
    if (c == '#') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return instance;
}

const char* BusName(STORAGE_BUS_TYPE bus) {
  switch (bus) {
    case BusTypeUsb:
      return "USB";
    case BusTypeSata:
      return "SATA";
    case BusTypeAta:
      return "ATA";
    case BusTypeScsi:
      return "SCSI";
    case BusTypeSas:
      return "SAS";
    case BusTypeNvme:
      return "NVMe";
    case BusTypeSd:
      return "SD";
    case BusTypeMmc:
      return "MMC";
    case BusTypeVirtual:
    case BusTypeFileBackedVirtual:
      return "virtual";
    default:
      return "other";
  }
}

// The drive backend, noting the drives it may not open: Windows lets only administrators open
// a disk for reading and writing, which SCSI pass-through needs.
class DenialNotingPassThrough : public ScsiPassThrough {
 public:
  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override {
    std::unique_ptr<ScsiDrive> drive = backend_->Open(deviceName);
    if (drive) return drive;
    // Asked again, as the backend asks, to learn why it failed.
    HANDLE handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
    const DWORD error = GetLastError();
    Win32Handle opened(handle);
    if (!opened.valid() && error == ERROR_ACCESS_DENIED) denials_.Note({deviceName});
    return nullptr;
  }

  std::vector<AccessDenial> TakeAccessDenials() override {
    std::vector<AccessDenial> found = backend_->TakeAccessDenials();
    for (AccessDenial& d : denials_.Take()) {
      if (std::find(found.begin(), found.end(), d) == found.end()) found.push_back(std::move(d));
    }
    return found;
  }

 private:
  std::unique_ptr<ScsiPassThrough> backend_ = NativePlatform::MakePassThrough();
  AccessDenialLog denials_;
};

class Win32DeviceSurvey : public DeviceSurvey {
 public:
  Win32DeviceSurvey() : usb_(NativePlatform::MakeUsbDriver()), winUsb_(SystemWinUsbApi()) {}

  UsbDriver& usb() override { return *usb_; }
  ScsiPassThrough& scsi() override { return scsi_; }

  std::string UsbNode(const char* path) override {
    Win32Handle ezusb(
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (ezusb.valid()) return "EZ-USB driver";
    const std::optional<unsigned> n = UsbDeviceIndex(path);
    const std::vector<WinUsbDevicePath>& devices = winUsb_.Devices();
    if (!n || *n >= devices.size()) return "";
    return "WinUSB " + InstancePath(devices[*n].instance);
  }

  // A handle without access rights opens for everyone and answers the storage property query.
  std::string DriveNode(const char* deviceName) override {
    Win32Handle disk(CreateFileA(deviceName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    if (!disk.valid()) return "";
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    DWORD returned = 0;
    if (!DeviceIoControl(disk.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                         &descriptor, sizeof descriptor, &returned, nullptr) ||
        returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType) {
      return "disk";
    }
    return std::string("disk on ") + BusName(descriptor.BusType);
  }
  std::vector<std::string> UnaddressedDrives() override { return {}; }

  std::string UsbRouteNeeds() override {
    return "the recorder's boot loader (10c4:4512) bound to a driver: the EZ-USB driver "
           "(\\\\.\\ezusb-N; no signed 64-bit build is known, so not on a 64-bit Windows 10 "
           "or 11) or WinUSB, which comes with Windows: install omr72-winusb.inf, or bind it "
           "with Zadig, or in Device Manager (\"Universal Serial Bus devices\", \"WinUsb "
           "Device\"); see README.md. No administrator rights are needed once it is bound.";
  }

  std::string DiskRouteNeeds() override {
    return "administrator rights (\"Run as administrator\"): Windows opens "
           "\\\\.\\PHYSICALDRIVEn for SCSI pass-through commands to administrators only. "
           "No driver is needed.";
  }

 private:
  std::unique_ptr<UsbDriver> usb_;
  DenialNotingPassThrough scsi_;
  WinUsbDriver winUsb_;
};

}  // namespace

std::unique_ptr<DeviceSurvey> MakeNativeDeviceSurvey() {
  return std::make_unique<Win32DeviceSurvey>();
}

}  // namespace omr72
