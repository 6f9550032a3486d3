// The payloads embedded in this very test program, found through the native platform the way
// the updater finds its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "images/image_store.h"
#include "platform/native.h"
#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

using test::Bytes;

const std::string kPayloadDir = OMR72_TEST_PAYLOAD_DIR;

class NativeProgramModuleTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  std::string path = module->Path("omr72_images_tests");
};

TEST_F(NativeProgramModuleTest, PathNamesTheRunningExecutable) {
  EXPECT_THAT(path, ::testing::HasSubstr("omr72_images_tests"));
  EXPECT_NE(path, "omr72_images_tests");  // the full path, not the name it was started by
  EXPECT_LE(path.size(), kMaxModulePath);
}

TEST_F(NativeProgramModuleTest, FindsEachPayloadByNameWithItsStoredBytes) {
  for (const char* name : {"FWC", "BRC", "BRC20"}) {
    const Bytes expected = test::ReadFileBytes(kPayloadDir + "/" + name + ".bin");
    ASSERT_EQ(expected.size(), kResourceSize) << name;
    Bytes found(kResourceSize, 0);
    ASSERT_TRUE(module->LoadRcData(path, name, found.data(), found.size())) << name;
    EXPECT_EQ(found, expected) << name;
  }
}

TEST_F(NativeProgramModuleTest, UnknownOrTooShortResourceCopiesNothing) {
  Bytes buffer(kResourceSize + 1, 0xEE);
  EXPECT_FALSE(module->LoadRcData(path, "BRC21", buffer.data(), kImageSize));
  EXPECT_FALSE(module->LoadRcData(path, "FWC", buffer.data(), buffer.size()));
  EXPECT_EQ(buffer, Bytes(kResourceSize + 1, 0xEE));
}

TEST_F(NativeProgramModuleTest, UnopenablePathStillSearchesTheRunningProgram) {
  Bytes found(kImageSize, 0);
  EXPECT_TRUE(module->LoadRcData("no such module.exe", "BRC", found.data(), found.size()));
  const Bytes expected = test::ReadFileBytes(kPayloadDir + "/BRC.bin");
  EXPECT_TRUE(std::equal(found.begin(), found.end(), expected.begin()));
}

TEST_F(NativeProgramModuleTest, ImageStoreLoadsTheEmbeddedFirmware) {
  ImageStore store(*module, path);
  ASSERT_TRUE(store.LoadFirmwareImage());
  Bytes expected = test::ReadFileBytes(kPayloadDir + "/FWC.bin");
  KeyStream keys;
  ApplyKeyStream(keys, expected.data());
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(expected.data()));
  EXPECT_EQ(store.NewFirmwareVersion(), expected[0x29F9] | (expected[0x29FA] << 8));
}

}  // namespace
}  // namespace omr72
