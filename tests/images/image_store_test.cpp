#include <gtest/gtest.h>

#include "tests/images/image_test_support.h"

namespace omr72 {
namespace {

using test::Bytes;

constexpr char kPath[] = "C:\\Recorder\\OMR72_FW_Updater.exe";

class ImageStoreTest : public ::testing::Test {
 protected:
  void Install() {
    module.resources = {{"FWC", test::Scrambled(firmware)},
                        {"BRC", test::Scrambled(bootLoader)},
                        {"BRC20", test::Scrambled(bootLoader20)}};
  }

  // The assembled boot-loader image at `offset` when built from `resource`.
  uint8_t Expected(const Bytes& resource, size_t offset) const {
    static const size_t kHeadSources[] = {0x0001, 0x0002, 0x0044, 0x0045};
    if (offset >= 0x0F00 && offset <= 0x0F03) return firmware[kHeadSources[offset - 0x0F00]];
    if (offset >= 0x1000 && offset <= 0x29FF) return firmware[offset - 0x1000 + 0xE000];
    return resource[offset];
  }

  Bytes firmware = test::LanePattern(0);
  Bytes bootLoader = test::LanePattern(1);
  Bytes bootLoader20 = test::LanePattern(2);
  test::FakeProgramModule module;
  ImageStore store{module, kPath};
};

TEST_F(ImageStoreTest, FirmwareFieldsTakeTheMinorNumberFromTheLowerOffset) {
  struct Case {
    uint8_t bytes29F9[2], bytesE000[2];
    uint16_t newFirmware, requiredBootLoader;
  };
  const Case cases[] = {
      {{0x0A, 0x02}, {0x00, 0x02}, 0x020A, 0x0200},
      {{0x34, 0x12}, {0xCD, 0xAB}, 0x1234, 0xABCD},
      {{0xFF, 0x00}, {0x00, 0xFF}, 0x00FF, 0xFF00},
  };
  std::copy_n("R72XY", 5, firmware.begin() + 0x29FB);
  for (const Case& c : cases) {
    std::copy_n(c.bytes29F9, 2, firmware.begin() + 0x29F9);
    std::copy_n(c.bytesE000, 2, firmware.begin() + 0xE000);
    Install();
    module.requests.clear();
    ASSERT_TRUE(store.LoadFirmwareImage());
    EXPECT_EQ(module.requests, std::vector<std::string>{std::string(kPath) + "|FWC|64512"});
    EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(firmware.data()));
    EXPECT_EQ(store.NewFirmwareVersion(), c.newFirmware);
    EXPECT_EQ(store.RequiredBootLoaderVersion(), c.requiredBootLoader);
    EXPECT_EQ(store.ModelTag(), (ModelTagBytes{'R', '7', '2', 'X', 'Y'}));
  }
}

TEST_F(ImageStoreTest, InstalledVersionChoosesTheResourceThatTheFirmwareOverlays) {
  struct Case {
    uint16_t installed;
    const char* name;
    const Bytes* resource;
  };
  const Case cases[] = {{0x0000, "BRC", &bootLoader},
                        {0x00FF, "BRC", &bootLoader},
                        {0x0100, "BRC20", &bootLoader20},
                        {0xFFFF, "BRC20", &bootLoader20}};
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  for (const Case& c : cases) {
    EXPECT_STREQ(ImageStore::BootLoaderResourceName(c.installed), c.name);
    module.requests.clear();
    ASSERT_TRUE(store.LoadBootLoaderImage(c.installed));
    EXPECT_EQ(module.requests,
              std::vector<std::string>{std::string(kPath) + "|" + c.name + "|64512"});
    size_t wrong = 0;
    for (size_t offset = 0; offset < kImageSize; ++offset) {
      if (store.BootLoaderImage()[offset] != Expected(*c.resource, offset) && ++wrong <= 3) {
        ADD_FAILURE() << std::hex << "installed " << c.installed << ", offset " << offset;
      }
    }
  }
  // Loading the firmware again leaves the assembled image alone.
  const Bytes assembled = test::ImageBytes(store.BootLoaderImage());
  firmware = test::LanePattern(3);
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  EXPECT_EQ(test::ImageBytes(store.BootLoaderImage()), assembled);
}

TEST_F(ImageStoreTest, TheLast1024BytesOfAResourceNeverMatter) {
  Install();
  ASSERT_TRUE(store.LoadFirmwareImage() && store.LoadBootLoaderImage(0x0200));
  for (size_t storedSize : {kResourceSize, kImageSize}) {
    for (auto& entry : module.resources) {
      std::fill(entry.second.begin() + kImageSize, entry.second.end(), 0x5A);
      entry.second.resize(storedSize);
    }
    ImageStore other(module, kPath);
    ASSERT_TRUE(other.LoadFirmwareImage() && other.LoadBootLoaderImage(0x0200)) << storedSize;
    EXPECT_EQ(test::ImageBytes(other.FirmwareImage()), test::ImageBytes(store.FirmwareImage()));
    EXPECT_EQ(test::ImageBytes(other.BootLoaderImage()), test::ImageBytes(store.BootLoaderImage()));
  }
}

TEST_F(ImageStoreTest, MissingOrShortResourceLoadsNothing) {
  const Bytes empty(kImageSize, 0);
  Install();
  EXPECT_FALSE(store.LoadBootLoaderImage(0x0200));  // no firmware image to overlay from yet
  EXPECT_TRUE(module.requests.empty());
  module.resources["FWC"].resize(kImageSize - 1);
  EXPECT_FALSE(store.LoadFirmwareImage());
  EXPECT_EQ(store.NewFirmwareVersion() | store.RequiredBootLoaderVersion(), 0);
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), empty);

  Install();
  ASSERT_TRUE(store.LoadFirmwareImage());
  module.resources.erase("BRC");
  EXPECT_FALSE(store.LoadBootLoaderImage(0x0001));
  EXPECT_EQ(test::ImageBytes(store.BootLoaderImage()), empty);
  // A failed reload keeps what was loaded before.
  const uint16_t version = store.NewFirmwareVersion();
  module.resources.erase("FWC");
  EXPECT_FALSE(store.LoadFirmwareImage());
  EXPECT_EQ(store.NewFirmwareVersion(), version);
  EXPECT_EQ(test::ImageBytes(store.FirmwareImage()), test::ImageBytes(firmware.data()));
}

}  // namespace
}  // namespace omr72
