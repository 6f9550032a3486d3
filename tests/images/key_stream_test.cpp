#include <gtest/gtest.h>

#include "images/image_store.h"
#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

using test::Bytes;

TEST(KeyStreamTest, SeedOneGivesTheKnownSequenceAfterTheDiscardedStep) {
  KeyStream unseeded;
  unseeded.state = 1;
  EXPECT_EQ(unseeded.Next(), 346);  // the step that Seed performs and throws away

  KeyStream keys;
  keys.Seed(1);
  EXPECT_EQ(keys.state, 22695478u);
  const uint16_t expected[] = {130, 10982, 1090, 11656};
  const uint8_t expectedLow[] = {0x82, 0xE6, 0x42, 0x88};
  for (size_t i = 0; i < std::size(expected); ++i) {
    uint16_t value = keys.Next();
    EXPECT_EQ(value, expected[i]) << "call " << i;
    EXPECT_EQ(value & 0xFF, expectedLow[i]) << "call " << i;
  }
}

TEST(KeyStreamTest, StepWrapsModulo32BitsAndKeepsBits16To30) {
  struct Case {
    uint32_t before;
    uint32_t after;
    uint16_t output;
  };
  const Case cases[] = {
      {0x00000000, 0x00000001, 0x0000},
      {0xFFFFFFFF, 0xFEA5B1CC, 0x7EA5},  // bit 31 of the new state is dropped
      {0x80000000, 0x80000001, 0x0000},
      {0x0000FFFF, 0x4CDAB1CC, 0x4CDA},
  };
  for (const Case& c : cases) {
    KeyStream keys;
    keys.state = c.before;
    EXPECT_EQ(keys.Next(), c.output) << std::hex << c.before;
    EXPECT_EQ(keys.state, c.after) << std::hex << c.before;
  }
}

TEST(ApplyKeyStreamTest, MatchesTheGeneratorFromTheScrambleSeedOnwards) {
  Bytes buffer = test::LanePattern(1);
  const Bytes expected = test::Scrambled(buffer);
  KeyStream keys;
  keys.state = 0xDEADBEEF;  // left over from an earlier use: must not matter
  ApplyKeyStream(keys, buffer.data());
  EXPECT_EQ(buffer, expected);
}

TEST(ApplyKeyStreamTest, TwiceRestoresAndLeavesTheStoredTailAlone) {
  const Bytes original = test::LanePattern(2);
  Bytes buffer = original;
  KeyStream keys;
  ApplyKeyStream(keys, buffer.data());
  EXPECT_NE(test::ImageBytes(buffer.data()), test::ImageBytes(original.data()));
  EXPECT_TRUE(std::equal(buffer.begin() + kImageSize, buffer.end(), original.begin() + kImageSize));
  ApplyKeyStream(keys, buffer.data());
  EXPECT_EQ(buffer, original);
}

}  // namespace
}  // namespace omr72
