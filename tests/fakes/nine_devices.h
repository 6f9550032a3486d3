// The one made-up host of the link, command-set and probe tests: nine USB names (\\.\ezusb-0..8)
// and nine drives (\\.\PHYSICALDRIVE0..8), each empty or holding a device with its ids or its
// INQUIRY answer, a node whose opening is denied, or a device whose first answers fail. Every
// request that reaches any device goes into one log; the test's `answer` decides each request
// but the presence tests (descriptor, INQUIRY), which the slot answers itself.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72::fakes {

// The first 36 bytes of the recorder's INQUIRY data, spelt out so that a wrong shared constant
// fails the tests that use it.
inline constexpr std::array<uint8_t, 36> kRecorderInquiry = {
    0x00, 0x80, 0x05, 0x02, 0x20, 0x00, 0x80, 0x00, 'C',  'o',  'o',  'l',
    ' ',  0x00, ' ',  ' ',  'M',  'a',  's',  's',  ' ',  'S',  't',  'o',
    'r',  'a',  'g',  'e',  ' ',  0x00, ' ',  ' ',  0x00, 0x00, 0x00, 0x01};

struct Slot {
  std::string node = {};  // the OS's node, as a device survey reports it
  bool denied = false;
  uint16_t vendorId = 0x10C4, productId = 0x4512;  // USB: the recorder's ids unless told
  bool descriptorFails = false;
  std::vector<uint8_t> inquiry{kRecorderInquiry.begin(), kRecorderInquiry.end()};
  bool inquiryCompletes = true;
  uint8_t inquiryStatus = 0;
};

// Slots that are not the recorder.
inline Slot OtherIds(uint16_t vendorId = 0x0781, uint16_t productId = 0x5567) {
  return Slot{.vendorId = vendorId, .productId = productId};
}
inline Slot ForeignDisk() {
  std::vector<uint8_t> reply(36, ' ');
  reply[0] = 0;
  reply[4] = 0x1F;
  const char vendor[] = "ATA     SAMSUNG SSD 870 ";
  std::copy(vendor, vendor + 24, reply.begin() + 8);
  return Slot{.inquiry = reply};
}

inline Cdb MakeCdb(std::initializer_list<uint8_t> head) {
  Cdb cdb{};
  std::copy(head.begin(), head.end(), cdb.begin());
  return cdb;
}

enum class Kind { kDescriptor, kVendor, kBulkRead, kBulkWrite, kScsi };

struct Call {
  Kind kind = Kind::kVendor;
  int slot = -1;
  uint8_t direction = 0;  // 1: data in
  uint8_t request = 0;    // USB vendor request
  uint16_t value = 0, index = 0;
  uint32_t pipe = 0;
  Cdb cdb{};  // SCSI
  uint32_t timeoutSeconds = 0;
  uint32_t length = 0;
  uint32_t moved = 0;               // bulk transfers: the count the driver reported
  const uint8_t* buffer = nullptr;  // the caller's buffer, as handed down
  std::vector<uint8_t> sent = {};   // data going out
  bool presence() const {
    return kind == Kind::kDescriptor || (kind == Kind::kScsi && cdb[0] == 0x12);
  }
};

struct Answer {
  bool ok = true;                      // completed
  uint8_t status = 0;                  // SCSI status
  std::vector<uint8_t> data = {};      // copied into a data-in stage, even when !ok
  std::optional<uint32_t> moved = {};  // bulk: default the bytes copied (in), the length (out)
};

class NineDevices {
 public:
  std::array<std::optional<Slot>, 9> usbSlots, driveSlots;
  std::vector<Call> calls;          // every request, in order
  std::vector<Call> commands;       // the requests that are not presence tests
  std::vector<std::string> events;  // "open ezusb-3", "close PHYSICALDRIVE1", ...
  int openHandles = 0;
  // Decides requests other than presence tests; by default a drive that is not the recorder
  // refuses them (CHECK CONDITION) and everything else succeeds without data.
  std::function<Answer(const Call&)> answer;

  NineDevices() : usb(*this), scsi(*this) {}

  void ClearLog() {
    calls.clear();
    commands.clear();
    events.clear();
  }
  std::vector<std::string> Opens() const {
    std::vector<std::string> out;
    for (const std::string& e : events) {
      if (e.starts_with("open ")) out.push_back(e.substr(5));
    }
    return out;
  }
  // Fails the `failing`-th command (from 0) and lets the others succeed.
  void FailAt(size_t failing) {
    answer = [this, failing](const Call&) {
      return Answer{.status = static_cast<uint8_t>(commands.size() - 1 == failing ? 2 : 0)};
    };
  }

  struct Usb : UsbDriver {
    explicit Usb(NineDevices& h) : host(h) {}
    std::unique_ptr<UsbDevice> Open(const char* path) override;
    std::vector<AccessDenial> TakeAccessDenials() override { return std::exchange(denials, {}); }
    NineDevices& host;
    std::vector<AccessDenial> denials;
  } usb;
  struct Scsi : ScsiPassThrough {
    explicit Scsi(NineDevices& h) : host(h) {}
    std::unique_ptr<ScsiDrive> Open(const char* name) override;
    std::vector<AccessDenial> TakeAccessDenials() override { return std::exchange(denials, {}); }
    NineDevices& host;
    std::vector<AccessDenial> denials;
  } scsi;

 private:
  // The slot a name stands for, or -1 after reporting a name that is none of the nine.
  static int Digit(const std::string& name, const std::string& prefix) {
    if (name.size() == prefix.size() + 1 && name.starts_with(prefix) && name.back() >= '0' &&
        name.back() <= '8')
      return name.back() - '0';
    ADD_FAILURE() << "open of a name that is none of the nine: " << name;
    return -1;
  }

