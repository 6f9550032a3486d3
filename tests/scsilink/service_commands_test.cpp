#include "scsilink/service_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <numeric>
#include <vector>

#include "tests/scsilink/command_log_fake.h"

namespace omr72 {
namespace {

using cmdlog::CommandLogPassThrough;
using cmdlog::LoggedCommand;
using cmdlog::MakeCdb;
using cmdlog::Reply;
using cmdlog::Slot;

class ServiceCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { cmdlog::PlaceAndScan(host, link, 4); }
  void ReplyWith(std::vector<uint8_t> data, uint8_t status = 0) {
    host.SetResponder([=](const LoggedCommand&, size_t) { return Reply{true, status, data}; });
  }

  CommandLogPassThrough host;
  ScsiLink link{host};
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
    ASSERT_EQ(host.commands().size(), 1u);
    const LoggedCommand& sent = host.commands()[0];
    EXPECT_EQ(sent.drive, '4');
    EXPECT_EQ(sent.cdb, c.cdb);
    EXPECT_EQ(sent.dataIn, c.dataIn);
    EXPECT_EQ(sent.length, c.length);
    if (c.dataIn == kDataOut) {
      EXPECT_EQ(sent.dataSent, std::vector<uint8_t>(data, data + c.length));
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
  for (const Reply& failure : {Reply{true, 0x02, std::vector<uint8_t>(40, 0x77)},
                               Reply{false, 0x00, std::vector<uint8_t>(40, 0x66)}}) {
    host.SetResponder([failure](const LoggedCommand&, size_t) { return failure; });
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

// The writer's rule is tested with the writer; here, that its erase and chunk writes are
// sub-commands 9 and 11 in address order, and that a failed command reaches the result.
TEST_F(ServiceCommandsTest, McuFlashWriterErasesWithNineAndWritesWithEleven) {
  std::vector<uint8_t> image(0xFC00);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 256);
  for (size_t failing : {size_t{999}, size_t{188}}) {
    SCOPED_TRACE(failing);
    host.ClearLog();
    host.FailAt(failing);
    EXPECT_EQ(ScsiWriteMcuFlash(link, McuImage(image.data(), 0x2A00)), failing == 999);
    ASSERT_EQ(host.commands().size(), 189u);
    for (size_t i = 0; i < 189; ++i) {
      const uint16_t page = static_cast<uint16_t>(i / 9 * 512);
      const LoggedCommand& c = host.commands()[i];
      if (i % 9 == 0) {
        EXPECT_EQ(c.cdb, MakeCdb({0xC8, 0x09, uint8_t(page >> 8), uint8_t(page)})) << i;
        continue;
      }
      const uint16_t at = static_cast<uint16_t>(page + (i % 9 - 1) * 64);
      EXPECT_EQ(c.cdb, MakeCdb({0xC8, 0x0B, uint8_t(at >> 8), uint8_t(at)})) << i;
      EXPECT_EQ(c.dataSent, std::vector<uint8_t>(&image[at], &image[at] + 64)) << i;
    }
  }
}

// Nothing may reach a drive that the last scan did not identify as the recorder.
TEST(ServiceCommandsLinkTest, CommandsNeverReachAForeignDisk) {
  CommandLogPassThrough host;
  for (int digit = 0; digit < 9; ++digit) host.Place(digit, Slot::kForeign);
  ScsiLink link{host};
  uint16_t version = 0x1234;
  const auto tryAll = [&] {
    EXPECT_FALSE(ScsiReadMemory(link, 0x29F9, MemoryBlockSpan(data, 64)));
    EXPECT_FALSE(ScsiGetFlashParams(link));
    EXPECT_FALSE(ScsiGetBootLoaderVersion(link, &version));
    EXPECT_FALSE(ScsiRestart(link));
    EXPECT_FALSE(ScsiWriteMcuFlash(link, McuImage(std::vector<uint8_t>(0x2A00).data(), 0x2A00)));
  };
  tryAll();  // before any scan
  EXPECT_FALSE(link.IsConnected());
  tryAll();  // after a scan that found none
  EXPECT_TRUE(host.commands().empty());
  EXPECT_EQ(version, 0x1234);
}

TEST(ServiceCommandsLinkTest, RecorderBackOnAnotherDriveGetsTheNextCommand) {
  CommandLogPassThrough host;
  host.Place(0, Slot::kForeign);
  ScsiLink link{host};
  cmdlog::PlaceAndScan(host, link, 2);
  ASSERT_TRUE(ScsiRestart(link));
  host.Place(2, Slot::kEmpty);  // gone from the bus
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(ScsiReadMemory(link, 0x29F9, MemoryBlockSpan(data, 64)));
  host.Place(6, Slot::kRecorder);  // back, on another digit
  ASSERT_TRUE(link.IsConnected());
  EXPECT_TRUE(ScsiReadMemory(link, 0x29F9, MemoryBlockSpan(data, 64)));
  ASSERT_EQ(host.commands().size(), 2u);
  EXPECT_EQ(host.commands()[0].drive, '2');
  EXPECT_EQ(host.commands()[1].drive, '6');
}

}  // namespace
}  // namespace omr72
