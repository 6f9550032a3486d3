// The checks that the public device calls make once, before any backend sees a request: a
// request that fails them is refused with nothing sent.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/usb_driver.h"

namespace omr72 {
namespace {

class CountingUsbDevice : public UsbDevice {
 public:
  bool GetDeviceDescriptor(DeviceDescriptorSpan) override { return true; }
  int sent = 0;

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock&, DataStage) override { return ++sent; }
  bool DoBulkRead(const BulkPipeBlock&, ByteSpan, uint32_t& moved) override {
    moved = 7;
    return ++sent;
  }
  bool DoBulkWrite(const BulkPipeBlock&, ConstByteSpan, uint32_t& moved) override {
    moved = 7;
    return ++sent;
  }
};

VendorRequestBlock Block(uint8_t direction) {
  return {direction, 2, 0, 0, 0x24, 0, 0, 0, 0, 0};
}

TEST(RequestChecks, VendorRequestMustAgreeWithItsDataStage) {
  std::vector<uint8_t> big(0x10000);
  std::array<uint8_t, 2> two{};
  struct Row {
    const char* what;
    uint8_t direction;
    DataStage stage;
    bool sent;
  };
  const Row rows[] = {
      {"in block, in stage", 1, DataStage::In(two), true},
      {"out block, out stage", 0, DataStage::Out(two), true},
      {"out block, no data", 0, DataStage::Out({}), true},
      {"in block, out stage", 1, DataStage::Out(two), false},
      {"out block, in stage", 0, DataStage::In(two), false},
      {"one byte over a control transfer", 1, DataStage::In(big), false},
      {"just a control transfer", 1, DataStage::In(ByteSpan(big).first(0xFFFF)), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    CountingUsbDevice device;
    EXPECT_EQ(device.VendorOrClassRequest(Block(row.direction), row.stage), row.sent);
    EXPECT_EQ(device.sent, row.sent ? 1 : 0);
  }
}

TEST(RequestChecks, BulkCallsStartFromNothingMoved) {
  CountingUsbDevice device;
  std::array<uint8_t, 4> data{};
  uint32_t moved = 99;
  EXPECT_TRUE(device.BulkRead({2, 0, 0, 0}, data, moved));
  EXPECT_EQ(moved, 7u);
  moved = 99;
  EXPECT_TRUE(device.BulkWrite({1, 0, 0, 0}, data, moved));
  EXPECT_EQ(moved, 7u);
}

}  // namespace
}  // namespace omr72
