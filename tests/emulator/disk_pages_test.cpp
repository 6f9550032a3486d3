// Page reads of the disk face: written pages come back as written, others blank, straight into
// the caller's buffer; a failed or short read leaves what it did not deliver untouched.
#include <algorithm>
#include <array>
#include <vector>

#include "emulator_fixture.h"

namespace omr72::emu {
namespace {

constexpr uint8_t kUntouched = 0x55;
constexpr uint8_t kBlank = 0xFF;

std::vector<uint8_t> PagePattern(uint8_t seed) {
  std::vector<uint8_t> page(kDiskPageSize);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(seed + i * 3);
  return page;
}

class DiskPagesTest : public EmulatorTest {
 protected:
  static bool Written(uint32_t base, uint32_t page) {
    return page == base + 1 || page == base + 2 || page == base + 4;
  }
  // Of the six pages from `base` on, the 2nd, 3rd and 5th are written.
  void WriteSomePages(uint32_t base = 9) {
    for (uint32_t page = base; page < base + 6; ++page) {
      if (!Written(base, page)) continue;
      const std::vector<uint8_t> bytes = PagePattern(static_cast<uint8_t>(page));
      recorder().WriteDiskPage(page, bytes.data(), bytes.size());
    }
  }
  // What the six pages from `base` on must read as.
  static std::vector<uint8_t> Expected(uint32_t base = 9) {
    std::vector<uint8_t> expected;
    for (uint32_t page = base; page < base + 6; ++page) {
      const bool written = Written(base, page);
      const std::vector<uint8_t> bytes = written ? PagePattern(static_cast<uint8_t>(page))
                                                 : std::vector<uint8_t>(kDiskPageSize, kBlank);
      expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    return expected;
  }
};

TEST_F(DiskPagesTest, ARunOfPagesWithGapsReadsAsWrittenAndBlank) {
  // Inside the store's first block of pages, across a block boundary, and far out.
  for (uint32_t base : {9u, 29u, 0x3FFF0u}) {
    SCOPED_TRACE(base);
    Start(Config(StartRoute::kDisk));
    WriteSomePages(base);
    std::vector<uint8_t> out(6 * kDiskPageSize, kUntouched);
    recorder().ReadDiskPages(base, 6, out.data());
    EXPECT_EQ(out, Expected(base));
    std::vector<uint8_t> one(kDiskPageSize - 100, kUntouched);
    recorder().ReadDiskPage(base + 2, 100, one.data(), one.size());
    EXPECT_TRUE(
        std::equal(one.begin(), one.end(), Expected(base).begin() + 3 * kDiskPageSize - one.size()))
        << "the tail of the third page";
  }
}

TEST_F(DiskPagesTest, ThroughTheLinkWholeShortAndFailedReads) {
  const struct {
    const char* what;
    std::vector<int> fail, shortened;
    bool ok;
    size_t delivered;  // bytes of the expected data that arrive; the rest stays untouched
  } cases[] = {
      {"whole", {}, {}, true, 6 * kDiskPageSize},
      {"short", {}, {1}, true, 3 * kDiskPageSize},
      {"failed", {1}, {}, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecorderConfig config = Config(StartRoute::kDisk);
    config.failCommands = c.fail;
    config.shortCommands = c.shortened;
    Start(config);
    WriteSomePages();
    ASSERT_TRUE(scsi().IsConnected());
    std::vector<uint8_t> out(6 * kDiskPageSize, kUntouched);
    EXPECT_EQ(ScsiReadPages(scsi(), 9, 6, out), c.ok);
    std::vector<uint8_t> expected = Expected();
    std::fill(expected.begin() + static_cast<long>(c.delivered), expected.end(), kUntouched);
    EXPECT_EQ(out, expected);
  }
}

}  // namespace
}  // namespace omr72::emu
