#include "tests/fuzz/hostile_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "emulator/emulated_pass_through.h"
#include "emulator/emulated_usb.h"

namespace omr72::fuzz {
namespace {

constexpr size_t kQuietOpensBound = 3000;  // opens without a command: a wait that never ends
constexpr size_t kRequestBound = 6000;
constexpr size_t kInquiryTemplateBytes = 36;
constexpr uint8_t kInquiry = 0x12;

[[noreturn]] void Violation(const char* what, int where) {
  std::fprintf(stderr, "hostile host: %s (%d)\n", what, where);
  std::abort();
}

int SlotOf(const char* path) {
  const size_t n = path ? std::strlen(path) : 0;
  return n > 0 ? path[n - 1] - '0' : -1;
}

bool IsRecorderInquiry(const uint8_t* data) {
  const std::vector<uint8_t> recorder = emu::BuildRecorderInquiry();
  return std::equal(data, data + kInquiryTemplateBytes, recorder.begin());
}

class HostileDrive : public ScsiDrive {
 public:
  HostileDrive(HostileHost& host, std::unique_ptr<ScsiDrive> inner, int drive)
      : host_(host), inner_(std::move(inner)), drive_(drive) {}

  bool Execute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    const bool inquiry = request.cdb[0] == kInquiry;
    host_.Request(inquiry);
    if (!inquiry && host_.identifiedDrive != drive_) {
      Violation("a command reached a drive the scan did not identify", drive_);
    }
    const HostileHost::Twist twist = host_.NextTwist();
    std::vector<uint8_t> before;
    if (request.buffer) before.assign(request.buffer, request.buffer + request.length);
    bool ok = inner_->Execute(request, scsiStatus);
    size_t delivered = request.dataIn == kDataIn && ok ? request.length : 0;
    ok = Twisted(twist, request, scsiStatus, ok, before, delivered);
    if (inquiry) Judge(request, ok && scsiStatus == 0, delivered);
    return ok;
  }

 private:
  bool Twisted(HostileHost::Twist twist, const ScsiRequest& request, uint8_t& scsiStatus, bool ok,
               const std::vector<uint8_t>& before, size_t& delivered) {
    FuzzedDataProvider& in = host_.input();
    const bool dataIn = request.dataIn == kDataIn && request.buffer && request.length > 0;
    switch (twist) {
      case HostileHost::Twist::kFail:
        return false;
      case HostileHost::Twist::kStatus:
        scsiStatus = in.ConsumeIntegralInRange<uint8_t>(1, 255);
        return ok;
      case HostileHost::Twist::kOverwrite:
        if (dataIn) {
          const size_t n = in.ConsumeIntegralInRange<size_t>(0, request.length);
          const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(n);
          std::copy(bytes.begin(), bytes.end(), request.buffer);
          delivered = std::max(delivered, bytes.size());
        }
        return ok;
      case HostileHost::Twist::kShort:
        if (dataIn) {
          const size_t n = in.ConsumeIntegralInRange<size_t>(0, request.length - 1);
          std::copy(before.begin() + n, before.end(), request.buffer + n);
          delivered = std::min(delivered, n);
        }
        return ok;
      case HostileHost::Twist::kImpostor:
        if (dataIn && request.cdb[0] == kInquiry) {
          const std::vector<uint8_t> recorder = emu::BuildRecorderInquiry();
          std::copy_n(recorder.begin(), std::min<size_t>(recorder.size(), request.length),
                      request.buffer);
          scsiStatus = 0;
          delivered = request.length;
          return true;
        }
        return ok;
      case HostileHost::Twist::kLonger:
      case HostileHost::Twist::kNone:
        return ok;
    }
    return ok;
  }

  // What the scan must conclude from this INQUIRY: the drive is the recorder only when the
  // whole template arrived.
  void Judge(const ScsiRequest& request, bool good, size_t delivered) {
    const bool recorder = good && delivered >= kInquiryTemplateBytes &&
                          request.length >= kInquiryTemplateBytes &&
                          IsRecorderInquiry(request.buffer);
    host_.identifiedDrive = recorder ? drive_ : -1;
  }

  HostileHost& host_;
  std::unique_ptr<ScsiDrive> inner_;
  int drive_;
};

class HostileUsbDevice : public UsbDevice {
 public:
  HostileUsbDevice(HostileHost& host, std::unique_ptr<UsbDevice> inner, int slot)
      : host_(host), inner_(std::move(inner)), slot_(slot) {}

