// Linux: LinuxUsbDriver, the USB driver requests over libusb-1.0.
//
// Interface 0 is claimed on the first vendor or bulk request, not at open. The presence test
// opens the served devices many times a second and only reads their descriptors; claiming
// there would detach and reattach a kernel driver on every pass. The claim is released when
// the device object goes.
//
// Time-outs: the Windows driver waits without limit, which would leave the program hanging on
// a wedged device. 5 s for a control request and 10 s for a bulk transfer are far beyond what
// the recorder needs for a flash page, so they only ever end a transfer that would not end.
#include "platform/linux/usb_driver.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/native.h"

namespace omr72 {
namespace {

constexpr unsigned kControlTimeoutMs = 5000;
constexpr unsigned kBulkTimeoutMs = 10000;
constexpr int kClaimedInterface = 0;
constexpr int kMaxPortDepth = 7;  // the USB limit on hub tiers

struct ConfigFree {
  void operator()(libusb_config_descriptor* c) const { libusb_free_config_descriptor(c); }
};
using ConfigDescriptor = std::unique_ptr<libusb_config_descriptor, ConfigFree>;

ConfigDescriptor FirstConfig(libusb_device* device) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_config_descriptor(device, 0, &config) != 0) return nullptr;
  return ConfigDescriptor(config);
}

ConfigDescriptor CurrentConfig(libusb_device* device) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) == 0) return ConfigDescriptor(config);
  return FirstConfig(device);
}

const libusb_interface_descriptor* FirstInterface(const libusb_config_descriptor& config) {
  if (config.bNumInterfaces == 0 || config.interface == nullptr) return nullptr;
  const libusb_interface& interface = config.interface[0];
  if (interface.num_altsetting < 1 || interface.altsetting == nullptr) return nullptr;
  return &interface.altsetting[0];
}

// The device descriptor is libusb's copy: no request reaches the device.
UsbCandidate Describe(libusb_device* device) {
  UsbCandidate candidate;
  candidate.location.bus = libusb_get_bus_number(device);
  uint8_t ports[kMaxPortDepth];
  int depth = libusb_get_port_numbers(device, ports, kMaxPortDepth);
  if (depth > 0) candidate.location.ports.assign(ports, ports + depth);
  libusb_device_descriptor d{};
  if (libusb_get_device_descriptor(device, &d) == 0) candidate.id = {d.idVendor, d.idProduct};
  return candidate;
}

// Debian's libusb learns of devices that arrive after it started only from udevd. Without
// udevd (containers, minimal systems, the test bed's guest) a recorder that restarts would
// never be seen again, so every scan (it starts at ezusb-0) then gets a fresh context, which
// enumerates the devices from sysfs.
bool DeviceManagerRunning() {
  return access("/run/udev/control", F_OK) == 0;
}

std::shared_ptr<libusb_context> NewContext() {
  libusb_context* context = nullptr;
  if (libusb_init(&context) != 0) return nullptr;
  return std::shared_ptr<libusb_context>(context, libusb_exit);
}

class DeviceList {
 public:
  explicit DeviceList(libusb_context* context) {
    ssize_t n = libusb_get_device_list(context, &devices_);
    size_ = n > 0 ? static_cast<size_t>(n) : 0;
  }
  ~DeviceList() {
    if (devices_ != nullptr) libusb_free_device_list(devices_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  size_t size() const { return size_; }
  libusb_device* operator[](size_t i) const { return devices_[i]; }

 private:
  libusb_device** devices_ = nullptr;
  size_t size_ = 0;
};

// The device behind "\\.\ezusb-N": the N-th device we serve, in bus and port order.
// `served`, when given, receives how many there are.
libusb_device* NthServedDevice(const DeviceList& list, unsigned n, size_t* served = nullptr) {
  std::vector<UsbCandidate> candidates;
  candidates.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) candidates.push_back(Describe(list[i]));
  std::vector<size_t> order = OrderServedDevices(candidates);
  if (served != nullptr) *served = order.size();
  return n < order.size() ? list[order[n]] : nullptr;
}

class LinuxUsbDevice : public UsbDevice {
 public:
  LinuxUsbDevice(std::shared_ptr<libusb_context> context, libusb_device_handle* handle)
      : context_(std::move(context)), handle_(handle) {}
  ~LinuxUsbDevice() override {
    if (claimed_) libusb_release_interface(handle_, kClaimedInterface);
    libusb_close(handle_);
  }
  LinuxUsbDevice(const LinuxUsbDevice&) = delete;
  LinuxUsbDevice& operator=(const LinuxUsbDevice&) = delete;

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(libusb_get_device(handle_), &d) != 0) return false;
    auto bytes = SerializeDeviceDescriptor(d);
    std::copy(bytes.begin(), bytes.end(), descriptor.begin());
    return true;
  }

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    std::optional<ControlSetup> setup = DecodeVendorRequest(block, data.size());
    if (!setup || !Claim()) return false;
    // libusb takes a mutable buffer in either direction; what we send goes from a copy.
    std::vector<uint8_t> sent(data.out().begin(), data.out().end());
    uint8_t* buffer = data.isIn() ? data.in().data() : sent.data();
    int rc = libusb_control_transfer(handle_, setup->requestType, setup->request, setup->value,
                                     setup->index, data.empty() ? nullptr : buffer, setup->length,
                                     kControlTimeoutMs);
    return rc >= 0;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    return Bulk(pipe, true, data, moved);
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    // libusb takes a mutable buffer for an OUT transfer too; it goes from a copy.
    std::vector<uint8_t> sent(data.begin(), data.end());
    return Bulk(pipe, false, sent, moved);
  }

  bool Claim() {
    if (claimed_) return true;
    libusb_set_auto_detach_kernel_driver(handle_, 1);
    claimed_ = libusb_claim_interface(handle_, kClaimedInterface) == 0;
    return claimed_;
  }

  std::vector<UsbEndpoint> Endpoints() {
    std::vector<UsbEndpoint> endpoints;
    ConfigDescriptor config = CurrentConfig(libusb_get_device(handle_));
    const libusb_interface_descriptor* first = config ? FirstInterface(*config) : nullptr;
    if (first == nullptr) return endpoints;
    for (uint8_t i = 0; i < first->bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& e = first->endpoint[i];
      endpoints.push_back({e.bEndpointAddress, e.bmAttributes});
    }
    return endpoints;
  }

  bool Bulk(const BulkPipeBlock& pipe, bool in, ByteSpan data, uint32_t& moved) {
    moved = 0;
    std::optional<UsbEndpoint> endpoint = PipeEndpoint(Endpoints(), pipe, in);
    if (!endpoint || !Claim()) return false;
    bool interrupt =
        (endpoint->attributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_INTERRUPT;
    auto transfer = interrupt ? libusb_interrupt_transfer : libusb_bulk_transfer;
    int transferred = 0;
    int rc = transfer(handle_, endpoint->address, data.data(), static_cast<int>(data.size()),
                      &transferred, kBulkTimeoutMs);
    moved = transferred > 0 ? static_cast<uint32_t>(transferred) : 0;
    return rc == 0;
  }

  std::shared_ptr<libusb_context> context_;  // outlives the handle
  libusb_device_handle* handle_;
  bool claimed_ = false;
};

}  // namespace

