// The payloads embedded in this very test program, found through the native platform the way
// the updater finds its own (on Windows: RCDATA resources of the running executable).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/native.h"
#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

using test::Bytes;

class NativeProgramModuleTest : public ::testing::Test {
 protected:
  Bytes Payload(const std::string& name) {
    return test::ReadFileBytes(std::string(OMR72_TEST_PAYLOAD_DIR) + "/" + name + ".bin");
  }

  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  std::string path = module->Path("omr72_images_tests");
};

TEST_F(NativeProgramModuleTest, PathIsTheFullPathOfTheRunningExecutable) {
  EXPECT_THAT(path, ::testing::HasSubstr("omr72_images_tests"));
  EXPECT_NE(path, "omr72_images_tests");
  EXPECT_LE(path.size(), kMaxModulePath);
}

TEST_F(NativeProgramModuleTest, FindsEachPayloadByNameEvenWhenThePathCannotBeOpened) {
  for (const std::string& modulePath : {path, std::string("no such module.exe")}) {
    for (const char* name : {"FWC", "BRC", "BRC20"}) {
      Bytes found(kResourceSize, 0);
      ASSERT_TRUE(module->LoadRcData(modulePath, name, found.data(), found.size())) << name;
      EXPECT_EQ(found, Payload(name)) << name;
    }
  }
  ImageStore store(*module, path);
  ASSERT_TRUE(store.LoadFirmwareImage());
  Bytes plain = Payload("FWC");
  KeyStream keys;
  ApplyKeyStream(keys, plain.data());
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(plain.data()));
}

TEST_F(NativeProgramModuleTest, UnknownOrTooShortResourceCopiesNothing) {
  Bytes buffer(kResourceSize + 1, 0xEE);
  EXPECT_FALSE(module->LoadRcData(path, "BRC21", buffer.data(), kImageSize));
  EXPECT_FALSE(module->LoadRcData(path, "FWC", buffer.data(), buffer.size()));
  EXPECT_EQ(buffer, Bytes(kResourceSize + 1, 0xEE));
}

// Another program's payloads (--payloads with the maker's updater) are read as data: a file that
// is no executable, or none at all, gives the reason and no bytes.
TEST_F(NativeProgramModuleTest, AnotherProgramsPayloadsAreReadAsData) {
  for (const std::string& notAProgram :
       {std::string(OMR72_TEST_PAYLOAD_DIR) + "/FWC.bin", std::string("no such program.exe")}) {
    Bytes out;
    EXPECT_NE(module->LoadFileRcData(notAProgram, "FWC", out), "") << notAProgram;
    EXPECT_TRUE(out.empty()) << notAProgram;
  }
#ifdef _WIN32
  // This test program carries the payloads as RCDATA resources, as the maker's updater does.
  for (const char* name : {"FWC", "BRC", "BRC20"}) {
    Bytes out;
    EXPECT_EQ(module->LoadFileRcData(path, name, out), "") << name;
    EXPECT_EQ(out, Payload(name)) << name;
  }
#endif
}

}  // namespace
}  // namespace omr72