  bool GetDeviceDescriptor(uint8_t* descriptor) override {
    host_.Request(true);
    const HostileHost::Twist twist = host_.NextTwist();
    bool ok = inner_->GetDeviceDescriptor(descriptor);
    FuzzedDataProvider& in = host_.input();
    if (twist == HostileHost::Twist::kFail) ok = false;
    if (twist == HostileHost::Twist::kOverwrite) {
      const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(kDeviceDescriptorSize);
      std::copy(bytes.begin(), bytes.end(), descriptor);
    }
    if (twist == HostileHost::Twist::kImpostor) {
      const emu::DeviceDescriptor d =
          emu::BuildDeviceDescriptor(emu::kRecorderUsbVendorId, emu::kRecorderUsbProductId);
      std::copy(d.begin(), d.end(), descriptor);
      ok = true;
    }
    identified_ = ok && descriptor[8] == 0xC4 && descriptor[9] == 0x10 && descriptor[10] == 0x12 &&
                  descriptor[11] == 0x45;
    return ok;
  }

  bool VendorOrClassRequest(const VendorRequestBlock& block, uint8_t* data,
                            uint32_t length) override {
    Command();
    const HostileHost::Twist twist = host_.NextTwist();
    std::vector<uint8_t> before;
    if (data) before.assign(data, data + length);
    bool ok = inner_->VendorOrClassRequest(block, data, length);
    return TwistData(twist, block[0] == 1, data, length, before, ok);
  }

  bool BulkRead(const BulkPipeBlock& pipe, uint8_t* data, uint32_t length,
                uint32_t& moved) override {
    Command();
    const HostileHost::Twist twist = host_.NextTwist();
    std::vector<uint8_t> before(data, data + length);
    bool ok = inner_->BulkRead(pipe, data, length, moved);
    ok = TwistData(twist, true, data, length, before, ok);
    return TwistCount(twist, length, moved, ok);
  }

  bool BulkWrite(const BulkPipeBlock& pipe, const uint8_t* data, uint32_t length,
                 uint32_t& moved) override {
    Command();
    const HostileHost::Twist twist = host_.NextTwist();
    bool ok = inner_->BulkWrite(pipe, data, length, moved);
    if (twist == HostileHost::Twist::kFail) ok = false;
    return TwistCount(twist, length, moved, ok);
  }

 private:
  void Command() {
    host_.Request(false);
    if (!identified_) Violation("a request reached a USB device the scan did not identify", slot_);
  }

  bool TwistData(HostileHost::Twist twist, bool dataIn, uint8_t* data, uint32_t length,
                 const std::vector<uint8_t>& before, bool ok) {
    FuzzedDataProvider& in = host_.input();
    if (twist == HostileHost::Twist::kFail) return false;
    if (!dataIn || !data || length == 0) return ok;
    if (twist == HostileHost::Twist::kOverwrite) {
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, length);
      const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(n);
      std::copy(bytes.begin(), bytes.end(), data);
    }
    if (twist == HostileHost::Twist::kShort) {
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, length - 1);
      std::copy(before.begin() + n, before.end(), data + n);
    }
    return ok;
  }

  // A driver may report any byte count: fewer than moved, or more than was asked for.
  bool TwistCount(HostileHost::Twist twist, uint32_t length, uint32_t& moved, bool ok) {
    FuzzedDataProvider& in = host_.input();
    if (twist == HostileHost::Twist::kLonger) {
      moved = length + in.ConsumeIntegralInRange<uint32_t>(1, 1u << 20);
    }
    if (twist == HostileHost::Twist::kShort) moved = in.ConsumeIntegralInRange<uint32_t>(0, length);
    return ok;
  }

  HostileHost& host_;
  std::unique_ptr<UsbDevice> inner_;
  int slot_;
  bool identified_ = false;
};

}  // namespace

HostileHost::Twist HostileHost::NextTwist() {
  // Most requests pass unchanged, so that inputs reach deep into the flows.
  const uint8_t pick = input_.ConsumeIntegral<uint8_t>();
  if (pick < 0x80) return Twist::kNone;
  return static_cast<Twist>(1 + pick % 6);
}

void HostileHost::Opened() {
  if (++quietOpens_ > kQuietOpensBound) throw Stop{};
}

void HostileHost::Request(bool presenceTest) {
  if (!presenceTest) quietOpens_ = 0;
  if (++requests_ > kRequestBound) throw Stop{};
}

std::unique_ptr<UsbDevice> HostileHost::OpenUsb(const char* path) {
  Opened();
  std::unique_ptr<UsbDevice> inner = usbInner_.Open(path);
  if (!inner) return nullptr;
  return std::make_unique<HostileUsbDevice>(*this, std::move(inner), SlotOf(path));
}

std::unique_ptr<ScsiDrive> HostileHost::OpenDrive(const char* name) {
  Opened();
  std::unique_ptr<ScsiDrive> inner = scsiInner_.Open(name);
  if (!inner) return nullptr;
  return std::make_unique<HostileDrive>(*this, std::move(inner), SlotOf(name));
}

}  // namespace omr72::fuzz
