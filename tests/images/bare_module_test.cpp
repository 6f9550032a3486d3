// A program that links the native platform but embeds no payloads.
#include <gtest/gtest.h>

#include "platform/native.h"
#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

TEST(BareProgramModuleTest, FindsNoResourcesAndCopiesNothing) {
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  const std::string path = module->Path("omr72_images_bare_tests");
  test::Bytes buffer(kImageSize, 0x3C);
  for (const char* name : {"FWC", "BRC", "BRC20"}) {
    EXPECT_FALSE(module->LoadRcData(path, name, buffer.data(), buffer.size())) << name;
  }
  EXPECT_EQ(buffer, test::Bytes(kImageSize, 0x3C));
}

}  // namespace
}  // namespace omr72
