#include "platform/win32/winusb_driver.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/usb_requests.h"

namespace omr72 {
namespace {

// A listing that found a device which then would not open is repeated, but not on every pass.
constexpr ULONGLONG kStaleRetryMs = 100;
// Bounds on what SetupAPI and WinUSB report, so that a bad answer ends a listing or a request
// instead of looping or overrunning.
constexpr DWORD kMaxInterfaces = 256;
constexpr DWORD kMaxPathBytes = 4096;
constexpr UCHAR kMaxEndpoints = 32;
constexpr UCHAR kDeviceDescriptorType = 1;
// GUID_DEVINTERFACE_USB_DEVICE (usbiodef.h), the interface class of every USB device; its
// definition is not in every MinGW import library.
constexpr GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// ASCII only, and without the C library's locale calls, which the executable does not import.
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// The path without its trailing "#{interface class}": the device instance, which both interface
// classes of one device share.
std::string InstanceOf(const std::string& path) {
  const std::string lower = Lower(path);
  const size_t cut = lower.rfind("#{");
  return cut == std::string::npos ? lower : lower.substr(0, cut);
}

std::optional<unsigned> HexField(std::string_view text, size_t at, size_t digits) {
  if (at + digits > text.size()) return std::nullopt;
  unsigned value = 0;
  for (size_t i = at; i < at + digits; ++i) {
    const char c = LowerAscii(text[i]);
    if (c >= '0' && c <= '9') {
      value = value * 16 + static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = value * 16 + static_cast<unsigned>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
  }
  return value;
}

class DeviceInfoList {
 public:
  DeviceInfoList(const WinUsbApi& api, HDEVINFO set) : api_(api), set_(set) {}
  ~DeviceInfoList() {
    if (valid()) api_.destroyDeviceInfoList(set_);
  }
  DeviceInfoList(const DeviceInfoList&) = delete;
  DeviceInfoList& operator=(const DeviceInfoList&) = delete;

  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

 private:
  const WinUsbApi& api_;
  HDEVINFO set_;
};

// Whether the device's function driver is WinUSB (its service name, in any case).
bool BoundToWinUsb(const WinUsbApi& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
  char service[64] = {};
  if (!api.getDeviceRegistryProperty(set, &device, SPDRP_SERVICE, nullptr,
                                     reinterpret_cast<PBYTE>(service), sizeof service - 1,
                                     nullptr)) {
    return false;
  }
  return Lower(std::string_view(service, strnlen(service, sizeof service))) == "winusb";
}

// One WinUSB session: the device's file handle and its interface 0 handle.
class WinUsbDevice : public UsbDevice {
 public:
  WinUsbDevice(const WinUsbApi& api, HANDLE file, WINUSB_INTERFACE_HANDLE usb)
      : api_(api), file_(file), usb_(usb) {}
  ~WinUsbDevice() override {
    api_.free(usb_);
    api_.closeHandle(file_);
  }
  WinUsbDevice(const WinUsbDevice&) = delete;
  WinUsbDevice& operator=(const WinUsbDevice&) = delete;

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    ULONG returned = 0;
    if (!api_.getDescriptor(usb_, kDeviceDescriptorType, 0, 0, descriptor.data(), descriptor.size(),
                            &returned)) {
      return false;
    }
    // A device descriptor is 18 bytes; a shorter answer would leave the rest unwritten.
    return returned == descriptor.size();
  }

  bool SetTimeout(UCHAR pipe, ULONG ms) {
    return api_.setPipePolicy(usb_, pipe, PIPE_TRANSFER_TIMEOUT, sizeof ms, &ms) != 0;
  }

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    const std::optional<ControlSetup> setup = DecodeVendorRequest(block, data.size());
    if (!setup) return false;
    const WINUSB_SETUP_PACKET packet = {setup->requestType, setup->request, setup->value,
                                        setup->index, setup->length};
    // WinUSB takes a mutable buffer in either direction; what we send goes from a copy.
    std::vector<uint8_t> sent(data.out().begin(), data.out().end());
    uint8_t* buffer = data.isIn() ? data.in().data() : sent.data();
    ULONG returned = 0;
    if (!api_.controlTransfer(usb_, packet, data.empty() ? nullptr : buffer, setup->length,
                              &returned, nullptr)) {
      return false;
    }
    return returned <= setup->length;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    return Bulk(pipe, true, data, moved);
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    std::vector<uint8_t> sent(data.begin(), data.end());
    return Bulk(pipe, false, sent, moved);
  }

  std::vector<UsbEndpoint> Endpoints() {
    std::vector<UsbEndpoint> endpoints;
    USB_INTERFACE_DESCRIPTOR settings = {};
    if (!api_.queryInterfaceSettings(usb_, 0, &settings)) return endpoints;
    const UCHAR count = std::min(settings.bNumEndpoints, kMaxEndpoints);
    for (UCHAR i = 0; i < count; ++i) {
      WINUSB_PIPE_INFORMATION info = {};
      if (!api_.queryPipe(usb_, 0, i, &info)) return {};
      // WinUSB's pipe types are the transfer types of bmAttributes.
      endpoints.push_back({info.PipeId, static_cast<uint8_t>(info.PipeType)});
    }
    return endpoints;
  }

  bool Bulk(const BulkPipeBlock& pipe, bool in, ByteSpan data, uint32_t& moved) {
    moved = 0;
    const std::optional<UsbEndpoint> endpoint = PipeEndpoint(Endpoints(), pipe, in);
    if (!endpoint || !SetTimeout(endpoint->address, WinUsbDriver::kBulkTimeoutMs)) return false;
    auto transfer = in ? api_.readPipe : api_.writePipe;
    ULONG returned = 0;
    const ULONG length = static_cast<ULONG>(data.size());
    if (!transfer(usb_, endpoint->address, data.data(), length, &returned, nullptr)) return false;
    if (returned > length) return false;
    moved = returned;
    return true;
  }

