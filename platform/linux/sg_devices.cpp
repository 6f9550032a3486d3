// Linux: the sysfs walk behind the drive digits. Every filesystem call takes an error_code: a
// device that vanishes while we look is skipped, never thrown about.
#include "platform/linux/sg_devices.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <system_error>

namespace omr72 {
namespace {

namespace fs = std::filesystem;

bool BoundToUsbStorage(const fs::path& device) {
  std::error_code ec;
  fs::path driver = fs::read_symlink(device / "driver", ec);
  if (ec) return false;
  std::string name = driver.filename().string();
  return name == "usb-storage" || name == "uas";
}

bool SitsOnUsbStorage(const fs::path& root, const fs::path& device) {
  for (fs::path p = device; p != root && p != p.parent_path(); p = p.parent_path()) {
    if (BoundToUsbStorage(p)) return true;
  }
  return false;
}

// The USB device's enumeration number (its "devnum"), read from the nearest ancestor that has
// one: a device plugged in again gets a new one, even on the same port.
std::string Enumeration(const fs::path& root, const fs::path& device) {
  for (fs::path p = device; p != root && p != p.parent_path(); p = p.parent_path()) {
    std::error_code ec;
    if (!fs::is_regular_file(p / "devnum", ec)) continue;
    std::ifstream file(p / "devnum");
    std::string devnum;
    std::getline(file, devnum);
    return devnum;
  }
  return {};
}

std::optional<unsigned> SgNumber(std::string_view name) {
  if (name.size() < 3 || name.size() > 8 || !name.starts_with("sg")) return std::nullopt;
  unsigned k = 0;
  for (char c : name.substr(2)) {
    if (c < '0' || c > '9') return std::nullopt;
    k = k * 10 + static_cast<unsigned>(c - '0');
  }
  return k;
}

std::optional<UsbSgDevice> Describe(const fs::path& root, const fs::path& entry) {
  const std::optional<unsigned> k = SgNumber(entry.filename().string());
  if (!k) return std::nullopt;
  std::error_code ec;
  const fs::path device = fs::canonical(entry / "device", ec);
  if (ec || !SitsOnUsbStorage(root, device)) return std::nullopt;
  return UsbSgDevice{*k, device.string() + "#" + Enumeration(root, device)};
}

}  // namespace

std::vector<UsbSgDevice> ListUsbSgDevices(const fs::path& sysfsRoot) {
  std::vector<UsbSgDevice> found;
  std::error_code ec;
  const fs::path root = fs::canonical(sysfsRoot, ec);
  if (ec) return found;
  fs::directory_iterator it(root / "class" / "scsi_generic", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (std::optional<UsbSgDevice> device = Describe(root, it->path())) found.push_back(*device);
  }
  std::sort(found.begin(), found.end(),
            [](const UsbSgDevice& a, const UsbSgDevice& b) { return a.number < b.number; });
  return found;
}

const std::vector<UsbSgDevice>& SgDriveMap::Devices() const {
  if (!listed_ || listingDue_()) {
    devices_ = ListUsbSgDevices(sysfsRoot_);
    listed_ = true;
  }
  return devices_;
}

std::optional<UsbSgDevice> SgDriveMap::AtPosition(unsigned digit) const {
  const std::vector<UsbSgDevice>& devices = Devices();
  if (digit >= devices.size()) return std::nullopt;
  return devices[digit];
}

void SgDriveMap::Bind(unsigned digit, const std::optional<UsbSgDevice>& device) {
  if (digit >= kDigits) return;
  named_[digit] = device ? std::optional<std::string>(device->identity) : std::nullopt;
}

std::optional<unsigned> SgDriveMap::Named(unsigned digit) const {
  if (digit >= kDigits || !named_[digit]) return std::nullopt;
  for (const UsbSgDevice& device : Devices()) {
    if (device.identity == *named_[digit]) return device.number;
  }
  return std::nullopt;
}

}  // namespace omr72
