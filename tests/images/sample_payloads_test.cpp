#include "images/samples/sample_payloads.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

TEST(SamplePayloadsTest, CommittedFilesAreWhatTheGeneratorMakes) {
  const std::string dir = OMR72_TEST_SAMPLE_DIR;
  const SamplePayloads samples = MakeSamplePayloads();
  EXPECT_EQ(test::ReadFileBytes(dir + "/FWC.bin"), samples.firmware);
  EXPECT_EQ(test::ReadFileBytes(dir + "/BRC.bin"), samples.bootLoader);
  EXPECT_EQ(test::ReadFileBytes(dir + "/BRC20.bin"), samples.bootLoader20);
}

// The samples must let the update's checks tell the images apart.
TEST(SamplePayloadsTest, FieldsAreSetAndTheTwoBootLoadersDifferWhereverTheirOwnBytesRemain) {
  const SamplePayloads samples = MakeSamplePayloads();
  test::FakeProgramModule module;
  module.resources = {
      {"FWC", samples.firmware}, {"BRC", samples.bootLoader}, {"BRC20", samples.bootLoader20}};
  ImageStore store(module, "");
  ASSERT_TRUE(store.LoadFirmwareImage());
  EXPECT_EQ(store.NewFirmwareVersion(), 0x020A);
  EXPECT_EQ(store.RequiredBootLoaderVersion(), 0x0200);
  EXPECT_EQ(store.ModelTag(), (ModelTagBytes{'R', '7', '2', 'S', 'M'}));
  const uint8_t* fw = store.FirmwareImage();
  const std::set<uint8_t> head = {fw[0x0001], fw[0x0002], fw[0x0044], fw[0x0045]};
  EXPECT_EQ(head.size(), 4u);
  EXPECT_EQ(head.count(0), 0u);

  ASSERT_TRUE(store.LoadBootLoaderImage(0x0000));
  const test::Bytes old = test::ImageBytes(store.BootLoaderImage());
  ASSERT_TRUE(store.LoadBootLoaderImage(0x0100));
  const uint8_t* current = store.BootLoaderImage();
  EXPECT_EQ(current[0x1000] | current[0x1001] << 8, 0x0200);
  for (size_t i = 0; i < kImageSize; ++i) {
    bool overlaid = (i >= 0x0F00 && i < 0x0F04) || (i >= 0x1000 && i < 0x2A00);
    if (!overlaid && old[i] == current[i]) FAIL() << "BRC and BRC20 agree at " << i;
  }
}

}  // namespace
}  // namespace omr72
