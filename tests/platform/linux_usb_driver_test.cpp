#include <gtest/gtest.h>

#include <optional>
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

VendorRequestBlock Block(uint8_t direction, uint8_t type, uint8_t recipient, uint8_t request,
                         uint16_t value, uint16_t index) {
  return {direction,
          type,
          recipient,
          0,
          request,
          0,
          static_cast<uint8_t>(value),
          static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(index),
          static_cast<uint8_t>(index >> 8)};
}

TEST(LinuxUsbVendorRequest, BlockBecomesSetupPacket) {
  struct Case {
    const char* name;
    VendorRequestBlock block;
    uint32_t length;
    std::optional<ControlSetup> setup;
  };
  const Case cases[] = {
      {"vendor out", Block(0, 2, 0, 0xB5, 0x1234, 0xABCD), 64,
       ControlSetup{0x40, 0xB5, 0x1234, 0xABCD, 64}},
      {"vendor in", Block(1, 2, 0, 0xA0, 0x0001, 0x8000), 0xFFFF,
       ControlSetup{0xC0, 0xA0, 0x0001, 0x8000, 0xFFFF}},
      {"no data stage", Block(0, 2, 0, 0x55, 0, 0), 0, ControlSetup{0x40, 0x55, 0, 0, 0}},
      {"class to interface", Block(1, 1, 1, 0x01, 0x0100, 0x0002), 8,
       ControlSetup{0xA1, 0x01, 0x0100, 0x0002, 8}},
      {"direction 2", Block(2, 2, 0, 0x55, 0, 0), 0, std::nullopt},
      {"standard request", Block(1, 0, 0, 0x06, 0x0100, 0), 18, std::nullopt},
      {"recipient 4", Block(1, 2, 4, 0x55, 0, 0), 0, std::nullopt},
      {"data stage over 64 KiB", Block(1, 2, 0, 0x55, 0, 0), 0x10000, std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<ControlSetup> setup = DecodeVendorRequest(c.block, c.length);
    ASSERT_EQ(setup.has_value(), c.setup.has_value()) << c.name;
    if (!setup) continue;
    EXPECT_EQ(setup->requestType, c.setup->requestType) << c.name;
    EXPECT_EQ(setup->request, c.setup->request) << c.name;
    EXPECT_EQ(setup->value, c.setup->value) << c.name;
    EXPECT_EQ(setup->index, c.setup->index) << c.name;
    EXPECT_EQ(setup->length, c.setup->length) << c.name;
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
  libusb_device_descriptor d{};
  d.bLength = 18;
  d.bDescriptorType = 1;
  d.bcdUSB = 0x0200;
  d.bDeviceClass = 0xFF;
  d.bDeviceSubClass = 0x01;
  d.bDeviceProtocol = 0x02;
  d.bMaxPacketSize0 = 64;
  d.idVendor = 0x10C4;
  d.idProduct = 0x4512;
  d.bcdDevice = 0x0A0B;
  d.iManufacturer = 1;
  d.iProduct = 2;
  d.iSerialNumber = 3;
  d.bNumConfigurations = 4;
  const std::array<uint8_t, 18> expected = {18,   1,    0x00, 0x02, 0xFF, 0x01, 0x02, 64, 0xC4,
                                            0x10, 0x12, 0x45, 0x0B, 0x0A, 1,    2,    3,  4};
  EXPECT_EQ(SerializeDeviceDescriptor(d), expected);
}

}  // namespace
}  // namespace omr72
