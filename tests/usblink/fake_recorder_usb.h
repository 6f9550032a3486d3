// A USB driver with one recorder at ezusb-0 that logs every vendor request and bulk transfer
// the link hands it, and answers each one as the test's script says. Descriptor requests are
// answered with the recorder's ids and not logged: they belong to the link, not the commands.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/usb_driver.h"
#include "usblink/usb_link.h"

namespace omr72::test {

enum class UsbCallKind { kVendor, kBulkRead, kBulkWrite };

struct UsbCall {
  UsbCallKind kind = UsbCallKind::kVendor;
  uint8_t direction = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint32_t pipe = 0;
  uint32_t length = 0;
  bool hasBuffer = false;
  std::vector<uint8_t> sent;  // data stage of an out request, bytes of a bulk write
  uint32_t moved = 0;         // bulk transfers: the count the driver reported
};

struct UsbAnswer {
  UsbAnswer() = default;
  UsbAnswer(bool ok, std::vector<uint8_t> data = {}, std::optional<uint32_t> moved = {})
      : ok(ok), data(std::move(data)), moved(moved) {}

  bool ok = true;
  std::vector<uint8_t> data;      // placed into an in request's buffer or a bulk read, even
                                  // when ok is false, as a driver may leave bytes behind
  std::optional<uint32_t> moved;  // bulk transfers: default data size (read), length (write)
};

using UsbScript = std::function<UsbAnswer(const UsbCall&)>;

class FakeRecorderUsb : public UsbDriver {
 public:
  std::vector<UsbCall> log;
  UsbScript script = [](const UsbCall&) { return UsbAnswer{}; };

  std::unique_ptr<UsbDevice> Open(const char* path) override {
    if (std::string(path) != "\\\\.\\ezusb-0") return nullptr;
    return std::make_unique<Device>(*this);
  }

  std::vector<UsbCall> VendorCalls() const {
    std::vector<UsbCall> calls;
    std::copy_if(log.begin(), log.end(), std::back_inserter(calls),
                 [](const UsbCall& c) { return c.kind == UsbCallKind::kVendor; });
    return calls;
  }

  size_t CountRequest(uint8_t request) const {
    return std::count_if(log.begin(), log.end(), [request](const UsbCall& c) {
      return c.kind == UsbCallKind::kVendor && c.request == request;
    });
  }

 private:
  class Device : public UsbDevice {
   public:
    explicit Device(FakeRecorderUsb& owner) : owner_(owner) {}

    bool GetDeviceDescriptor(uint8_t* descriptor) override {
      descriptor[8] = static_cast<uint8_t>(kRecorderVendorId);
      descriptor[9] = static_cast<uint8_t>(kRecorderVendorId >> 8);
      descriptor[10] = static_cast<uint8_t>(kRecorderProductId);
      descriptor[11] = static_cast<uint8_t>(kRecorderProductId >> 8);
      return true;
    }

    bool VendorOrClassRequest(const VendorRequestBlock& block, uint8_t* data,
                              uint32_t length) override {
      UsbCall call;
      call.direction = block[0];
      call.request = block[4];
      call.value = static_cast<uint16_t>(block[6] | (block[7] << 8));
      call.index = static_cast<uint16_t>(block[8] | (block[9] << 8));
      call.length = length;
      call.hasBuffer = data != nullptr;
      if (block[0] == kUsbDirectionOut && data) call.sent.assign(data, data + length);
      const UsbAnswer answer = Record(call);
      if (block[0] == kUsbDirectionIn && data) {
        std::copy_n(answer.data.begin(), std::min<size_t>(answer.data.size(), length), data);
      }
      return answer.ok;
    }

    bool BulkRead(const BulkPipeBlock& pipe, uint8_t* data, uint32_t length,
                  uint32_t& moved) override {
      const UsbAnswer answer = Record(BulkCall(UsbCallKind::kBulkRead, pipe, length));
      const size_t n = std::min<size_t>(answer.data.size(), length);
      std::copy_n(answer.data.begin(), n, data);
      moved = answer.moved.value_or(static_cast<uint32_t>(n));
      owner_.log.back().moved = moved;
      return answer.ok;
    }

    bool BulkWrite(const BulkPipeBlock& pipe, const uint8_t* data, uint32_t length,
                   uint32_t& moved) override {
      UsbCall call = BulkCall(UsbCallKind::kBulkWrite, pipe, length);
      call.sent.assign(data, data + length);
      const UsbAnswer answer = Record(call);
      moved = answer.moved.value_or(length);
      owner_.log.back().moved = moved;
      return answer.ok;
    }

   private:
    static UsbCall BulkCall(UsbCallKind kind, const BulkPipeBlock& pipe, uint32_t length) {
      UsbCall call;
      call.kind = kind;
      call.pipe = static_cast<uint32_t>(pipe[0] | (pipe[1] << 8) | (pipe[2] << 16) |
                                        (static_cast<uint32_t>(pipe[3]) << 24));
      call.length = length;
      call.hasBuffer = true;
      return call;
    }

    UsbAnswer Record(const UsbCall& call) {
      owner_.log.push_back(call);
      return owner_.script(call);
    }

    FakeRecorderUsb& owner_;
  };
};

}  // namespace omr72::test
