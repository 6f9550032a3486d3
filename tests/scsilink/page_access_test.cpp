#include "scsilink/page_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scsilink/service_commands.h"
#include "tests/fakes/nine_devices.h"

namespace omr72 {
namespace {

using fakes::Answer;
using fakes::Call;

struct Expected {
  uint32_t page;
  uint16_t count;
  size_t offset;
  uint32_t length;
};

uint32_t Be32(const Cdb& cdb, size_t at) {
  return uint32_t{cdb[at]} << 24 | uint32_t{cdb[at + 1]} << 16 | uint32_t{cdb[at + 2]} << 8 |
         cdb[at + 3];
}
uint16_t Be16(const Cdb& cdb, size_t at) {
  return static_cast<uint16_t>(cdb[at] << 8 | cdb[at + 1]);
}

class PageAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.driveSlots[3] = fakes::Slot{};
    ASSERT_TRUE(link.IsConnected());
  }

  void SetPageSize(uint16_t pageSize) {
    std::memcpy(link.flashParams.data() + 14, &pageSize, sizeof pageSize);
  }
  // The commands' pages, counts, lengths and data: read into `base` + offset, or sent from it.
  void ExpectCommands(const std::vector<Expected>& expected, uint8_t opcode, uint8_t sub,
                      uint8_t dataIn, const uint8_t* base) {
    ASSERT_EQ(host.commands.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      const Call& c = host.commands[i];
      const Expected& e = expected[i];
      EXPECT_EQ(c.cdb[0], opcode);
      EXPECT_EQ(c.cdb[1], sub);
      EXPECT_EQ(Be32(c.cdb, 2), e.page);
      EXPECT_EQ(Be16(c.cdb, 7), e.count);
      EXPECT_EQ(c.length, e.length);
      EXPECT_EQ(c.direction, dataIn);
      if (dataIn == kDataIn) {
        EXPECT_EQ(c.buffer, base + e.offset);
      } else {
        EXPECT_EQ(c.sent, std::vector<uint8_t>(base + e.offset, base + e.offset + e.length));
      }
    }
  }

  fakes::NineDevices host;
  ScsiLink link{host.scsi};
};

struct SplitCase {
  uint16_t pageSize;
  uint32_t startPage;
  uint16_t pageCount;
  std::vector<Expected> commands;
};

const SplitCase kSplitCases[] = {
    {512, 1000, 300, {{1000, 128, 0, 65536}, {1128, 128, 65536, 65536}, {1256, 44, 131072, 22528}}},
    {2048, 0, 32, {{0, 32, 0, 65536}}},
    {1, 7, 65535, {{7, 65535, 0, 65535}}},
    {3000, 5, 50, {{5, 21, 0, 63000}, {26, 21, 63000, 63000}, {47, 8, 126000, 24000}}},
    {65535, 0xFFFFFFFE, 2, {{0xFFFFFFFE, 1, 0, 65535}, {0xFFFFFFFF, 1, 65535, 65535}}},
};

TEST_F(PageAccessTest, WholePagesSplitIntoCommandsOfAtMost64KiB) {
  for (const SplitCase& c : kSplitCases) {
    SCOPED_TRACE(c.pageSize);
    SetPageSize(c.pageSize);
    std::vector<uint8_t> buffer(size_t{c.pageSize} * c.pageCount);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i % 251);
    host.ClearLog();
    EXPECT_TRUE(PageAccessReadPages(link, c.startPage, buffer.data(), c.pageCount));
    ExpectCommands(c.commands, 0x28, 0x00, kDataIn, buffer.data());
    host.ClearLog();
    EXPECT_TRUE(PageAccessWritePages(link, c.startPage, buffer.data(), c.pageCount));
    ExpectCommands(c.commands, 0xC8, 0x01, kDataOut, buffer.data());
  }
}

TEST_F(PageAccessTest, PartsOfPagesAdvanceByStepAndCarryTheirFields) {
  struct Case {
    uint32_t startPage;
    uint16_t pageStep;
    std::vector<Expected> commands;
  };
  const Case cases[] = {
      {0, 64, {{0, 4096, 0, 65536}, {262144, 904, 65536, 14464}}},
      {77, 0, {{77, 4096, 0, 65536}, {77, 904, 65536, 14464}}},
  };
  std::vector<uint8_t> buffer(5000 * 16);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pageStep);
    host.ClearLog();
    EXPECT_TRUE(
        PageAccessReadPartsOfPages(link, c.startPage, 5000, 0x0123, 16, c.pageStep, buffer.data()));
    ExpectCommands(c.commands, 0xC8, 0x02, kDataIn, buffer.data());
    for (const Call& sent : host.commands) {
      EXPECT_EQ(Be16(sent.cdb, 9), 16);
      EXPECT_EQ(Be16(sent.cdb, 11), c.pageStep);
      EXPECT_EQ(Be16(sent.cdb, 13), 0x0123);
    }
  }
}

