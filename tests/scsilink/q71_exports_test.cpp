// The exported entry points over a logging fake: argument slots, 16-bit truncation, results.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scsilink/exports/q71_link.h"
#include "scsilink/q71.h"
#include "tests/fakes/nine_devices.h"

namespace omr72 {
namespace {

fakes::NineDevices& ExportsHost() {
  static fakes::NineDevices host;
  return host;
}

}  // namespace

// This test program's definition of the exports' link.
ScsiLink& Q71Link() {
  static ScsiLink link{ExportsHost().scsi};
  return link;
}

namespace {

using fakes::Answer;
using fakes::Call;

TEST(Q71ExportsTest, CallingOrderAndResults) {
  fakes::NineDevices& host = ExportsHost();
  host.driveSlots[5] = fakes::Slot{};
  std::vector<uint8_t> wire(40, 0);
  wire[14] = 0x02;  // 512-byte pages
  uint8_t flashParamsStatus = 0;
  host.answer = ([&](const Call& c) {
    return c.cdb[1] == 0x03 ? Answer{true, flashParamsStatus, wire} : Answer{};
  });
  uint8_t params[40];
  std::memset(params, 0xEE, sizeof params);
  std::vector<uint8_t> buffer(2 * 512, 0xA5);
  EXPECT_EQ(Q71_IsConnected(), 1);
  flashParamsStatus = 2;
  EXPECT_EQ(Q71_GetFlashParams(params), 0);
  EXPECT_EQ(params[14], 0xEE);  // untouched
  flashParamsStatus = 0;
  EXPECT_EQ(Q71_GetFlashParams(params), 1);
  uint16_t pageSize;
  std::memcpy(&pageSize, params + 14, 2);
  EXPECT_EQ(pageSize, 512);

  // 0x10001 pages: the low 16 bits count, so one page moves.
  host.ClearLog();
  EXPECT_EQ(Q71_ReadPages(9, buffer.data(), 0x10001), 1);
  EXPECT_EQ(Q71_WritePages(9, buffer.data(), 0x10001), 1);
  EXPECT_EQ(Q71_ReadPages(9, buffer.data(), 0x10000), 1);  // count 0: nothing sent
  EXPECT_EQ(Q71_ReadPartsOfPages(0x01020304, 0x10002, 0x10030, 0x10010, 0x20005, buffer.data()), 1);
  ASSERT_EQ(host.commands.size(), 3u);
  EXPECT_EQ(host.commands[0].length, 512u);
  EXPECT_EQ(host.commands[1].length, 512u);
  EXPECT_EQ(host.commands[2].cdb, fakes::MakeCdb({0xC8, 0x02, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00,
                                                  0x02, 0x00, 0x10, 0x00, 0x05, 0x00, 0x30}));
  EXPECT_EQ(host.commands[2].length, 2u * 16);

  host.driveSlots[5].reset();
  EXPECT_EQ(Q71_IsConnected(), 0);
  EXPECT_EQ(Q71_ReadPages(9, buffer.data(), 1), 0);
  EXPECT_EQ(host.commands.size(), 3u);
  host.answer = nullptr;  // the host outlives this test's locals
}

// What the exports refuse never reaches the recorder; the start page keeps all 32 bits.
TEST(Q71ExportsTest, ArgumentsRefusedBeforeAnyCommand) {
  fakes::NineDevices& host = ExportsHost();
  host.driveSlots[5] = fakes::Slot{};
  std::vector<uint8_t> wire(40, 0);
  wire[14] = 0x02;  // 512-byte pages
  host.answer = ([&wire](const Call&) { return Answer{true, 0, wire}; });
  uint8_t params[40];
  ASSERT_EQ(Q71_IsConnected(), 1);
  ASSERT_EQ(Q71_GetFlashParams(params), 1);
  host.ClearLog();
  std::vector<uint8_t> buffer(0x81 * 512);
  EXPECT_EQ(Q71_GetFlashParams(nullptr), 0);
  EXPECT_EQ(Q71_ReadPages(0, nullptr, 1), 0);
  EXPECT_EQ(Q71_WritePages(0, nullptr, 1), 0);
  EXPECT_EQ(Q71_WritePages(0, nullptr, 0x10000), 1);                // no pages: nothing to send
  EXPECT_EQ(Q71_ReadPages(0xFFFFFF80, buffer.data(), 0x10081), 0);  // would wrap round
  EXPECT_EQ(Q71_ReadPartsOfPages(0, 1, 0, 16, 1, nullptr), 0);
  EXPECT_EQ(Q71_ReadPartsOfPages(0, 1, 0, 0x10000, 1, buffer.data()), 0);  // parts of 0 bytes
  EXPECT_TRUE(host.commands.empty());
  EXPECT_EQ(Q71_ReadPages(0x12345678, buffer.data(), 1), 1);
  ASSERT_EQ(host.commands.size(), 1u);
  EXPECT_EQ(host.commands[0].cdb, fakes::MakeCdb({0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 1}));
  host.driveSlots[5].reset();
  host.answer = nullptr;
}

}  // namespace
}  // namespace omr72
