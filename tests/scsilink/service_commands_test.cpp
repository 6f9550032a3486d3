#include "scsilink/service_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <numeric>
#include <vector>

#include "tests/fakes/nine_devices.h"

namespace omr72 {
namespace {

using fakes::Answer;
using fakes::Call;
using fakes::MakeCdb;

class ServiceCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.driveSlots[4] = fakes::Slot{};
    ASSERT_TRUE(link.IsConnected());
  }
  void ReplyWith(std::vector<uint8_t> data, uint8_t status = 0) {
    host.answer = ([=](const Call&) { return Answer{true, status, data}; });
  }

  fakes::NineDevices host;
  ScsiLink link{host.scsi};
};

uint8_t data[1024];  // 0, 1, 2, ...: what the data-out commands send

TEST_F(ServiceCommandsTest, EveryCommandSendsItsCdbDirectionLengthAndData) {
  struct Case {
    std::function<bool(ScsiLink&)> run;
    Cdb cdb;
    uint8_t dataIn;
    uint32_t length;
  };
  uint8_t reply[64];
  uint16_t version = 0;
  std::iota(std::begin(data), std::end(data), uint8_t{0});
  const Case cases[] = {
      {[](ScsiLink& l) { return ScsiReadPages(l, 0x01020304, 0x0506, ByteSpan(data, 1024)); },
       MakeCdb({0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x05, 0x06}), kDataIn, 1024},
      {[](ScsiLink& l) { return ScsiWritePages(l, 0xFFEEDDCC, 0xBBAA, ConstByteSpan(data, 512)); },
       MakeCdb({0xC8, 0x01, 0xFF, 0xEE, 0xDD, 0xCC, 0x00, 0xBB, 0xAA}), kDataOut, 512},
      {[](ScsiLink& l) {
         return ScsiReadPartsOfPages(l, 0xA1B2C3D4, 0x1122, 0x3344, 0x5566, 0x7788,
                                     ByteSpan(data, 16));
       },
       MakeCdb({0xC8, 0x02, 0xA1, 0xB2, 0xC3, 0xD4, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                0x88}),
       kDataIn, 16},
      {ScsiGetFlashParams, MakeCdb({0xC8, 0x03}), kDataIn, 40},
      {ScsiServiceCommand6, MakeCdb({0xC8, 0x06}), kDataOut, 0},
      {[&](ScsiLink& l) { return ScsiGetBootLoaderVersion(l, &version); }, MakeCdb({0xC8, 0x08}),
       kDataIn, 2},
      {[](ScsiLink& l) { return ScsiEraseFlashPage(l, 0x2800); }, MakeCdb({0xC8, 0x09, 0x28, 0x00}),
       kDataIn, 0},
      {[&](ScsiLink& l) { return ScsiReadMemory(l, 0x29F9, reply); },
       MakeCdb({0xC8, 0x0A, 0x29, 0xF9}), kDataIn, 64},
      {[](ScsiLink& l) { return ScsiWriteFlashChunk(l, 0x29C0, McuChunk(data, 64)); },
       MakeCdb({0xC8, 0x0B, 0x29, 0xC0}), kDataOut, 64},
      {[](ScsiLink& l) { return ScsiWriteSerialNumber(l, SerialField(data, 21)); },
       MakeCdb({0xC8, 0x0C}), kDataOut, 21},
      {ScsiRestart, MakeCdb({0xC8, 0x0D}), kDataIn, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.cdb));
    host.ClearLog();
    EXPECT_TRUE(c.run(link));
    ASSERT_EQ(host.commands.size(), 1u);
    const Call& sent = host.commands[0];
    EXPECT_EQ(sent.slot, 4);
    EXPECT_EQ(sent.cdb, c.cdb);
    EXPECT_EQ(sent.direction, c.dataIn);
    EXPECT_EQ(sent.length, c.length);
    if (c.dataIn == kDataOut) {
      EXPECT_EQ(sent.sent, std::vector<uint8_t>(data, data + c.length));
    }
  }
}