  const WinUsbApi& api_;
  HANDLE file_;
  WINUSB_INTERFACE_HANDLE usb_;
};

}  // namespace

std::optional<UsbId> UsbIdInPath(std::string_view path) {
  const std::string lower = Lower(path);
  const size_t vid = lower.find("vid_");
  if (vid == std::string::npos) return std::nullopt;
  const std::optional<unsigned> vendor = HexField(lower, vid + 4, 4);
  if (!vendor || lower.compare(vid + 8, 5, "&pid_") != 0) return std::nullopt;
  const std::optional<unsigned> product = HexField(lower, vid + 13, 4);
  if (!product) return std::nullopt;
  return UsbId{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product)};
}

std::optional<GUID> ParseGuid(std::string_view text) {
  // {8-4-4-4-12}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  const size_t dashes[] = {9, 14, 19, 24};
  for (size_t d : dashes) {
    if (text[d] != '-') return std::nullopt;
  }
  const auto a = HexField(text, 1, 8), b = HexField(text, 10, 4), c = HexField(text, 15, 4);
  if (!a || !b || !c) return std::nullopt;
  GUID guid = {};
  guid.Data1 = *a;
  guid.Data2 = static_cast<uint16_t>(*b);
  guid.Data3 = static_cast<uint16_t>(*c);
  const size_t bytes[] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (size_t i = 0; i < 8; ++i) {
    const auto byte = HexField(text, bytes[i], 2);
    if (!byte) return std::nullopt;
    guid.Data4[i] = static_cast<uint8_t>(*byte);
  }
  return guid;
}

void WinUsbDriver::ListClass(const GUID& interfaceClass,
                             std::vector<WinUsbDevicePath>& found) const {
  DeviceInfoList set(api_, api_.getClassDevs(&interfaceClass, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.valid()) return;
  for (DWORD i = 0; i < kMaxInterfaces; ++i) {
    SP_DEVICE_INTERFACE_DATA entry = {};
    entry.cbSize = sizeof entry;
    if (!api_.enumDeviceInterfaces(set.get(), nullptr, &interfaceClass, i, &entry)) break;
    DWORD required = 0;
    api_.getDeviceInterfaceDetail(set.get(), &entry, nullptr, 0, &required, nullptr);
    constexpr DWORD kPathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (required <= kPathAt || required > kMaxPathBytes) continue;
    // DWORD elements: the detail block starts with one and must be aligned for it.
    std::vector<DWORD> storage((required + sizeof(DWORD)) / sizeof(DWORD), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!api_.getDeviceInterfaceDetail(set.get(), &entry, detail, required, nullptr, &device)) {
      continue;
    }
    const std::string path(detail->DevicePath, strnlen(detail->DevicePath, required - kPathAt));
    const std::optional<UsbId> id = UsbIdInPath(path);
    if (!id || std::find(kServedUsbDevices.begin(), kServedUsbDevices.end(), *id) ==
                   kServedUsbDevices.end()) {
      continue;
    }
    if (!BoundToWinUsb(api_, set.get(), device)) continue;
    const std::string instance = InstanceOf(path);
    const bool known = std::any_of(found.begin(), found.end(), [&](const WinUsbDevicePath& d) {
      return d.instance == instance;
    });
    if (!known) found.push_back({path, instance, *id});
  }
}

// Our INF file's interface class first; then the one every USB device has, which also finds
// the devices bound by Zadig or by hand (their interface class is another, or none).
std::vector<WinUsbDevicePath> WinUsbDriver::List() const {
  std::vector<WinUsbDevicePath> found;
  if (const std::optional<GUID> ours = ParseGuid(kWinUsbInterfaceGuid)) ListClass(*ours, found);
  ListClass(kUsbDeviceInterface, found);
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.instance < b.instance; });
  return found;
}

void WinUsbDriver::ListIfDue() {
  const ULONGLONG now = api_.tickCount();
  const ULONGLONG since = now - lastListing_;
  if (listed_ && since < kRefreshMs && !(stale_ && since >= kStaleRetryMs)) return;
  devices_ = List();
  listed_ = true;
  stale_ = false;
  lastListing_ = now;
}

const std::vector<WinUsbDevicePath>& WinUsbDriver::Devices() {
  if (api_.Complete()) ListIfDue();
  return devices_;
}

std::unique_ptr<UsbDevice> WinUsbDriver::OpenNth(unsigned n) {
  if (!api_.Complete()) return nullptr;
  ListIfDue();
  if (n >= devices_.size()) return nullptr;
  // WinUSB works on overlapped handles only; each call here still waits for its own end.
  HANDLE file = api_.createFile(devices_[n].path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    stale_ = true;
    return nullptr;
  }
  WINUSB_INTERFACE_HANDLE usb = nullptr;
  if (!api_.initialize(file, &usb) || usb == nullptr) {
    api_.closeHandle(file);
    return nullptr;
  }
  auto device = std::make_unique<WinUsbDevice>(api_, file, usb);
  // WinUSB ends a control transfer after 5 s by itself, so a refusal here costs no time-out;
  // the bulk pipes, which wait for ever by default, are refused in Bulk instead.
  device->SetTimeout(0, kControlTimeoutMs);
  return device;
}

std::unique_ptr<UsbDevice> WinUsbDriver::Open(const char* path) {
  const std::optional<unsigned> n = UsbDeviceIndex(path);
  return n ? OpenNth(*n) : nullptr;
}

}  // namespace omr72
