#include "images/image_store.h"

#include <gtest/gtest.h>

#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

using test::Bytes;
using test::FakeProgramModule;

constexpr char kModulePath[] = "C:\\Recorder\\OMR72_FW_Updater.exe";

// Plain images: each resource in its own lane, so every byte tells where it came from.
struct PlainImages {
  Bytes firmware = test::LanePattern(0);
  Bytes bootLoader = test::LanePattern(1);
  Bytes bootLoader20 = test::LanePattern(2);
};

class ImageStoreTest : public ::testing::Test {
 protected:
  void Install() {
    module.resources["FWC"] = test::Scrambled(plain.firmware);
    module.resources["BRC"] = test::Scrambled(plain.bootLoader);
    module.resources["BRC20"] = test::Scrambled(plain.bootLoader20);
  }

  // What the assembled boot-loader image holds at `offset` when built from `resource`.
  uint8_t ExpectedBootLoaderByte(const Bytes& resource, size_t offset) const {
    static const size_t kHeadSources[] = {0x0001, 0x0002, 0x0044, 0x0045};
    if (offset >= 0x0F00 && offset <= 0x0F03) return plain.firmware[kHeadSources[offset - 0x0F00]];
    if (offset >= 0x1000 && offset <= 0x29FF) return plain.firmware[offset - 0x1000 + 0xE000];
    return resource[offset];
  }

  PlainImages plain;
  FakeProgramModule module;
  ImageStore store{module, kModulePath};
};

TEST_F(ImageStoreTest, FirmwareLoadDescramblesFwcFromTheStoredPath) {
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  ASSERT_EQ(module.calls.size(), 1u);
  EXPECT_EQ(module.calls[0].modulePath, kModulePath);
  EXPECT_EQ(module.calls[0].name, "FWC");
  EXPECT_EQ(module.calls[0].size, kImageSize);
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(plain.firmware.data()));
}

TEST_F(ImageStoreTest, VersionWordsTakeTheMinorNumberFromTheLowerOffset) {
  struct Case {
    uint8_t firmwareMinor, firmwareMajor, bootMinor, bootMajor;
    uint16_t newFirmware, requiredBootLoader;
  };
  const Case cases[] = {
      {0x0A, 0x02, 0x00, 0x02, 0x020A, 0x0200},
      {0x00, 0x01, 0x01, 0x00, 0x0100, 0x0001},
      {0x34, 0x12, 0xCD, 0xAB, 0x1234, 0xABCD},
      {0xFF, 0xFF, 0x00, 0x00, 0xFFFF, 0x0000},
  };
  for (const Case& c : cases) {
    plain.firmware[0x29F9] = c.firmwareMinor;
    plain.firmware[0x29FA] = c.firmwareMajor;
    plain.firmware[0xE000] = c.bootMinor;
    plain.firmware[0xE001] = c.bootMajor;
    Install();
    ASSERT_TRUE(store.LoadFirmwareImage());
    EXPECT_EQ(store.NewFirmwareVersion(), c.newFirmware);
    EXPECT_EQ(store.RequiredBootLoaderVersion(), c.requiredBootLoader);
  }
}

TEST_F(ImageStoreTest, ModelTagIsTheFiveBytesBeforeTheFlashRegionEnds) {
  const uint8_t tag[] = {'R', '7', '2', 'X', 'Y'};
  std::copy(std::begin(tag), std::end(tag), plain.firmware.begin() + 0x29FB);
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  EXPECT_EQ(store.ModelTag(), (ModelTagBytes{'R', '7', '2', 'X', 'Y'}));
}

TEST_F(ImageStoreTest, TheLast1024BytesOfAResourceNeverMatter) {
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  ASSERT_TRUE(store.LoadBootLoaderImage(0x0200));
  const Bytes firmware = test::ImageBytes(store.FirmwareImage());
  const Bytes bootLoader = test::ImageBytes(store.BootLoaderImage());

  for (auto& [name, bytes] : module.resources) {
    std::fill(bytes.begin() + kImageSize, bytes.end(), 0x5A);
  }
  ImageStore other(module, kModulePath);
  ASSERT_TRUE(other.LoadFirmwareImage());
  ASSERT_TRUE(other.LoadBootLoaderImage(0x0200));
  EXPECT_EQ(test::ImageBytes(other.FirmwareImage()), firmware);
  EXPECT_EQ(test::ImageBytes(other.BootLoaderImage()), bootLoader);

  // Nor need they be there at all.
  for (auto& [name, bytes] : module.resources) bytes.resize(kImageSize);
  ImageStore trimmed(module, kModulePath);
  ASSERT_TRUE(trimmed.LoadFirmwareImage());
  ASSERT_TRUE(trimmed.LoadBootLoaderImage(0x0200));
  EXPECT_EQ(test::ImageBytes(trimmed.FirmwareImage()), firmware);
  EXPECT_EQ(test::ImageBytes(trimmed.BootLoaderImage()), bootLoader);
}

