// The exported entry points over a logging fake: argument slots, 16-bit truncation, results.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scsilink/exports/q71_link.h"
#include "scsilink/q71.h"
#include "tests/scsilink/command_log_fake.h"

namespace omr72 {
namespace {

cmdlog::CommandLogPassThrough& ExportsHost() {
  static cmdlog::CommandLogPassThrough host;
  return host;
}

}  // namespace

// This test program's definition of the exports' link.
ScsiLink& Q71Link() {
  static ScsiLink link{ExportsHost()};
  return link;
}

namespace {

using cmdlog::LoggedCommand;
using cmdlog::Reply;

TEST(Q71ExportsTest, CallingOrderAndResults) {
  cmdlog::CommandLogPassThrough& host = ExportsHost();
  host.Place(5, cmdlog::Slot::kRecorder);
  std::vector<uint8_t> wire(40, 0);
  wire[14] = 0x02;  // 512-byte pages
  uint8_t flashParamsStatus = 0;
  host.SetResponder([&](const LoggedCommand& c, size_t) {
    return c.cdb[1] == 0x03 ? Reply{true, flashParamsStatus, wire} : Reply{};
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
  ASSERT_EQ(host.commands().size(), 3u);
  EXPECT_EQ(host.commands()[0].length, 512u);
  EXPECT_EQ(host.commands()[1].length, 512u);
  EXPECT_EQ(host.commands()[2].cdb, cmdlog::MakeCdb({0xC8, 0x02, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00,
                                                     0x02, 0x00, 0x10, 0x00, 0x05, 0x00, 0x30}));
  EXPECT_EQ(host.commands()[2].length, 2u * 16);

  host.Place(5, cmdlog::Slot::kEmpty);
  EXPECT_EQ(Q71_IsConnected(), 0);
  EXPECT_EQ(Q71_ReadPages(9, buffer.data(), 1), 0);
  EXPECT_EQ(host.commands().size(), 3u);
  host.SetResponder(nullptr);  // the host outlives this test's locals
}

}  // namespace
}  // namespace omr72
