// The drive digit keeps naming the disk its last scan reached, however the sg numbers move.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pass_through.h"
#include "platform/linux/sg_devices.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;

// A fake sysfs in which USB disks come and go. A disk is an sg number, a USB port and an
// enumeration number (what the kernel gives each plug-in); its SCSI host number is new for
// every plug-in, as the kernel hands them out.
class SgDrift : public ::testing::Test {
 protected:
  void SetUp() override {
    outer_ = fs::temp_directory_path() / ("omr72-sgdrift-" + std::to_string(getpid()));
    fs::remove_all(outer_);
    root_ = outer_ / "sys";
    fs::create_directories(root_ / "bus" / "drivers" / "usb-storage");
    fs::create_directories(root_ / "class" / "scsi_generic");
  }
  void TearDown() override { fs::remove_all(outer_); }

  void Plug(unsigned sg, const std::string& port, unsigned devnum, unsigned host) {
    const fs::path usbDevice = root_ / "devices" / "pci0" / "usb1" / port;
    const fs::path interface = usbDevice / (port + ":1.0");
    const std::string h = std::to_string(host);
    const fs::path scsi = interface / ("host" + h) / ("target" + h + ":0:0") / (h + ":0:0:0");
    fs::create_directories(scsi);
    std::ofstream(usbDevice / "devnum") << devnum << "\n";
    std::error_code ec;
    fs::remove(interface / "driver", ec);
    fs::create_directory_symlink(root_ / "bus" / "drivers" / "usb-storage", interface / "driver");
    const fs::path entry = root_ / "class" / "scsi_generic" / ("sg" + std::to_string(sg));
    fs::create_directories(entry);
    fs::create_directory_symlink(fs::relative(scsi, entry), entry / "device");
  }

  void Unplug(unsigned sg, const std::string& port) {
    fs::remove_all(root_ / "class" / "scsi_generic" / ("sg" + std::to_string(sg)));
    fs::remove_all(root_ / "devices" / "pci0" / "usb1" / port);
  }

  // What a scan does: an INQUIRY through every digit up to `upTo`.
  void Scan(SgDriveMap& map, unsigned upTo) {
    for (unsigned d = 0; d <= upTo; ++d) map.Bind(d, map.AtPosition(d));
  }

  fs::path outer_, root_;
};

TEST_F(SgDrift, StickPulledBelowTheRecorderMidWrite) {
  Plug(1, "1-1", 5, 6);  // a stick
  Plug(2, "1-2", 6, 7);  // the recorder
  SgDriveMap map(root_);
  Scan(map, 1);
  ASSERT_EQ(map.Named(1), 2u);
  Unplug(1, "1-1");
  Plug(5, "1-3", 7, 8);  // another disk: by position it would now be digit 1
  EXPECT_EQ(map.AtPosition(1)->number, 5u);
  EXPECT_EQ(map.Named(1), 2u);            // the write goes on to the recorder
  EXPECT_EQ(map.Named(0), std::nullopt);  // the stick is gone: its digit reaches nothing
}

TEST_F(SgDrift, NewDiskUnderAFreedNumberIsNotTheOldOne) {
  const struct {
    const char* name;
    const char* port;
    unsigned devnum;
    unsigned host;
  } newcomers[] = {
      {"another disk on another port", "1-4", 9, 6},
      {"another disk on the same port, host number reused", "1-1", 9, 6},
      {"the same disk again on the same port", "1-1", 10, 7},
  };
  for (const auto& n : newcomers) {
    SCOPED_TRACE(n.name);
    Plug(1, "1-1", 5, 6);
    SgDriveMap map(root_);
    Scan(map, 0);
    ASSERT_EQ(map.Named(0), 1u);
    Unplug(1, "1-1");
    EXPECT_EQ(map.Named(0), std::nullopt);
    Plug(1, n.port, n.devnum, n.host);
    EXPECT_EQ(map.Named(0), std::nullopt);  // commands fail until the next scan
    Scan(map, 0);
    EXPECT_EQ(map.Named(0), 1u);
    Unplug(1, n.port);
  }
}