std::vector<size_t> OrderServedDevices(const std::vector<UsbCandidate>& candidates,
                                       std::span<const UsbId> served) {
  std::vector<size_t> order;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (std::find(served.begin(), served.end(), candidates[i].id) != served.end()) {
      order.push_back(i);
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return candidates[a].location < candidates[b].location;
  });
  return order;
}

std::array<uint8_t, kDeviceDescriptorSize> SerializeDeviceDescriptor(
    const libusb_device_descriptor& d) {
  auto lo = [](uint16_t v) { return static_cast<uint8_t>(v); };
  auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
  return {d.bLength,       d.bDescriptorType,   lo(d.bcdUSB),      hi(d.bcdUSB),
          d.bDeviceClass,  d.bDeviceSubClass,   d.bDeviceProtocol, d.bMaxPacketSize0,
          lo(d.idVendor),  hi(d.idVendor),      lo(d.idProduct),   hi(d.idProduct),
          lo(d.bcdDevice), hi(d.bcdDevice),     d.iManufacturer,   d.iProduct,
          d.iSerialNumber, d.bNumConfigurations};
}

std::string UsbfsNode(uint8_t bus, uint8_t address) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", bus, address);
  return node;
}

LinuxUsbDriver::LinuxUsbDriver() : context_(NewContext()) {}

LinuxUsbDriver::~LinuxUsbDriver() = default;

std::shared_ptr<libusb_context> LinuxUsbDriver::Context(unsigned index) {
  if (index == 0 && !DeviceManagerRunning()) context_ = NewContext();
  return context_;
}

// The descriptor comes from sysfs and needs no access to the device itself.
void LinuxUsbDriver::NoteDenial(libusb_device* device) {
  libusb_device_descriptor d{};
  libusb_get_device_descriptor(device, &d);
  denials_.Note({UsbfsNode(libusb_get_bus_number(device), libusb_get_device_address(device)),
                 d.idVendor, d.idProduct});
}

std::unique_ptr<UsbDevice> LinuxUsbDriver::Open(const char* path) {
  std::optional<unsigned> index = UsbDeviceIndex(path);
  if (!index) return nullptr;
  // Nothing to open at this number when the last listing had none there and nothing changed.
  if (!watch_.ListingDue() && *index >= listedDevices_) return nullptr;
  std::shared_ptr<libusb_context> context = Context(*index);
  if (context == nullptr) return nullptr;
  DeviceList list(context.get());
  libusb_device* device = NthServedDevice(list, *index, &listedDevices_);
  if (device == nullptr) return nullptr;
  libusb_device_handle* handle = nullptr;
  const int rc = libusb_open(device, &handle);
  if (rc == LIBUSB_ERROR_ACCESS) NoteDenial(device);
  if (rc != 0) return nullptr;
  return std::make_unique<LinuxUsbDevice>(std::move(context), handle);
}

std::string LinuxUsbDriver::NodeOf(const char* path) {
  std::optional<unsigned> index = UsbDeviceIndex(path);
  if (!index || context_ == nullptr) return "";
  DeviceList list(context_.get());
  libusb_device* device = NthServedDevice(list, *index);
  if (device == nullptr) return "";
  return UsbfsNode(libusb_get_bus_number(device), libusb_get_device_address(device));
}

std::unique_ptr<UsbDriver> NativePlatform::MakeUsbDriver() {
  return std::make_unique<LinuxUsbDriver>();
}

}  // namespace omr72
