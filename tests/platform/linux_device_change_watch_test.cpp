#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/linux/device_change_watch.h"
#include "platform/linux/pass_through.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;
using Clock = DeviceChangeWatch::Clock;
using std::chrono::milliseconds;

// A temporary /dev-like folder and a clock that moves only when told to.
class ChangeWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("omr72-watch-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  DeviceChangeWatch Watch(const fs::path& folder, std::string prefix, bool subfolders = false) {
    return DeviceChangeWatch({{folder, std::move(prefix), subfolders}}, [this] { return now_; });
  }
  // Time passes beyond the event check, as between two passes of a wait.
  void Pass(milliseconds by = DeviceChangeWatch::kEventCheck) { now_ += by; }
  // Time passes beyond the settling time after the last event, but not to the next refresh.
  void Settle() { now_ += DeviceChangeWatch::kSettling; }
  void Touch(const fs::path& path) { std::ofstream(path) << ""; }

  fs::path root_;
  Clock::time_point now_ = Clock::time_point(std::chrono::hours(1));
};

TEST_F(ChangeWatchTest, ListsFirstThenOnlyAfterAChangeThatMatters) {
  DeviceChangeWatch watch = Watch(root_, "sg");
  EXPECT_TRUE(watch.ListingDue()) << "nothing has been listed yet";
  Pass();
  EXPECT_FALSE(watch.ListingDue());

  const struct {
    const char* what;
    std::function<void()> change;
    bool due;
  } cases[] = {
      {"an sg node arrives", [&] { Touch(root_ / "sg3"); }, true},
      {"another kind of node arrives", [&] { Touch(root_ / "tty5"); }, false},
      {"udev re-permissions the sg node",
       [&] { fs::permissions(root_ / "sg3", fs::perms::owner_read, fs::perm_options::remove); },
       true},
      {"the sg node goes", [&] { fs::remove(root_ / "sg3"); }, true},
      {"another kind of node goes", [&] { fs::remove(root_ / "tty5"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    Pass();
    EXPECT_EQ(watch.ListingDue(), c.due);
    Settle();
    watch.ListingDue();  // whatever the settling left due
    Pass();
    EXPECT_FALSE(watch.ListingDue()) << "quiet again";
  }
}

TEST_F(ChangeWatchTest, KeepsListingWhileSettlingAndRefreshesNowAndThen) {
  DeviceChangeWatch watch = Watch(root_, "");
  watch.ListingDue();
  Touch(root_ / "001");
  Pass();
  EXPECT_TRUE(watch.ListingDue());
  Pass(milliseconds(1));
  EXPECT_TRUE(watch.ListingDue()) << "events are read only every few ms, the settling goes on";
  Pass(DeviceChangeWatch::kSettling - milliseconds(10));
  EXPECT_TRUE(watch.ListingDue()) << "still settling";
  Pass(milliseconds(10));
  EXPECT_FALSE(watch.ListingDue());
  Pass(DeviceChangeWatch::kRefresh - milliseconds(11));  // the last listing was 10 ms ago
  EXPECT_FALSE(watch.ListingDue());
  Pass(milliseconds(1));
  EXPECT_TRUE(watch.ListingDue()) << "the refresh interval without a listing";
  EXPECT_FALSE(watch.ListingDue());
}

TEST_F(ChangeWatchTest, FollowsBusFoldersThatAppearLater) {
  const fs::path usb = root_ / "bus" / "usb";
  DeviceChangeWatch watch = Watch(usb, "", true);
  EXPECT_TRUE(watch.ListingDue());
  Pass();
  EXPECT_FALSE(watch.ListingDue()) << "a missing folder does not make every pass list";

  const struct {
    const char* what;
    fs::path folder;
    fs::path node;
  } steps[] = {
      {"/dev/bus appears", root_ / "bus", {}},
      {"/dev/bus/usb appears", usb, {}},
      {"a bus folder appears", usb / "001", {}},
      {"a device node appears on that bus", {}, usb / "001" / "004"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    if (!s.folder.empty()) fs::create_directory(s.folder);
    if (!s.node.empty()) Touch(s.node);
    Pass();
    EXPECT_TRUE(watch.ListingDue());
    Settle();
    watch.ListingDue();
    Pass();
    EXPECT_FALSE(watch.ListingDue());
  }
}

TEST_F(ChangeWatchTest, WatchesBusFoldersPresentAtStart) {
  fs::create_directories(root_ / "002");
  DeviceChangeWatch watch = Watch(root_, "", true);
  watch.ListingDue();
  Pass();
  EXPECT_FALSE(watch.ListingDue());
  Touch(root_ / "002" / "001");
  Pass();
  EXPECT_TRUE(watch.ListingDue());
}

TEST_F(ChangeWatchTest, AFolderThatGoesIsWatchedAgainWhenItReturns) {
  const fs::path bus = root_ / "usb";
  fs::create_directory(bus);
  DeviceChangeWatch watch = Watch(bus, "");
  watch.ListingDue();
  fs::remove(bus);
  Pass();
  EXPECT_TRUE(watch.ListingDue());
  Settle();
  watch.ListingDue();
  Pass();
  EXPECT_FALSE(watch.ListingDue()) << "the folder's absence does not make every pass list";
  fs::create_directory(bus);
  Pass();
  EXPECT_TRUE(watch.ListingDue());
  Settle();
  watch.ListingDue();
  Touch(bus / "003");
  Pass();
  EXPECT_TRUE(watch.ListingDue());
}

// The pass-through over a fake sysfs: a USB disk whose node appears between two scans is
// opened by the next one, and one whose node goes is no longer opened.
TEST_F(ChangeWatchTest, PassThroughOpensADiskWhoseNodeArrivesBetweenScans) {
  const fs::path sys = root_ / "sys", dev = root_ / "dev";
  fs::create_directories(dev);
  fs::create_directories(sys / "bus" / "drivers" / "usb-storage");
  fs::create_directories(sys / "class" / "scsi_generic");
  LinuxSgPassThrough scsi(sys, dev);
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE0)"), nullptr);

  const fs::path interface = sys / "devices" / "usb1" / "1-1" / "1-1:1.0";
  const fs::path lun = interface / "host2" / "target2:0:0" / "2:0:0:0";
  fs::create_directories(lun);
  fs::create_directory_symlink(sys / "bus" / "drivers" / "usb-storage", interface / "driver");
  const fs::path entry = sys / "class" / "scsi_generic" / "sg2";
  fs::create_directories(entry);
  fs::create_directory_symlink(lun, entry / "device");
  Touch(dev / "sg2");
  // Past the event check of the real clock; what is asserted is the result, not the time.
  std::this_thread::sleep_for(2 * DeviceChangeWatch::kEventCheck);
  EXPECT_NE(scsi.Open(R"(\\.\PHYSICALDRIVE0)"), nullptr);

  fs::remove(dev / "sg2");
  fs::remove_all(entry);
  std::this_thread::sleep_for(2 * DeviceChangeWatch::kEventCheck);
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE0)"), nullptr);
}

}  // namespace
}  // namespace omr72