TEST_F(SgDrift, RecorderBackUnderANewNumberIsFoundByTheNextScan) {
  Plug(0, "1-1", 3, 5);  // a stick
  Plug(1, "1-2", 4, 6);  // the recorder
  SgDriveMap map(root_);
  Scan(map, 1);
  Unplug(1, "1-2");      // it restarts...
  Plug(3, "1-2", 5, 7);  // ...and comes back as sg3
  EXPECT_EQ(map.Named(1), std::nullopt);
  Scan(map, 1);
  EXPECT_EQ(map.Named(1), 3u);
  EXPECT_EQ(map.Named(0), 0u);
}

TEST_F(SgDrift, DigitsWithoutADevice) {
  Plug(4, "1-1", 2, 3);
  SgDriveMap map(root_);
  EXPECT_EQ(map.Named(0), std::nullopt);  // never scanned
  Scan(map, 3);
  EXPECT_EQ(map.Named(0), 4u);
  EXPECT_EQ(map.Named(1), std::nullopt);  // the scan found nothing there
  EXPECT_EQ(map.Named(SgDriveMap::kDigits), std::nullopt);
}

TEST_F(SgDrift, BrokenEntriesAreSkippedWithoutThrowing) {
  Plug(2, "1-1", 2, 3);
  const fs::path classDir = root_ / "class" / "scsi_generic";
  fs::create_directories(classDir / "sg7");
  fs::create_directory_symlink(root_ / "nowhere", classDir / "sg7" / "device");  // dangling
  fs::create_directories(classDir / "sg8");
  fs::create_directory_symlink(classDir / "sg8" / "device", classDir / "sg8" / "device2");
  fs::create_directory_symlink(classDir / "sg8" / "device2", classDir / "sg8" / "device");
  fs::create_directory_symlink(root_ / "loop", root_ / "loop2");
  fs::create_directory_symlink(root_ / "loop2", root_ / "loop");
  std::vector<UsbSgDevice> devices;
  EXPECT_NO_THROW(devices = ListUsbSgDevices(root_));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].number, 2u);
  EXPECT_NO_THROW(devices = ListUsbSgDevices(root_ / "loop"));
  EXPECT_TRUE(devices.empty());
}

// Only "sg" and one to six digits name an sg device.
TEST_F(SgDrift, EntryNamesAreSgAndADecimalNumber) {
  Plug(5, "1-1", 2, 3);
  const fs::path classDir = root_ / "class" / "scsi_generic";
  const fs::path device = fs::canonical(classDir / "sg5" / "device");
  for (const char* name :
       {"sg0", "sg9", "sg123456", "sg1234567", "sg", "sg:", "sgx", "sg1x", "SG3", "xsg3"}) {
    fs::create_directories(classDir / name);
    fs::create_directory_symlink(device, classDir / name / "device");
  }
  std::vector<unsigned> numbers;
  for (const UsbSgDevice& d : ListUsbSgDevices(root_)) numbers.push_back(d.number);
  EXPECT_EQ(numbers, (std::vector<unsigned>{0, 5, 9, 123456}));
}

// Through the pass-through: once a scan has reached the recorder, a command through its digit
// opens the recorder's node even after the numbers below it have gone.
TEST_F(SgDrift, PassThroughOpensTheNamedDeviceForCommands) {
  const fs::path dev = outer_ / "dev";
  fs::create_directories(dev);
  Plug(1, "1-1", 5, 6);
  Plug(2, "1-2", 6, 7);
  std::ofstream(dev / "sg2") << "";  // only the recorder has a node we can open
  LinuxSgPassThrough scsi(root_, dev);
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE0)"), nullptr);  // sg1: no node, nothing named
  std::unique_ptr<ScsiDrive> drive = scsi.Open(R"(\\.\PHYSICALDRIVE1)");
  ASSERT_NE(drive, nullptr);
  ScsiRequest inquiry;
  inquiry.cdb[0] = 0x12;
  uint8_t status = 0;
  drive->Execute(inquiry, status);  // the node is no sg device: the ioctl fails, the digit binds
  Unplug(1, "1-1");
  // By position there is no digit 1 any more; by name it is still sg2.
  EXPECT_NE(scsi.Open(R"(\\.\PHYSICALDRIVE1)"), nullptr);
  Unplug(2, "1-2");
  fs::remove(dev / "sg2");  // the kernel takes the node away with the device
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE1)"), nullptr);
}

}  // namespace
}  // namespace omr72
