#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "platform/linux/usb_driver.h"

namespace omr72 {
namespace {

TEST(LinuxUsbNames, OnlyTheNineDriverPathsNameADevice) {
  const struct {
    const char* path;
    std::optional<unsigned> index;
  } cases[] = {
      {R"(\\.\ezusb-0)", 0u},
      {R"(\\.\ezusb-8)", 8u},
      {R"(\\.\ezusb-x)", std::nullopt},
      {"ezusb-0", std::nullopt},
      {R"(\\.\ezusb-10)", std::nullopt},
      {R"(\\.\ezusb-)", std::nullopt},
      {R"(\\.\PHYSICALDRIVE0)", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UsbDeviceIndex(c.path), c.index) << (c.path ? c.path : "null");
  }
}

TEST(LinuxUsbOrder, VendorDevicesInBusThenPortPathOrder) {
  const std::vector<UsbCandidate> candidates = {
      {{2, {1}}, true},        // 0
      {{1, {10}}, true},       // 1: port 10 after port 9, numerically
      {{1, {9}}, true},        // 2
      {{1, {3, 4}}, false},    // 3: not vendor-specific
      {{1, {3}}, true},        // 4: a hub's own port before the devices behind it
      {{1, {3, 2}}, true},     // 5
      {{1, {3, 2, 1}}, true},  // 6
      {{0, {}}, false},        // 7: a root hub
  };
  EXPECT_EQ(OrderVendorDevices(candidates), (std::vector<size_t>{4, 5, 6, 2, 1, 0}));
  EXPECT_TRUE(OrderVendorDevices({}).empty());
  EXPECT_TRUE(OrderVendorDevices({{{1, {1}}, false}}).empty());
}

// The driver's request block, as its bytes: direction, type, recipient, 0, request, 0, value
// and index little-endian.
TEST(LinuxUsbVendorRequest, BlockBecomesSetupPacket) {
  using Setup = std::tuple<uint8_t, uint8_t, uint16_t, uint16_t, uint16_t>;
  const struct {
    const char* name;
    VendorRequestBlock block;
    uint32_t length;
    std::optional<Setup> setup;
  } cases[] = {
      {"vendor out",
       {0, 2, 0, 0, 0xB5, 0, 0x34, 0x12, 0xCD, 0xAB},
       64,
       Setup{0x40, 0xB5, 0x1234, 0xABCD, 64}},
      {"vendor in",
       {1, 2, 0, 0, 0xA0, 0, 0x01, 0x00, 0x00, 0x80},
       0xFFFF,
       Setup{0xC0, 0xA0, 0x0001, 0x8000, 0xFFFF}},
      {"no data stage", {0, 2, 0, 0, 0x55}, 0, Setup{0x40, 0x55, 0, 0, 0}},
      {"class to interface",
       {1, 1, 1, 0, 0x01, 0, 0x00, 0x01, 0x02, 0x00},
       8,
       Setup{0xA1, 0x01, 0x0100, 0x0002, 8}},
      {"direction 2", {2, 2, 0, 0, 0x55}, 0, std::nullopt},
      {"standard request", {1, 0, 0, 0, 0x06, 0, 0x00, 0x01}, 18, std::nullopt},
      {"recipient 4", {1, 2, 4, 0, 0x55}, 0, std::nullopt},
      {"data stage over 64 KiB", {1, 2, 0, 0, 0x55}, 0x10000, std::nullopt},
  };
  for (const auto& c : cases) {
    std::optional<Setup> got;
    if (auto s = DecodeVendorRequest(c.block, c.length))
      got = Setup{s->requestType, s->request, s->value, s->index, s->length};
    EXPECT_EQ(got, c.setup) << c.name;
  }
}

BulkPipeBlock Pipe(uint32_t i) {
  return {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16),
          static_cast<uint8_t>(i >> 24)};
}

TEST(LinuxUsbPipes, PipeIndexIsTheEndpointInDescriptorOrder) {
  const std::vector<UsbEndpoint> endpoints = {
      {0x81, LIBUSB_TRANSFER_TYPE_BULK},         // pipe 0
      {0x02, LIBUSB_TRANSFER_TYPE_BULK},         // pipe 1
      {0x86, LIBUSB_TRANSFER_TYPE_BULK},         // pipe 2
      {0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT},    // pipe 3
      {0x04, LIBUSB_TRANSFER_TYPE_ISOCHRONOUS},  // pipe 4
  };
  const struct {
    uint32_t pipe;
    bool in;
    std::optional<uint8_t> address;
  } cases[] = {
      {0, true, 0x81},          {1, false, 0x02},        {2, true, 0x86},
      {3, true, 0x83},          {1, true, std::nullopt}, {2, false, std::nullopt},
      {4, false, std::nullopt}, {5, true, std::nullopt}, {0x01000002, true, std::nullopt},
  };
  for (const auto& c : cases) {
    std::optional<UsbEndpoint> e = PipeEndpoint(endpoints, Pipe(c.pipe), c.in);
    ASSERT_EQ(e.has_value(), c.address.has_value()) << "pipe " << c.pipe << " in " << c.in;
    if (e) {
      EXPECT_EQ(e->address, *c.address) << "pipe " << c.pipe;
    }
  }
  EXPECT_FALSE(PipeEndpoint({}, Pipe(0), true));
}

TEST(LinuxUsbDescriptor, SerialisedLittleEndianAsOnTheBus) {
  // Fields in declaration order: lengths and classes, bcdUSB, ids, bcdDevice, string indices.
  const libusb_device_descriptor d = {18,     1,      0x0200, 0xFF, 0x01, 0x02, 64,
                                      0x10C4, 0x4512, 0x0A0B, 1,    2,    3,    4};
  const std::array<uint8_t, 18> expected = {18,   1,    0x00, 0x02, 0xFF, 0x01, 0x02, 64, 0xC4,
                                            0x10, 0x12, 0x45, 0x0B, 0x0A, 1,    2,    3,  4};
  EXPECT_EQ(SerializeDeviceDescriptor(d), expected);
}

}  // namespace
}  // namespace omr72
