// Linux: the device survey over the same backends the updater uses, plus sysfs for the drives
// that are never addressed.
#include "platform/device_survey.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "platform/linux/pass_through.h"
#include "platform/linux/usb_driver.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute's text without its trailing blanks; empty when unreadable.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  text.erase(text.find_last_not_of(" \t\n") + 1);
  return text;
}

std::vector<unsigned> AllScsiGenericDevices(const fs::path& sysfsRoot) {
  std::vector<unsigned> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysfsRoot / "class" / "scsi_generic", ec)) {
    const std::string name = entry.path().filename().string();
    unsigned k = 0;
    const char* end = name.data() + name.size();
    if (name.starts_with("sg") && std::from_chars(name.data() + 2, end, k).ptr == end) {
      found.push_back(k);
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

class LinuxDeviceSurvey : public DeviceSurvey {
 public:
  UsbDriver& usb() override { return usb_; }
  ScsiPassThrough& scsi() override { return scsi_; }
  std::string UsbNode(const char* path) override { return usb_.NodeOf(path); }
  std::string DriveNode(const char* deviceName) override { return scsi_.NodeOf(deviceName); }

  std::vector<std::string> UnaddressedDrives() override {
    const std::vector<unsigned> usb = UsbScsiGenericDevices(kSysfs);
    std::vector<std::string> lines;
    for (unsigned k : AllScsiGenericDevices(kSysfs)) {
      if (std::find(usb.begin(), usb.end(), k) != usb.end()) continue;
      const fs::path device =
          kSysfs / "class" / "scsi_generic" / ("sg" + std::to_string(k)) / "device";
      const std::string label = Attribute(device / "vendor") + " " + Attribute(device / "model");
      lines.push_back("/dev/sg" + std::to_string(k) + ": " + label +
                      "; not on a USB host, so never addressed");
    }
    return lines;
  }

  std::string UsbRouteNeeds() override {
    return "read and write access to the usbfs node (/dev/bus/usb/BBB/DDD) of the device "
           "10c4:4512. The udev rules 70-omr72-recorder.rules give it to the user logged in at "
           "the machine (uaccess); without them only root has it." +
           RootNote();
  }

  std::string DiskRouteNeeds() override {
    return "read and write access to the recorder disk's SCSI generic node (/dev/sgN). The "
           "kernel checks SG_IO commands against its list of safe opcodes only for sg nodes "
           "opened read-only (and for block devices such as /dev/sdX); an sg node opened for "
           "reading and writing passes the vendor command 0xC8, so no CAP_SYS_RAWIO is needed. "
           "The udev rules 70-omr72-recorder.rules give the node to the user logged in at the "
           "machine; membership of the group disk gives it too, with every other disk." +
           RootNote();
  }

 private:
  static std::string RootNote() {
    return geteuid() == 0 ? " (You are root: every node is open to you.)" : "";
  }

  const fs::path kSysfs = "/sys";
  LinuxUsbDriver usb_;
  LinuxSgPassThrough scsi_;
};

}  // namespace

std::unique_ptr<DeviceSurvey> MakeNativeDeviceSurvey() {
  return std::make_unique<LinuxDeviceSurvey>();
}

}  // namespace omr72
