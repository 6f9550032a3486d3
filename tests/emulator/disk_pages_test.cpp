// Page reads of the disk face: written pages come back as written, others blank, straight into
// the caller's buffer; a failed or short read leaves what it did not deliver untouched.
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
  // Pages 10, 11 and 13 written; 9, 12 and 14 never were.
  void WriteSomePages() {
    for (uint32_t page : {10u, 11u, 13u}) {
      const std::vector<uint8_t> bytes = PagePattern(static_cast<uint8_t>(page));
      recorder().WriteDiskPage(page, bytes.data(), bytes.size());
    }
  }
  // What pages 9 to 14 must read as.
  static std::vector<uint8_t> Expected() {
    std::vector<uint8_t> expected;
    for (uint32_t page = 9; page <= 14; ++page) {
      const bool written = page == 10 || page == 11 || page == 13;
      const std::vector<uint8_t> bytes = written ? PagePattern(static_cast<uint8_t>(page))
                                                 : std::vector<uint8_t>(kDiskPageSize, kBlank);
      expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    return expected;
  }
};

TEST_F(DiskPagesTest, ARunOfPagesWithGapsReadsAsWrittenAndBlank) {
  Start(Config(StartRoute::kDisk));
  WriteSomePages();
  std::vector<uint8_t> out(6 * kDiskPageSize, kUntouched);
  recorder().ReadDiskPages(9, 6, out.data());
  EXPECT_EQ(out, Expected());
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
