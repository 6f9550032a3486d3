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
      {R"(\\.\ezusb-/)", std::nullopt},  // the characters either side of the digits
      {R"(\\.\ezusb-:)", std::nullopt},
      {R"(\\.\Ezusb-1)", std::nullopt},
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

// Only the served ids are numbered, as the driver's INF file would list them; a device with
// another product id of the same vendor, or the recorder's disk face, is never an ezusb-N.
TEST(LinuxUsbOrder, ServedDevicesInBusThenPortPathOrder) {
  const UsbId recorder{0x10C4, 0x4512};
  const std::vector<UsbCandidate> candidates = {
      {{2, {1}}, recorder},             // 0
      {{1, {10}}, recorder},            // 1: port 10 after port 9, numerically
      {{1, {9}}, recorder},             // 2
      {{1, {3, 4}}, {0x10C4, 0x4513}},  // 3: same vendor, another product
      {{1, {3}}, recorder},             // 4: a hub's own port before the devices behind it
      {{1, {3, 2}}, recorder},          // 5
      {{1, {3, 2, 1}}, recorder},       // 6
      {{0, {}}, {0x1D6B, 0x0002}},      // 7: a root hub
      {{1, {5}}, {0x4512, 0x10C4}},     // 8: the ids swapped
  };
  EXPECT_EQ(OrderServedDevices(candidates), (std::vector<size_t>{4, 5, 6, 2, 1, 0}));
  EXPECT_TRUE(OrderServedDevices({}).empty());
  EXPECT_TRUE(OrderServedDevices({{{1, {1}}, {0x10C4, 0x4513}}}).empty());
  // A second served pair is numbered among the first, by place alone.
  const UsbId other{0x0547, 0x1002};
  const std::vector<UsbId> two = {recorder, other};
  EXPECT_EQ(OrderServedDevices({{{1, {2}}, other}, {{1, {1}}, recorder}, {{1, {3}}, {1, 2}}}, two),
            (std::vector<size_t>{1, 0}));
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
