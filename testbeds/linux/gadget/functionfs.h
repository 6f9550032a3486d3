// One USB device on the guest's dummy controller: a configfs gadget with one FunctionFS
// function, whose descriptors and endpoint files this program serves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace omr72::testbed {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd();
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct EndpointSpec {
  bool in = false;  // direction seen from the host
};

struct InterfaceSpec {
  uint8_t interfaceClass = 0xFF;
  uint8_t subclass = 0;
  uint8_t protocol = 0;
  std::vector<EndpointSpec> endpoints;  // all bulk, in descriptor order
};

struct DeviceSpec {
  std::string name;  // configfs gadget and FunctionFS instance name
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint8_t deviceClass = 0;
  std::string product;
  InterfaceSpec interface;
};

class FunctionFsDevice {
 public:
  explicit FunctionFsDevice(DeviceSpec spec) : spec_(std::move(spec)) {}
  ~FunctionFsDevice();
  FunctionFsDevice(const FunctionFsDevice&) = delete;
  FunctionFsDevice& operator=(const FunctionFsDevice&) = delete;

  // Builds the gadget, mounts its FunctionFS, writes the descriptors and opens the endpoint
  // files; false (with a line on stderr) when any step fails.
  bool Create();
  // Attaches the device to the controller `udc` (it enumerates) or takes it off the bus.
  bool Bind(const std::string& udc);
  bool Unbind();
  bool bound() const { return !udc_.empty(); }

  int ep0() const { return ep0_.get(); }
  // File of the endpoint at descriptor position `index` (the driver's pipe index).
  int endpoint(size_t index) const { return endpoints_[index].get(); }
  const DeviceSpec& spec() const { return spec_; }

 private:
  std::string GadgetDir() const;
  std::string MountDir() const;
  void Destroy();

  DeviceSpec spec_;
  Fd ep0_;
  std::vector<Fd> endpoints_;
  std::string udc_;
  bool created_ = false;
  bool mounted_ = false;
};

// The device controllers of the dummy host, in name order (dummy_udc.0, dummy_udc.1, ...).
std::vector<std::string> DeviceControllers();

}  // namespace omr72::testbed
