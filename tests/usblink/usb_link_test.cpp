// The USB link against a host whose nine device objects the test lays out.
#include "usblink/usb_link.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace omr72 {
namespace {

struct SlotDevice {
  uint16_t vendorId = 0x10C4;
  uint16_t productId = 0x4512;
  bool descriptorFails = false;
  uint32_t bulkMovesAtMost = 0xFFFFFFFF;  // bytes a bulk transfer moves
  bool bulkFails = false;
  uint32_t vendorAnswerLength = 0xFFFFFFFF;  // bytes of a data stage in that the device fills
};

class HostLog {
 public:
  std::vector<std::string> lines;
  int open = 0;
};

class SlotUsbDevice : public UsbDevice {
 public:
  SlotUsbDevice(int slot, const SlotDevice& d, HostLog& log) : slot_(slot), d_(d), log_(log) {
    ++log_.open;
  }
  ~SlotUsbDevice() override {
    --log_.open;
    Log("close");
  }
  bool GetDeviceDescriptor(DeviceDescriptorSpan descriptor) override {
    Log("descriptor");
    if (d_.descriptorFails) return false;
    descriptor[0] = 18;
    descriptor[1] = 1;
    descriptor[8] = static_cast<uint8_t>(d_.vendorId);
    descriptor[9] = static_cast<uint8_t>(d_.vendorId >> 8);
    descriptor[10] = static_cast<uint8_t>(d_.productId);
    descriptor[11] = static_cast<uint8_t>(d_.productId >> 8);
    return true;
  }
  static inline VendorRequestBlock lastBlock{};

 private:
  bool DoVendorOrClassRequest(const VendorRequestBlock& block, DataStage data) override {
    lastBlock = block;
    Log("vendor req=" + std::to_string(block[4]) + " len=" + std::to_string(data.size()) +
        (data.empty() ? " nodata" : ""));
    for (uint32_t i = 0; i < data.in().size() && i < d_.vendorAnswerLength; ++i) {
      data.in()[i] = 0xA0;
    }
    return true;
  }
  bool DoBulkRead(const BulkPipeBlock& pipe, ByteSpan data, uint32_t& moved) override {
    if (!Bulk("read", pipe, data.size(), moved)) return false;
    std::fill_n(data.begin(), moved, 0xB0);
    return true;
  }
  bool DoBulkWrite(const BulkPipeBlock& pipe, ConstByteSpan data, uint32_t& moved) override {
    return Bulk("write", pipe, data.size(), moved);
  }
  bool Bulk(const char* what, const BulkPipeBlock& pipe, uint32_t length, uint32_t& moved) {
    Log(std::string("bulk ") + what + " pipe=" + std::to_string(pipe[0]) +
        " len=" + std::to_string(length));
    if (d_.bulkFails) return false;
    moved = std::min(length, d_.bulkMovesAtMost);
    return true;
  }
  void Log(const std::string& what) {
    log_.lines.push_back("ezusb-" + std::to_string(slot_) + " " + what);
  }
  int slot_;
  SlotDevice d_;
  HostLog& log_;
};

class SlotUsbDriver : public UsbDriver {
 public:
  std::array<std::optional<SlotDevice>, 9> slots;
  HostLog log;

  std::unique_ptr<UsbDevice> Open(const char* path) override {
    const std::string p = path;
    const std::string prefix = "\\\\.\\ezusb-";
    EXPECT_EQ(p.substr(0, prefix.size()), prefix) << p;
    const int slot = p.back() - '0';
    log.lines.push_back("open ezusb-" + std::to_string(slot));
    if (slot < 0 || slot > 8 || !slots[slot]) return nullptr;
    return std::make_unique<SlotUsbDevice>(slot, *slots[slot], log);
  }

