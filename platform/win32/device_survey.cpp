// Windows: the device survey over the backends the updater uses. Behind each USB name stands
// either an EZ-USB driver object or, where there is none, a served device bound to WinUSB; the
// node column says which, the latter by the device instance path Device Manager shows.
#include "platform/device_survey.h"

#include <windows.h>

#include <string>

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

class Win32DeviceSurvey : public DeviceSurvey {
 public:
  Win32DeviceSurvey()
      : usb_(NativePlatform::MakeUsbDriver()),
        scsi_(NativePlatform::MakePassThrough()),
        winUsb_(SystemWinUsbApi()) {}

  UsbDriver& usb() override { return *usb_; }
  ScsiPassThrough& scsi() override { return *scsi_; }

  std::string UsbNode(const char* path) override {
    Win32Handle ezusb(
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (ezusb.valid()) return "EZ-USB driver";
    const std::optional<unsigned> n = UsbDeviceIndex(path);
    const std::vector<WinUsbDevicePath>& devices = winUsb_.Devices();
    if (!n || *n >= devices.size()) return "";
    return "WinUSB " + InstancePath(devices[*n].instance);
  }

  std::string DriveNode(const char*) override { return ""; }
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
  std::unique_ptr<ScsiPassThrough> scsi_;
  WinUsbDriver winUsb_;
};

}  // namespace

std::unique_ptr<DeviceSurvey> MakeNativeDeviceSurvey() {
  return std::make_unique<Win32DeviceSurvey>();
}

}  // namespace omr72