TEST_F(PageAccessTest, FirstFailingCommandEndsTheRequest) {
  SetPageSize(512);
  std::vector<uint8_t> buffer(300 * 512);
  host.FailAt(1);
  EXPECT_FALSE(PageAccessReadPages(link, 1000, buffer.data(), 300));
  EXPECT_EQ(host.commands.size(), 2u);
  host.ClearLog();
  EXPECT_FALSE(PageAccessWritePages(link, 1000, buffer.data(), 300));
  EXPECT_EQ(host.commands.size(), 2u);
  host.ClearLog();
  EXPECT_FALSE(PageAccessReadPartsOfPages(link, 0, 9000, 0, 16, 1, buffer.data()));
  EXPECT_EQ(host.commands.size(), 2u);
}

// Requests that cannot be split, or would wrap round to page 0, go nowhere.
TEST_F(PageAccessTest, RequestsRefusedOrEmptySendNothing) {
  std::vector<uint8_t> buffer(512 * 256);
  SetPageSize(0);  // no flash parameters read yet
  EXPECT_FALSE(PageAccessReadPages(link, 0, buffer.data(), 1));
  EXPECT_FALSE(PageAccessWritePages(link, 0, buffer.data(), 1));
  EXPECT_TRUE(PageAccessReadPages(link, 0, buffer.data(), 0));
  EXPECT_TRUE(PageAccessWritePages(link, 0, nullptr, 0));
  EXPECT_TRUE(PageAccessReadPartsOfPages(link, 0, 0, 0, 0, 1, buffer.data()));
  EXPECT_FALSE(PageAccessReadPartsOfPages(link, 0, 5, 0, 0, 1, buffer.data()));
  SetPageSize(512);
  EXPECT_FALSE(PageAccessReadPages(link, 0, nullptr, 1));
  EXPECT_FALSE(PageAccessWritePages(link, 0, nullptr, 1));
  EXPECT_FALSE(PageAccessReadPartsOfPages(link, 0, 1, 0, 16, 1, nullptr));
  EXPECT_FALSE(PageAccessReadPages(link, 0xFFFFFF80, buffer.data(), 0x81));
  EXPECT_FALSE(PageAccessWritePages(link, 0xFFFFFF80, buffer.data(), 0x81));
  EXPECT_FALSE(PageAccessReadPartsOfPages(link, 0xFFFF0000, 0x8001, 0, 1, 2, buffer.data()));
  EXPECT_TRUE(host.commands.empty());

  EXPECT_TRUE(PageAccessReadPages(link, 0xFFFFFF80, buffer.data(), 0x80));  // ends on the last
  EXPECT_TRUE(PageAccessReadPartsOfPages(link, 0xFFFF0000, 0x8000, 0, 1, 2, buffer.data()));
  EXPECT_EQ(host.commands.size(), 2u);
}

TEST_F(PageAccessTest, FlashParamsReachTheCallerOnlyOnSuccess) {
  std::vector<uint8_t> wire(40, 0x5A);
  wire[14] = 0x08, wire[15] = 0x00;
  host.answer = ([&](const Call&) {
    return Answer{true, static_cast<uint8_t>(host.commands.size() == 1 ? 0 : 2), wire};
  });
  uint8_t params[40];
  ASSERT_TRUE(PageAccessGetFlashParams(link, params));
  EXPECT_EQ(std::memcmp(params, link.flashParams.data(), 40), 0);
  EXPECT_EQ(FlashParamsPageSize(link.flashParams), 2048);

  std::memset(params, 0xC3, sizeof params);
  EXPECT_FALSE(PageAccessGetFlashParams(link, params));
  for (uint8_t b : params) ASSERT_EQ(b, 0xC3);
  EXPECT_EQ(FlashParamsPageSize(link.flashParams), 2048);  // the copy stays usable
}

}  // namespace
}  // namespace omr72
