// The microcontroller flash writer's rule, in one place for both links: per page one erase and
// then its eight chunks in address order, pages 0..20; all 189 requests go out whatever fails,
// and the result is true only when every one of them succeeded.
#include "mcuflash/mcu_flash.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace omr72 {
namespace {

class LoggingFlash : public McuFlash {
 public:
  explicit LoggingFlash(std::function<bool(size_t)> fails) : fails_(std::move(fails)) {}

  bool ErasePage(uint16_t address) override { return Log("erase", address, {}); }
  bool WriteChunk(uint16_t address, McuChunk chunk) override {
    return Log("write", address, {chunk.begin(), chunk.end()});
  }

  struct Call {
    std::string what;
    uint16_t address;
    std::vector<uint8_t> bytes;
  };
  std::vector<Call> calls;

 private:
  bool Log(const char* what, uint16_t address, std::vector<uint8_t> bytes) {
    calls.push_back({what, address, std::move(bytes)});
    return !fails_(calls.size() - 1);
  }

  std::function<bool(size_t)> fails_;
};

TEST(McuFlashWriter, EveryRequestGoesOutInOrderAndTheResultIsTheirAnd) {
  std::vector<uint8_t> image(10752);  // exactly what the writer may read
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 512);
  const struct {
    const char* name;
    std::function<bool(size_t)> fails;  // by the request's index
    bool result;
  } cases[] = {
      {"nothing fails", [](size_t) { return false; }, true},
      {"the first erase", [](size_t i) { return i == 0; }, false},
      {"a chunk in page 7", [](size_t i) { return i == 7 * 9 + 4; }, false},
      {"the last chunk", [](size_t i) { return i == 188; }, false},
      {"an erase and a chunk", [](size_t i) { return i == 9 || i == 100; }, false},
      {"everything", [](size_t) { return true; }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoggingFlash flash(c.fails);
    EXPECT_EQ(WriteMcuFlash(flash, McuImage(image.data(), 10752)), c.result);
    ASSERT_EQ(flash.calls.size(), 189u);
    for (size_t i = 0; i < 189; ++i) {
      const LoggingFlash::Call& call = flash.calls[i];
      const uint16_t page = static_cast<uint16_t>(i / 9 * 512);
      if (i % 9 == 0) {
        EXPECT_EQ(call.what, "erase") << i;
        EXPECT_EQ(call.address, page) << i;
        continue;
      }
      const uint16_t at = static_cast<uint16_t>(page + (i % 9 - 1) * 64);
      EXPECT_EQ(call.what, "write") << i;
      EXPECT_EQ(call.address, at) << i;
      EXPECT_EQ(call.bytes, std::vector<uint8_t>(image.begin() + at, image.begin() + at + 64)) << i;
    }
    EXPECT_EQ(flash.calls.back().address, 10688);
  }
}

// Progress comes after each page's last chunk, pages 1..21 of 21, and changes nothing of the
// rule: with a failing request all 189 still go out and the result is still false.
TEST(McuFlashWriter, TellsEachPageAfterItsLastChunk) {
  std::vector<uint8_t> image(10752, 0x5A);
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "a chunk fails" : "nothing fails");
    LoggingFlash flash([failing](size_t i) { return failing && i == 30; });
    std::vector<std::pair<uint32_t, size_t>> told;  // page done, requests out by then
    const auto progress = [&](ProgressStage stage, uint32_t done, uint32_t total) {
      EXPECT_EQ(stage, ProgressStage::kWrite);
      EXPECT_EQ(total, 21u);
      told.emplace_back(done, flash.calls.size());
    };
    EXPECT_EQ(WriteMcuFlash(flash, McuImage(image.data(), 10752), progress), !failing);
    EXPECT_EQ(flash.calls.size(), 189u);
    ASSERT_EQ(told.size(), 21u);
    for (uint32_t page = 1; page <= 21; ++page) {
      EXPECT_EQ(told[page - 1], std::make_pair(page, size_t{page * 9})) << page;
    }
  }
}

}  // namespace
}  // namespace omr72