  std::vector<std::string> Opens() const {
    std::vector<std::string> opens;
    for (const auto& line : log.lines) {
      if (line.rfind("open ", 0) == 0) opens.push_back(line.substr(5));
    }
    return opens;
  }
};

SlotDevice Foreign() {
  return SlotDevice{0x0781, 0x5567};
}

struct ScanCase {
  const char* name;
  std::vector<std::pair<int, SlotDevice>> devices;
  bool found;
  std::vector<std::string> opened;
  std::vector<std::string> closedWithoutUse;  // devices opened and closed during the scan
};

TEST(UsbLinkScan, FindsTheFirstMatchingDeviceInNameOrder) {
  SlotDevice failing;
  failing.descriptorFails = true;
  SlotDevice swapped{0xC410, 0x1245};  // the ids with their bytes swapped
  const std::vector<ScanCase> cases = {
      {"nothing there",
       {},
       false,
       {"ezusb-0", "ezusb-1", "ezusb-2", "ezusb-3", "ezusb-4", "ezusb-5", "ezusb-6", "ezusb-7",
        "ezusb-8"},
       {}},
      {"only at 5",
       {{5, SlotDevice{}}},
       true,
       {"ezusb-0", "ezusb-1", "ezusb-2", "ezusb-3", "ezusb-4", "ezusb-5"},
       {}},
      {"at 1 and 3", {{1, SlotDevice{}}, {3, SlotDevice{}}}, true, {"ezusb-0", "ezusb-1"}, {}},
      {"other ids first",
       {{0, Foreign()}, {2, SlotDevice{}}},
       true,
       {"ezusb-0", "ezusb-1", "ezusb-2"},
       {"ezusb-0"}},
      {"descriptor fails first",
       {{0, failing}, {1, SlotDevice{}}},
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
    SlotUsbDriver driver;
    for (const auto& [slot, device] : c.devices) driver.slots[slot] = device;
    UsbLink link(driver);
    link.SetDeviceIds(0x10C4, 0x4512);
    EXPECT_EQ(link.IsConnected(), c.found);
    EXPECT_EQ(driver.Opens(), c.opened);
    EXPECT_EQ(driver.log.open, 0) << "a handle was left open";
    for (const std::string& name : c.closedWithoutUse) {
      const auto& l = driver.log.lines;
      EXPECT_NE(std::find(l.begin(), l.end(), name + " close"), l.end()) << name;
    }
  }
}

TEST(UsbLinkScan, NoIdsSetMatchesNothing) {
  SlotUsbDriver driver;
  driver.slots[0] = SlotDevice{};
  UsbLink link(driver);
  EXPECT_FALSE(link.IsConnected());
}

class UsbLinkWithRecorder : public ::testing::Test {
 protected:
  void SetUp() override {
    driver.slots[2] = SlotDevice{};
    link.SetDeviceIds(0x10C4, 0x4512);
  }
  void Place(const SlotDevice& device) { driver.slots[2] = device; }
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    for (const auto& line : driver.log.lines) {
      if (line.find(" vendor ") != std::string::npos || line.find(" bulk ") != std::string::npos)
        out.push_back(line);
    }
    return out;
  }
  SlotUsbDriver driver;
  UsbLink link{driver};
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
  EXPECT_EQ(SlotUsbDevice::lastBlock,
            (VendorRequestBlock{1, 2, 0, 0, 0x24, 0, 0x02, 0x01, 0x04, 0x03}));
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 vendor req=36 len=2"});
  EXPECT_EQ(driver.log.open, 0);
}

TEST_F(UsbLinkWithRecorder, RequestWithoutDataStageSendsNoBuffer) {
  EXPECT_TRUE(link.VendorRequest(0x23, 0, 0, DataStage::In({})));
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 vendor req=35 len=0 nodata"});
  EXPECT_EQ(SlotUsbDevice::lastBlock[0], 1) << "an empty stage keeps its direction";
  EXPECT_TRUE(link.VendorRequest(0x23, 0, 0, DataStage::Out({})));
  EXPECT_EQ(SlotUsbDevice::lastBlock[0], 0);
}

TEST_F(UsbLinkWithRecorder, ShortDataStageStillSucceeds) {
  SlotDevice shortAnswer;
  shortAnswer.vendorAnswerLength = 1;
  Place(shortAnswer);
  uint8_t buffer[21] = {};
  EXPECT_TRUE(link.VendorRequest(0xC1, 0, 0, DataStage::In(buffer)));
  EXPECT_EQ(buffer[0], 0xA0);
  EXPECT_EQ(buffer[1], 0);
}

TEST(UsbLinkVendorRequestAbsent, FailsWithoutTouchingTheBuffer) {
  SlotUsbDriver driver;
  driver.slots[0] = Foreign();
  UsbLink link(driver);
  link.SetDeviceIds(0x10C4, 0x4512);
  uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_FALSE(link.VendorRequest(0x20, 0, 0, DataStage::In(buffer)));
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[3], 4);
  for (const auto& line : driver.log.lines) EXPECT_EQ(line.find("vendor"), std::string::npos);
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

  driver.log.lines.clear();
  link.BulkWrite(ConstByteSpan(block).first(2112), &moved);
  EXPECT_EQ(moved, 2112u);
  EXPECT_EQ(Requests(), std::vector<std::string>{"ezusb-2 bulk write pipe=1 len=2112"});
}

TEST_F(UsbLinkWithRecorder, ChunkedTransferOfNothingOpensNothing) {
  uint8_t byte = 0;
  link.BulkRead(ByteSpan(&byte, 0));
  link.BulkWrite(ConstByteSpan(&byte, 0));
  EXPECT_TRUE(driver.log.lines.empty());
}

TEST_F(UsbLinkWithRecorder, ChunkedTransferContinuesAfterShortChunksAndStopsOnFailureOrNothing) {
  struct Case {
    const char* name;
    SlotDevice device;
    uint32_t expectedMoved;
    size_t expectedTransfers;
  };
  SlotDevice shortChunks;
  shortChunks.bulkMovesAtMost = 1000;
  SlotDevice failing;
  failing.bulkFails = true;
  SlotDevice empty;
  empty.bulkMovesAtMost = 0;
  const std::vector<Case> cases = {
      {"short chunks", shortChunks, 2112, 3},
      {"failing", failing, 0, 1},
      {"moves nothing", empty, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Place(c.device);
    driver.log.lines.clear();
    std::vector<uint8_t> page(2112);
    uint32_t moved = 99;
    link.BulkRead(page, &moved);
    EXPECT_EQ(moved, c.expectedMoved);
    EXPECT_EQ(Requests().size(), c.expectedTransfers);
  }
}

}  // namespace
}  // namespace omr72
