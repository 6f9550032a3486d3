#include "testbeds/linux/gadget/functionfs.h"

#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace omr72::testbed {
namespace {

namespace fs = std::filesystem;

constexpr char kConfigfs[] = "/sys/kernel/config/usb_gadget/";
constexpr char kFfsMounts[] = "/dev/ffs/";
constexpr uint16_t kFullSpeedPacket = 64;
constexpr uint16_t kHighSpeedPacket = 512;

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  file.flush();
  if (!file) std::fprintf(stderr, "gadget: cannot write '%s' to %s\n", text.c_str(), path.c_str());
  return static_cast<bool>(file);
}

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One speed's interface and endpoint descriptors.
void AppendDescriptors(std::vector<uint8_t>& out, const InterfaceSpec& spec, uint16_t packet) {
  const uint8_t endpoints = static_cast<uint8_t>(spec.endpoints.size());
  out.insert(out.end(), {9, USB_DT_INTERFACE, 0, 0, endpoints, spec.interfaceClass, spec.subclass,
                         spec.protocol, 1});
  for (size_t i = 0; i < spec.endpoints.size(); ++i) {
    const uint8_t address = static_cast<uint8_t>((i + 1) | (spec.endpoints[i].in ? USB_DIR_IN : 0));
    out.insert(out.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK});
    PutLe16(out, packet);
    out.push_back(0);
  }
}

// FunctionFS descriptors, format 2: full and high speed, and every control request that is
// not a standard one handed to us, whatever its recipient (the boot loader's vendor requests
// go to the device).
std::vector<uint8_t> Descriptors(const InterfaceSpec& spec) {
  std::vector<uint8_t> body;
  const uint32_t count = 1 + static_cast<uint32_t>(spec.endpoints.size());
  PutLe32(body, count);
  PutLe32(body, count);
  AppendDescriptors(body, spec, kFullSpeedPacket);
  AppendDescriptors(body, spec, kHighSpeedPacket);
  std::vector<uint8_t> out;
  PutLe32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  PutLe32(out, static_cast<uint32_t>(12 + body.size()));
  PutLe32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> Strings(const std::string& interfaceName) {
  std::vector<uint8_t> out;
  PutLe32(out, FUNCTIONFS_STRINGS_MAGIC);
  PutLe32(out, static_cast<uint32_t>(16 + 2 + interfaceName.size() + 1));
  PutLe32(out, 1);  // strings
  PutLe32(out, 1);  // languages
  PutLe16(out, 0x0409);
  out.insert(out.end(), interfaceName.begin(), interfaceName.end());
  out.push_back(0);
  return out;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes, const char* what) {
  if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size())) return true;
  std::fprintf(stderr, "gadget: FunctionFS refused the %s: %s\n", what, std::strerror(errno));
  return false;
}

}  // namespace

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

std::string FunctionFsDevice::GadgetDir() const {
  return kConfigfs + spec_.name;
}

std::string FunctionFsDevice::MountDir() const {
  return kFfsMounts + spec_.name;
}

FunctionFsDevice::~FunctionFsDevice() {
  Destroy();
}

bool FunctionFsDevice::Create() {
  const std::string g = GadgetDir();
  const std::string function = g + "/functions/ffs." + spec_.name;
  std::error_code ec;
  fs::create_directories(g + "/strings/0x409", ec);
  fs::create_directories(g + "/configs/c.1/strings/0x409", ec);
  fs::create_directories(function, ec);
  created_ = true;
  if (ec) {
    std::fprintf(stderr, "gadget: cannot make %s: %s\n", g.c_str(), ec.message().c_str());
    return false;
  }
  bool ok = WriteText(g + "/idVendor", Hex4(spec_.vendorId)) &&
            WriteText(g + "/idProduct", Hex4(spec_.productId)) &&
            WriteText(g + "/bcdUSB", "0x0200") && WriteText(g + "/bcdDevice", "0x0001") &&
            WriteText(g + "/bDeviceClass", std::to_string(spec_.deviceClass)) &&
            WriteText(g + "/strings/0x409/manufacturer", "Orlo") &&
            WriteText(g + "/strings/0x409/product", spec_.product) &&
            WriteText(g + "/strings/0x409/serialnumber", "OMR72TESTBED") &&
            WriteText(g + "/configs/c.1/MaxPower", "100") &&
            WriteText(g + "/configs/c.1/strings/0x409/configuration", "c1");
  if (!ok) return false;
  fs::create_symlink(function, g + "/configs/c.1/ffs." + spec_.name, ec);
  fs::create_directories(MountDir(), ec);
  if (mount(spec_.name.c_str(), MountDir().c_str(), "functionfs", 0, nullptr) != 0) {
    std::fprintf(stderr, "gadget: cannot mount FunctionFS %s: %s\n", spec_.name.c_str(),
                 std::strerror(errno));
    return false;
  }
  mounted_ = true;
  ep0_ = Fd(open((MountDir() + "/ep0").c_str(), O_RDWR | O_CLOEXEC));
  if (ep0_.get() < 0) return false;
  if (!WriteAll(ep0_.get(), Descriptors(spec_.interface), "descriptors")) return false;
  if (!WriteAll(ep0_.get(), Strings(spec_.product), "strings")) return false;
  // Non-blocking: a read or write on an endpoint that is not enabled (the device is off the
  // bus) fails at once instead of waiting for the next enumeration.
  for (size_t i = 0; i < spec_.interface.endpoints.size(); ++i) {
    const std::string path = MountDir() + "/ep" + std::to_string(i + 1);
    endpoints_.emplace_back(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (endpoints_.back().get() < 0) {
      std::fprintf(stderr, "gadget: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
      return false;
    }
  }
  return true;
}

bool FunctionFsDevice::Bind(const std::string& udc) {
  if (!WriteText(GadgetDir() + "/UDC", udc)) return false;
  udc_ = udc;
  return true;
}

bool FunctionFsDevice::Unbind() {
  if (udc_.empty()) return true;
  udc_.clear();
  return WriteText(GadgetDir() + "/UDC", "\n");
}

void FunctionFsDevice::Destroy() {
  if (!created_) return;
  created_ = false;
  Unbind();
  endpoints_.clear();
  ep0_ = Fd();
  if (mounted_) umount(MountDir().c_str());
  mounted_ = false;
  const std::string g = GadgetDir();
  unlink((g + "/configs/c.1/ffs." + spec_.name).c_str());
  for (const std::string& dir :
       {g + "/configs/c.1/strings/0x409", g + "/configs/c.1", g + "/functions/ffs." + spec_.name,
        g + "/strings/0x409", g, MountDir()}) {
    rmdir(dir.c_str());
  }
}

std::vector<std::string> DeviceControllers() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/class/udc", ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace omr72::testbed