  class Device : public UsbDevice, public ScsiDrive {
   public:
    Device(NineDevices& host, int slot, const Slot& s, std::string name)
        : host_(host), slot_(slot), s_(s), name_(std::move(name)) {
      ++host_.openHandles;
    }
    ~Device() override {
      --host_.openHandles;
      host_.events.push_back("close " + name_);
    }
    bool GetDeviceDescriptor(DeviceDescriptorSpan d) override {
      Log({.kind = Kind::kDescriptor});
      if (s_.descriptorFails) return false;
      std::fill(d.begin(), d.end(), 0);
      d[0] = 18;
      d[1] = 1;
      d[8] = static_cast<uint8_t>(s_.vendorId);
      d[9] = static_cast<uint8_t>(s_.vendorId >> 8);
      d[10] = static_cast<uint8_t>(s_.productId);
      d[11] = static_cast<uint8_t>(s_.productId >> 8);
      return true;
    }

   private:
    bool DoVendorOrClassRequest(const VendorRequestBlock& b, DataStage data) override {
      const Answer a = Log({.kind = Kind::kVendor,
                            .direction = b[0],
                            .request = b[4],
                            .value = static_cast<uint16_t>(b[6] | b[7] << 8),
                            .index = static_cast<uint16_t>(b[8] | b[9] << 8),
                            .length = data.size(),
                            .buffer = data.empty() ? nullptr : data.bytes().data(),
                            .sent = {data.out().begin(), data.out().end()}});
      std::copy_n(a.data.begin(), std::min(a.data.size(), data.in().size()), data.in().begin());
      return a.ok;
    }
    bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
      const Answer a = Log({.kind = Kind::kBulkRead, .pipe = pipe[0], .length = Size(data)});
      const size_t n = std::min(a.data.size(), data.size());
      std::copy_n(a.data.begin(), n, data.begin());
      Moved(moved = a.moved.value_or(static_cast<uint32_t>(n)));
      return a.ok;
    }
    bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
      const Answer a = Log({.kind = Kind::kBulkWrite,
                            .pipe = pipe[0],
                            .length = Size(data),
                            .sent = {data.begin(), data.end()}});
      Moved(moved = a.moved.value_or(Size(data)));
      return a.ok;
    }
    bool DoExecute(const ScsiRequest& r, uint8_t& status) override {
      const ByteSpan in = r.data.in();
      if (r.cdb[0] == 0x12) {
        Log({.kind = Kind::kScsi,
             .direction = r.direction(),
             .cdb = r.cdb,
             .timeoutSeconds = r.timeoutSeconds,
             .length = r.length(),
             .buffer = r.data.empty() ? nullptr : r.data.bytes().data()});
        std::fill(in.begin(), in.end(), 0);
        std::copy_n(s_.inquiry.begin(), std::min(s_.inquiry.size(), in.size()), in.begin());
        status = s_.inquiryStatus;
        return s_.inquiryCompletes;
      }
      const Answer a = Log({.kind = Kind::kScsi,
                            .direction = r.direction(),
                            .cdb = r.cdb,
                            .timeoutSeconds = r.timeoutSeconds,
                            .length = r.length(),
                            .buffer = r.data.empty() ? nullptr : r.data.bytes().data(),
                            .sent = {r.data.out().begin(), r.data.out().end()}});
      std::copy_n(a.data.begin(), std::min(a.data.size(), in.size()), in.begin());
      status = a.status;
      return a.ok;
    }
    void Moved(uint32_t moved) { host_.calls.back().moved = host_.commands.back().moved = moved; }
    template <typename Span>
    static uint32_t Size(Span s) {
      return static_cast<uint32_t>(s.size());
    }
    Answer Log(Call call) {
      call.slot = slot_;
      host_.calls.push_back(call);
      if (call.presence()) return {};
      host_.commands.push_back(call);
      if (host_.answer) return host_.answer(call);
      const bool recorder =
          call.kind != Kind::kScsi ||
          (s_.inquiry.size() >= kRecorderInquiry.size() &&
           std::equal(kRecorderInquiry.begin(), kRecorderInquiry.end(), s_.inquiry.begin()));
      return Answer{.status = static_cast<uint8_t>(recorder ? 0 : 2)};
    }

    NineDevices& host_;
    int slot_;
    Slot s_;
    std::string name_;
  };

  friend struct Usb;
  friend struct Scsi;
  std::unique_ptr<Device> Open(std::array<std::optional<Slot>, 9>& slots, const char* path,
                               const char* prefix, std::vector<AccessDenial>& denials,
                               bool usbIds) {
    const std::string name = path;
    const int digit = Digit(name, prefix);
    const std::string shortName = name.substr(4);
    events.push_back("open " + shortName);
    if (digit < 0 || !slots[digit]) return nullptr;
    const Slot& s = *slots[digit];
    if (s.denied) {
      denials.push_back(usbIds ? AccessDenial{s.node, s.vendorId, s.productId}
                               : AccessDenial{s.node});
      return nullptr;
    }
    return std::make_unique<Device>(*this, digit, s, shortName);
  }
};

inline std::unique_ptr<UsbDevice> NineDevices::Usb::Open(const char* path) {
  return host.Open(host.usbSlots, path, R"(\\.\ezusb-)", denials, true);
}
inline std::unique_ptr<ScsiDrive> NineDevices::Scsi::Open(const char* name) {
  return host.Open(host.driveSlots, name, R"(\\.\PHYSICALDRIVE)", denials, false);
}

}  // namespace omr72::fakes
