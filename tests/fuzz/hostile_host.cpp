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

// Overwrites the start of an in-stage with fuzz bytes, or gives back the bytes beyond a cut
// (so that they read as never delivered). Returns how many bytes count as delivered.
size_t TwistIn(HostileHost::Twist twist, FuzzedDataProvider& in, ByteSpan data,
               const std::vector<uint8_t>& before, size_t delivered) {
  if (data.empty()) return delivered;
  if (twist == HostileHost::Twist::kOverwrite) {
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, data.size());
    const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(n);
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return std::max(delivered, bytes.size());
  }
  if (twist == HostileHost::Twist::kShort) {
    const size_t n = in.ConsumeIntegralInRange<size_t>(0, data.size() - 1);
    std::copy(before.begin() + static_cast<ptrdiff_t>(n), before.end(),
              data.begin() + static_cast<ptrdiff_t>(n));
    return std::min(delivered, n);
  }
  return delivered;
}

class HostileDrive : public ScsiDrive {
 public:
  HostileDrive(HostileHost& host, std::unique_ptr<ScsiDrive> inner, int drive)
      : host_(host), inner_(std::move(inner)), drive_(drive) {}

 private:
  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    const bool inquiry = request.cdb[0] == kInquiry;
    host_.Request(inquiry);
    if (!inquiry && host_.identifiedDrive != drive_) {
      Violation("a command reached a drive the scan did not identify", drive_);
    }
    const HostileHost::Twist twist = host_.NextTwist();
    const ByteSpan in = request.data.in();
    const std::vector<uint8_t> before(in.begin(), in.end());
    bool ok = inner_->Execute(request, scsiStatus);
    size_t delivered = ok ? in.size() : 0;
    FuzzedDataProvider& fuzz = host_.input();
    switch (twist) {
      case HostileHost::Twist::kFail:
        ok = false;
        break;
      case HostileHost::Twist::kStatus:
        scsiStatus = fuzz.ConsumeIntegralInRange<uint8_t>(1, 255);
        break;
      case HostileHost::Twist::kImpostor:
        if (inquiry && !in.empty()) {
          const std::vector<uint8_t> recorder = emu::BuildRecorderInquiry();
          std::copy_n(recorder.begin(), std::min(recorder.size(), in.size()), in.begin());
          scsiStatus = 0;
          delivered = in.size();
          ok = true;
        }
        break;
      default:
        delivered = TwistIn(twist, fuzz, in, before, delivered);
    }
    if (inquiry) Judge(in, ok && scsiStatus == 0, delivered);
    return ok;
  }

  // What the scan must conclude from this INQUIRY: the drive is the recorder only when the
  // whole template arrived.
  void Judge(ByteSpan reply, bool good, size_t delivered) {
    const bool recorder = good && delivered >= kInquiryTemplateBytes &&
                          reply.size() >= kInquiryTemplateBytes && IsRecorderInquiry(reply.data());
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

  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    host_.Request(true);
    const HostileHost::Twist twist = host_.NextTwist();
    bool ok = inner_->GetDeviceDescriptor(descriptor);
    if (twist == HostileHost::Twist::kFail) ok = false;
    if (twist == HostileHost::Twist::kOverwrite) {
      const std::vector<uint8_t> bytes = host_.input().ConsumeBytes<uint8_t>(descriptor.size());
      std::copy(bytes.begin(), bytes.end(), descriptor.begin());
    }
    if (twist == HostileHost::Twist::kImpostor) {
      const emu::DeviceDescriptor d =
          emu::BuildDeviceDescriptor(emu::kRecorderUsbVendorId, emu::kRecorderUsbProductId);
      std::copy(d.begin(), d.end(), descriptor.begin());
      ok = true;
    }
    identified_ = ok && descriptor[8] == 0xC4 && descriptor[9] == 0x10 && descriptor[10] == 0x12 &&
                  descriptor[11] == 0x45;
    return ok;
  }

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    Command();
    const HostileHost::Twist twist = host_.NextTwist();
    const ByteSpan in = data.in();
    const std::vector<uint8_t> before(in.begin(), in.end());
    const bool ok = inner_->VendorOrClassRequest(block, data);
    if (twist == HostileHost::Twist::kFail) return false;
    TwistIn(twist, host_.input(), in, before, in.size());
    return ok;
  }

  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    Command();
    const HostileHost::Twist twist = host_.NextTwist();
    const std::vector<uint8_t> before(data.begin(), data.end());
    bool ok = inner_->BulkRead(pipe, data, moved);
    if (twist == HostileHost::Twist::kFail) ok = false;
    TwistIn(twist, host_.input(), data, before, data.size());
    return TwistCount(twist, static_cast<uint32_t>(data.size()), moved, ok);
  }

  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    Command();
    const HostileHost::Twist twist = host_.NextTwist();
    bool ok = inner_->BulkWrite(pipe, data, moved);
    if (twist == HostileHost::Twist::kFail) ok = false;
    return TwistCount(twist, static_cast<uint32_t>(data.size()), moved, ok);
  }

  void Command() {
    host_.Request(false);
    if (!identified_) Violation("a request reached a USB device the scan did not identify", slot_);
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
