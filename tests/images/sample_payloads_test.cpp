#include "images/samples/sample_payloads.h"

#include <gtest/gtest.h>

#include <set>

#include "images/image_store.h"
#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

using test::Bytes;

const std::string kSampleDir = OMR72_TEST_SAMPLE_DIR;

TEST(SamplePayloadsTest, CommittedFilesAreWhatTheGeneratorMakes) {
  const SamplePayloads samples = MakeSamplePayloads();
  EXPECT_EQ(test::ReadFileBytes(kSampleDir + "/FWC.bin"), samples.firmware);
  EXPECT_EQ(test::ReadFileBytes(kSampleDir + "/BRC.bin"), samples.bootLoader);
  EXPECT_EQ(test::ReadFileBytes(kSampleDir + "/BRC20.bin"), samples.bootLoader20);
}

TEST(SamplePayloadsTest, CarryTheFieldsTheUpdateReads) {
  const SamplePayloads samples = MakeSamplePayloads();
  test::FakeProgramModule module;
  module.resources = {
      {"FWC", samples.firmware}, {"BRC", samples.bootLoader}, {"BRC20", samples.bootLoader20}};
  ImageStore store(module, "");
  ASSERT_TRUE(store.LoadFirmwareImage());
  EXPECT_EQ(store.NewFirmwareVersion(), 0x020A);         // 2.10
  EXPECT_EQ(store.RequiredBootLoaderVersion(), 0x0200);  // 2.0
  EXPECT_EQ(store.ModelTag(), (ModelTagBytes{'R', '7', '2', 'S', 'M'}));

  const uint8_t* firmware = store.FirmwareImage();
  const std::set<uint8_t> head = {firmware[0x0001], firmware[0x0002], firmware[0x0044],
                                  firmware[0x0045]};
  EXPECT_EQ(head.size(), 4u);
  EXPECT_EQ(head.count(0), 0u);

  // Both boot-loader variants come out different wherever their own bytes remain, and the
  // firmware's overlay is visible in each.
  ASSERT_TRUE(store.LoadBootLoaderImage(0x0000));
  const Bytes old = test::ImageBytes(store.BootLoaderImage());
  ASSERT_TRUE(store.LoadBootLoaderImage(0x0100));
  const Bytes current = test::ImageBytes(store.BootLoaderImage());
  for (const Bytes* image : {&old, &current}) {
    EXPECT_EQ((*image)[0x1000], 0x00);
    EXPECT_EQ((*image)[0x1001], 0x02);
  }
  size_t same = 0;
  for (size_t i = 0; i < kImageSize; ++i) {
    bool overlaid = (i >= 0x0F00 && i < 0x0F04) || (i >= 0x1000 && i < 0x2A00);
    if (!overlaid && old[i] == current[i]) ++same;
  }
  EXPECT_EQ(same, 0u);

  // Without the overlay the resources' own bytes differ from what is laid over them.
  Bytes rawOld = samples.bootLoader;
  KeyStream keys;
  ApplyKeyStream(keys, rawOld.data());
  EXPECT_NE(rawOld[0x0F00], firmware[0x0001]);
  EXPECT_FALSE(std::equal(firmware + 0xE000, firmware + 0xFA00, rawOld.begin() + 0x1000));
}

}  // namespace
}  // namespace omr72
