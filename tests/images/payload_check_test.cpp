// The plausibility judgement of a firmware payload's fields.
#include "images/payload_check.h"

#include <gtest/gtest.h>

#include <vector>

namespace omr72 {
namespace {

TEST(PayloadCheckTest, VersionsTheMakerCouldHaveReleased) {
  const struct {
    uint16_t version;
    bool plausible;
  } cases[] = {{0x0000, false}, {0x0001, true},  {0x0100, true},  {0x020A, true},
               {0x0963, true},  {0x0964, false}, {0x0A00, false}, {0xFFFF, false}};
  for (const auto& c : cases) EXPECT_EQ(PlausibleVersion(c.version), c.plausible) << c.version;
}

TEST(PayloadCheckTest, FirmwareDoubtsNameEachImplausibleField) {
  const ModelTagBytes r72 = {'R', '7', '2', 'S', 'M'};
  EXPECT_TRUE(FirmwareDoubts({0x020A, 0x0200, r72}).empty());
  EXPECT_EQ(FirmwareDoubts({0x020A, 0x0200, {'R', '7', '1', 'S', 'M'}}),
            std::vector<std::string>{"the model tag does not start with \"R72\""});
  EXPECT_EQ(FirmwareDoubts({0xE6D9, 0x0000, r72}),
            (std::vector<std::string>{"implausible firmware version 230.217",
                                      "implausible required boot-loader version 0.0"}));
}

TEST(PayloadCheckTest, BootLoaderOfOneValueThroughoutIsDoubted) {
  std::vector<uint8_t> image(kImageSize, 0xFF);
  EXPECT_EQ(BootLoaderDoubts(image.data()), std::vector<std::string>{"every byte is the same"});
  image[kImageSize - 1] = 0xFE;  // the last byte counts too
  EXPECT_TRUE(BootLoaderDoubts(image.data()).empty());
}

}  // namespace
}  // namespace omr72
