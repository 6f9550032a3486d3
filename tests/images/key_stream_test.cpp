#include <gtest/gtest.h>

#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

TEST(KeyStreamTest, SeedDiscardsOneStepThenNextGivesBits16To30) {
  KeyStream keys;
  keys.state = 1;
  EXPECT_EQ(keys.Next(), 346);  // the step Seed(1) performs and throws away
  keys.Seed(1);
  for (uint16_t expected : {130, 10982, 1090, 11656}) EXPECT_EQ(keys.Next(), expected);

  struct Case {
    uint32_t before, after;
    uint16_t output;
  };
  const Case wrapping[] = {
      {0xFFFFFFFF, 0xFEA5B1CC, 0x7EA5},  // bit 31 of the new state is not output
      {0x80000000, 0x80000001, 0x0000},
      {0x0000FFFF, 0x4CDAB1CC, 0x4CDA},
  };
  for (const Case& c : wrapping) {
    keys.state = c.before;
    EXPECT_EQ(keys.Next(), c.output) << std::hex << c.before;
    EXPECT_EQ(keys.state, c.after) << std::hex << c.before;
  }
}

TEST(KeyStreamTest, ApplyingTwiceRestoresAndTheStoredTailIsLeftAlone) {
  const test::Bytes original = test::LanePattern(2);
  test::Bytes buffer = original;
  KeyStream keys;
  keys.state = 0xDEADBEEF;  // left over from an earlier use: re-seeding makes it irrelevant
  ApplyKeyStream(keys, buffer.data());
  EXPECT_EQ(buffer, test::Scrambled(original));
  ApplyKeyStream(keys, buffer.data());
  EXPECT_EQ(buffer, original);
}

}  // namespace
}  // namespace omr72
