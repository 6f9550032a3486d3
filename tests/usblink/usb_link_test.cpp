// The USB link against a host whose nine device objects the test lays out.
#include "usblink/usb_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/fakes/nine_devices.h"

namespace omr72 {
namespace {

using fakes::Call;
using fakes::Kind;
using fakes::OtherIds;
using fakes::Slot;

// The made-up host answering as a recorder: data stages in filled with 0xA0 up to
// `vendorAnswerLength` bytes, bulk reads with 0xB0; a bulk transfer moves at most
// `bulkMovesAtMost` bytes, or fails.
struct Host : fakes::NineDevices {
  Host() {
    answer = [this](const Call& c) {
      if (c.kind == Kind::kVendor) {
        return fakes::Answer{
            .data = std::vector<uint8_t>(std::min(c.length, vendorAnswerLength), 0xA0)};
      }
      if (bulkFails) return fakes::Answer{.ok = false};
      const uint32_t moved = std::min(c.length, bulkMovesAtMost);
      return fakes::Answer{.data = std::vector<uint8_t>(moved, 0xB0), .moved = moved};
    };
  }
  // "ezusb-2 vendor req=36 len=2", "ezusb-2 bulk read pipe=2 len=16384"
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    for (const Call& c : commands) {
      const std::string device = "ezusb-" + std::to_string(c.slot);
      if (c.kind == Kind::kVendor) {
        out.push_back(device + " vendor req=" + std::to_string(c.request) +
                      " len=" + std::to_string(c.length) + (c.buffer ? "" : " nodata"));
      } else {
        out.push_back(device + " bulk " + (c.kind == Kind::kBulkRead ? "read" : "write") +
                      " pipe=" + std::to_string(c.pipe) + " len=" + std::to_string(c.length));
      }
    }
    return out;
  }
  uint32_t bulkMovesAtMost = 0xFFFFFFFF;
  bool bulkFails = false;
  uint32_t vendorAnswerLength = 0xFFFFFFFF;
};

struct ScanCase {
  const char* name;
  std::vector<std::pair<int, Slot>> devices;
  bool found;
  std::vector<std::string> opened;
  std::vector<std::string> closedWithoutUse;  // devices opened and closed during the scan
};

TEST(UsbLinkScan, FindsTheFirstMatchingDeviceInNameOrder) {
  const Slot failing{.descriptorFails = true};
  const Slot swapped = OtherIds(0xC410, 0x1245);  // the ids with their bytes swapped
  const std::vector<ScanCase> cases = {
      {"nothing there",
       {},
       false,
       {"ezusb-0", "ezusb-1", "ezusb-2", "ezusb-3", "ezusb-4", "ezusb-5", "ezusb-6", "ezusb-7",
        "ezusb-8"},
       {}},
      {"only at 5",
       {{5, Slot{}}},
       true,
       {"ezusb-0", "ezusb-1", "ezusb-2", "ezusb-3", "ezusb-4", "ezusb-5"},
       {}},
      {"at 1 and 3", {{1, Slot{}}, {3, Slot{}}}, true, {"ezusb-0", "ezusb-1"}, {}},
      {"other ids first",
       {{0, OtherIds()}, {2, Slot{}}},
       true,
       {"ezusb-0", "ezusb-1", "ezusb-2"},
       {"ezusb-0"}},
      {"descriptor fails first",
       {{0, failing}, {1, Slot{}}},
       true,
       {"ezusb-0", "ezusb-1"},
       {"ezusb-0"}},
      {"ids in the wrong byte order",
       {{4, swapped}},
       false,
       {"ezusb-0", "ezusb-1", "ezusb-2", "ezusb-3", "ezusb-4", "ezusb-5", "ezusb-6", "ezusb-7",
        "ezusb-8"},
       {"ezusb-4"}},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    Host host;
    for (const auto& [slot, device] : c.devices) host.usbSlots[slot] = device;
    UsbLink link(host.usb);
    link.SetDeviceIds(0x10C4, 0x4512);
    EXPECT_EQ(link.IsConnected(), c.found);
    EXPECT_EQ(host.Opens(), c.opened);
    EXPECT_EQ(host.openHandles, 0) << "a handle was left open";
    for (const std::string& name : c.closedWithoutUse) {
      const auto& e = host.events;
      EXPECT_NE(std::find(e.begin(), e.end(), "close " + name), e.end()) << name;
    }
  }
}

TEST(UsbLinkScan, NoIdsSetMatchesNothing) {
  Host host;
  host.usbSlots[0] = Slot{};
  UsbLink link(host.usb);
  EXPECT_FALSE(link.IsConnected());
}

class UsbLinkWithRecorder : public ::testing::Test {
 protected:
  void SetUp() override {
    host.usbSlots[2] = Slot{};
    link.SetDeviceIds(0x10C4, 0x4512);
  }
  std::vector<std::string> Requests() const { return host.Requests(); }
  Host host;
  UsbLink link{host.usb};
};

TEST(UsbLinkVendorRequest, BlockCarriesDirectionVendorTypeRequestAndLittleEndianFields) {
  EXPECT_EQ(BuildVendorRequestBlock(1, 0x24, 0x1234, 0xABCD),
            (VendorRequestBlock{1, 2, 0, 0, 0x24, 0, 0x34, 0x12, 0xCD, 0xAB}));
  EXPECT_EQ(BuildVendorRequestBlock(0, 0x21, 0x29C0, 0),
            (VendorRequestBlock{0, 2, 0, 0, 0x21, 0, 0xC0, 0x29, 0, 0}));
  EXPECT_EQ(BuildBulkPipeBlock(2), (BulkPipeBlock{2, 0, 0, 0}));
}

TEST_F(UsbLinkWithRecorder, VendorRequestGoesToTheRecorderAndClosesIt) {
  uint8_t buffer[2] = {};
  EXPECT_TRUE(link.VendorRequest(0x24, 0x0102, 0x0304, DataStage::In(buffer)));
  const Call& sent = host.commands.back();
  EXPECT_EQ(std::make_tuple(sent.direction, sent.value, sent.index),
            std::make_tuple(1, 0x0102, 0x0304));
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 vendor req=36 len=2"});
  EXPECT_EQ(host.openHandles, 0);
}

TEST_F(UsbLinkWithRecorder, RequestWithoutDataStageSendsNoBuffer) {
  EXPECT_TRUE(link.VendorRequest(0x23, 0, 0, DataStage::In({})));
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 vendor req=35 len=0 nodata"});
  EXPECT_EQ(host.commands.back().direction, 1) << "an empty stage keeps its direction";
  EXPECT_TRUE(link.VendorRequest(0x23, 0, 0, DataStage::Out({})));
  EXPECT_EQ(host.commands.back().direction, 0);
}

TEST_F(UsbLinkWithRecorder, ShortDataStageStillSucceeds) {
  host.vendorAnswerLength = 1;
  uint8_t buffer[21] = {};
  EXPECT_TRUE(link.VendorRequest(0xC1, 0, 0, DataStage::In(buffer)));
  EXPECT_EQ(buffer[0], 0xA0);
  EXPECT_EQ(buffer[1], 0);
}

TEST(UsbLinkVendorRequestAbsent, FailsWithoutTouchingTheBuffer) {
  Host host;
  host.usbSlots[0] = OtherIds();
  UsbLink link(host.usb);
  link.SetDeviceIds(0x10C4, 0x4512);
  uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_FALSE(link.VendorRequest(0x20, 0, 0, DataStage::In(buffer)));
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_TRUE(host.commands.empty());
}

TEST_F(UsbLinkWithRecorder, BulkTransferCapsItsLength) {
  std::vector<uint8_t> buffer(20000);
  uint32_t moved = 0;
  EXPECT_TRUE(link.BulkTransfer(2, DataStage::In(ByteSpan(buffer).first(16385)), &moved));
  EXPECT_EQ(moved, 16384u);
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 bulk read pipe=2 len=16384"});
}

// The device's public call checks the stage once for every backend: a data stage longer than
// a control transfer can carry never reaches the driver.
TEST_F(UsbLinkWithRecorder, ControlStageBeyondSixteenBitsNeverReachesTheDevice) {
  std::vector<uint8_t> big(0x10000);
  EXPECT_FALSE(link.VendorRequest(0x20, 0, 0, DataStage::In(big)));
  EXPECT_FALSE(link.VendorRequest(0x21, 0, 0, DataStage::Out(big)));
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(link.VendorRequest(0x20, 0, 0, DataStage::In(ByteSpan(big).first(0xFFFF))));
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 vendor req=32 len=65535"});
}

TEST_F(UsbLinkWithRecorder, ChunkedReadAndWriteUseTheirPipesAndTheCap) {
  std::vector<uint8_t> block(135168);
  uint32_t moved = 0;
  link.BulkRead(block, &moved);
  EXPECT_EQ(moved, 135168u);
  std::vector<std::string> expected(8, "ezusb-2 bulk read pipe=2 len=16384");
  expected.push_back("ezusb-2 bulk read pipe=2 len=4096");
  EXPECT_EQ(Requests(), expected);
  EXPECT_EQ(block.back(), 0xB0);

  host.ClearLog();
  link.BulkWrite(ConstByteSpan(block).first(2112), &moved);
  EXPECT_EQ(moved, 2112u);
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 bulk write pipe=1 len=2112"});
}

TEST_F(UsbLinkWithRecorder, ChunkedTransferOfNothingOpensNothing) {
  uint8_t byte = 0;
  link.BulkRead(ByteSpan(&byte, 0));
  link.BulkWrite(ConstByteSpan(&byte, 0));
  EXPECT_TRUE(host.calls.empty());
  EXPECT_TRUE(host.events.empty());
}

TEST_F(UsbLinkWithRecorder, ChunkedTransferContinuesAfterShortChunksAndStopsOnFailureOrNothing) {
  const struct {
    const char* name;
    uint32_t movesAtMost;
    bool fails;
    uint32_t expectedMoved;
    size_t expectedTransfers;
  } cases[] = {
      {"short chunks", 1000, false, 2112, 3},
      {"failing", 0xFFFFFFFF, true, 0, 1},
      {"moves nothing", 0, false, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host.bulkMovesAtMost = c.movesAtMost;
    host.bulkFails = c.fails;
    host.ClearLog();
    std::vector<uint8_t> page(2112);
    uint32_t moved = 99;
    link.BulkRead(page, &moved);
    EXPECT_EQ(moved, c.expectedMoved);
    EXPECT_EQ(Requests().size(), c.expectedTransfers);
  }
}

}  // namespace
}  // namespace omr72