TEST_F(ImageStoreTest, InstalledVersionChoosesTheBootLoaderResource) {
  struct Case {
    uint16_t installed;
    const char* name;
  };
  const Case cases[] = {
      {0x0000, "BRC"}, {0x00FF, "BRC"}, {0x0100, "BRC20"}, {0x0101, "BRC20"}, {0xFFFF, "BRC20"},
  };
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  for (const Case& c : cases) {
    EXPECT_STREQ(ImageStore::BootLoaderResourceName(c.installed), c.name);
    module.calls.clear();
    ASSERT_TRUE(store.LoadBootLoaderImage(c.installed));
    ASSERT_EQ(module.calls.size(), 1u);
    EXPECT_EQ(module.calls[0].name, c.name);
    const Bytes& chosen = std::string(c.name) == "BRC" ? plain.bootLoader : plain.bootLoader20;
    EXPECT_TRUE(std::equal(store.BootLoaderImage() + 0x2A00, store.BootLoaderImage() + kImageSize,
                           chosen.begin() + 0x2A00))
        << std::hex << c.installed;
  }
}

TEST_F(ImageStoreTest, BootLoaderImageIsTheResourceOverlaidFromTheFirmware) {
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  for (uint16_t installed : {uint16_t{0x0050}, uint16_t{0x0120}}) {
    const Bytes& resource = installed < 0x0100 ? plain.bootLoader : plain.bootLoader20;
    ASSERT_TRUE(store.LoadBootLoaderImage(installed));
    const uint8_t* image = store.BootLoaderImage();
    size_t wrong = 0;
    for (size_t offset = 0; offset < kImageSize; ++offset) {
      if (image[offset] == ExpectedBootLoaderByte(resource, offset)) continue;
      if (++wrong <= 5) ADD_FAILURE() << "installed " << installed << ", offset " << offset;
    }
    EXPECT_EQ(wrong, 0u);
  }
}

TEST_F(ImageStoreTest, MissingOrShortResourceLoadsNothing) {
  Install();
  module.resources["FWC"].resize(kImageSize - 1);
  EXPECT_FALSE(store.LoadFirmwareImage());
  module.resources.erase("FWC");
  EXPECT_FALSE(store.LoadFirmwareImage());
  EXPECT_EQ(store.NewFirmwareVersion(), 0);
  EXPECT_EQ(store.RequiredBootLoaderVersion(), 0);
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), Bytes(kImageSize, 0));

  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  module.resources.erase("BRC");
  EXPECT_FALSE(store.LoadBootLoaderImage(0x0001));
  EXPECT_EQ(test::ImageBytes(store.BootLoaderImage()), Bytes(kImageSize, 0));

  // A failed reload keeps what was loaded before.
  const uint16_t version = store.NewFirmwareVersion();
  module.resources.erase("FWC");
  EXPECT_FALSE(store.LoadFirmwareImage());
  EXPECT_EQ(store.NewFirmwareVersion(), version);
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(plain.firmware.data()));
}

TEST_F(ImageStoreTest, BootLoaderIsNotAssembledWithoutAFirmwareImage) {
  Install();
  EXPECT_FALSE(store.LoadBootLoaderImage(0x0200));
  EXPECT_TRUE(module.calls.empty());
  EXPECT_EQ(test::ImageBytes(store.BootLoaderImage()), Bytes(kImageSize, 0));
}

TEST_F(ImageStoreTest, RepeatedLoadsAgreeAndAFirmwareReloadKeepsTheBootLoaderImage) {
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  ASSERT_TRUE(store.LoadBootLoaderImage(0x0080));
  const Bytes firmware = test::ImageBytes(store.FirmwareImage());
  const Bytes bootLoader = test::ImageBytes(store.BootLoaderImage());
  ASSERT_TRUE(store.LoadFirmwareImage());
  ASSERT_TRUE(store.LoadBootLoaderImage(0x0080));
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), firmware);
  EXPECT_EQ(test::ImageBytes(store.BootLoaderImage()), bootLoader);

  plain.firmware = test::LanePattern(3);
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(plain.firmware.data()));
  EXPECT_EQ(test::ImageBytes(store.BootLoaderImage()), bootLoader);
}

}  // namespace
}  // namespace omr72