std::vector<uint8_t> FlashParamsReply() {
  std::vector<uint8_t> r(40);
  std::iota(r.begin(), r.end(), uint8_t{0xA0});
  r[1] = 0x00, r[2] = 0x01, r[3] = 0x00, r[4] = 0x00;
  r[11] = 0x12, r[12] = 0x34;
  r[14] = 0x02, r[15] = 0x00;
  r[38] = 0x05, r[39] = 0x01;
  return r;
}

TEST_F(ServiceCommandsTest, FlashParamsConvertTheThreeBigEndianFieldsOnceAndKeepOnFailure) {
  const std::vector<uint8_t> wire = FlashParamsReply();
  ReplyWith(wire);
  for (int read = 0; read < 2; ++read) {  // converted once per read, never twice
    ASSERT_TRUE(ScsiGetFlashParams(link));
    const FlashParams& p = link.flashParams;
    uint32_t word;
    uint16_t shortField;
    std::memcpy(&word, p.data() + 1, 4);
    std::memcpy(&shortField, p.data() + 11, 2);
    EXPECT_EQ(word, 65536u);
    EXPECT_EQ(shortField, 0x1234);
    EXPECT_EQ(FlashParamsPageSize(p), 512);
    EXPECT_EQ(FlashParamsFirmwareVersion(p), 0x0105);
    EXPECT_EQ(FlashParamsSerialNumber(p).data(), p.data() + 17);
    EXPECT_EQ(FlashParamsSerialNumber(p).size(), 20u);
    for (size_t at : {0, 5, 10, 13, 16, 17, 36, 37, 38, 39}) EXPECT_EQ(p[at], wire[at]) << at;
  }
  const FlashParams before = link.flashParams;
  for (const Answer& failure : {Answer{true, 0x02, std::vector<uint8_t>(40, 0x77)},
                                Answer{false, 0x00, std::vector<uint8_t>(40, 0x66)}}) {
    host.answer = ([failure](const Call&) { return failure; });
    EXPECT_FALSE(ScsiGetFlashParams(link));
    EXPECT_EQ(link.flashParams, before);
  }
}

TEST_F(ServiceCommandsTest, BootLoaderVersionIsLittleEndianAndUntouchedOnFailure) {
  uint16_t version = 0;
  ReplyWith({0x0A, 0x02});
  ASSERT_TRUE(ScsiGetBootLoaderVersion(link, &version));
  EXPECT_EQ(version, 0x020A);
  ReplyWith({0x11, 0x22}, 0x02);
  EXPECT_FALSE(ScsiGetBootLoaderVersion(link, &version));
  EXPECT_EQ(version, 0x020A);
}

TEST_F(ServiceCommandsTest, ShortDataPhaseWithGoodStatusIsSuccess) {
  uint8_t block[64];
  std::memset(block, 0xEE, sizeof block);
  ReplyWith(std::vector<uint8_t>(10, 0x11));
  EXPECT_TRUE(ScsiReadMemory(link, 0xDE00, block));
  EXPECT_EQ(block[9], 0x11);
  EXPECT_EQ(block[10], 0xEE);

  std::vector<uint8_t> head = FlashParamsReply();
  head.resize(16);
  ReplyWith(head);
  ASSERT_TRUE(ScsiGetFlashParams(link));
  EXPECT_EQ(FlashParamsPageSize(link.flashParams), 512);
  EXPECT_EQ(FlashParamsFirmwareVersion(link.flashParams), 0);  // not sent: zero, not stale
}

// The writer's rule is tested with the writer; here, that it runs over sub-commands 9 and 11
// and that a failed command reaches the result.
TEST_F(ServiceCommandsTest, McuFlashWriterErasesWithNineAndWritesWithEleven) {
  std::vector<uint8_t> image(0x2A00);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 256);
  host.FailAt(188);
  EXPECT_FALSE(ScsiWriteMcuFlash(link, McuImage(image.data(), 0x2A00)));
  ASSERT_EQ(host.commands.size(), 189u);
  EXPECT_EQ(host.commands[9].cdb, MakeCdb({0xC8, 0x09, 0x02, 0x00}));
  EXPECT_EQ(host.commands[188].cdb, MakeCdb({0xC8, 0x0B, 0x29, 0xC0}));
  EXPECT_EQ(host.commands[188].sent, std::vector<uint8_t>(image.begin() + 0x29C0, image.end()));
}

}  // namespace
}  // namespace omr72
