#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pass_through.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;

// A fake sysfs: a SATA disk, USB disks behind usb-storage and uas, a disk on a USB device
// whose interface another driver holds, a disk with no driver at all, and a usb-storage link
// just above the sysfs root.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    outer_ = fs::temp_directory_path() / ("omr72-sysfs-" + std::to_string(getpid()));
    fs::remove_all(outer_);
    root_ = outer_ / "sys";
    dev_ = outer_ / "dev";
    fs::create_directories(dev_);
    for (const char* d : {"usb-storage", "uas", "usbhid", "usb", "ahci"}) {
      fs::create_directories(root_ / "bus" / "drivers" / d);
    }
    fs::create_directory_symlink(root_ / "bus" / "drivers" / "usb-storage", outer_ / "driver");
    AddDisk(0, "devices/pci0/ata1", "ahci");
    AddDisk(1, "devices/pci0/usb1/1-1/1-1:1.0", "usb-storage");
    AddDisk(2, "devices/pci0/usb2/2-3/2-3:1.0", "uas");
    AddDisk(3, "devices/pci0/usb1/1-2/1-2:1.0", "usbhid");
    AddDisk(4, "devices/virtual/nothing", nullptr);
    AddDisk(10, "devices/pci0/usb1/1-4/1-4:1.0", "usb-storage");
    AddDisk(9, "devices/pci0/usb1/1-5/1-5:1.0", "usb-storage");
    // Entries that are not sg devices or have no device behind them.
    fs::create_directories(root_ / "class" / "scsi_generic" / "sg11");
    fs::create_directories(root_ / "class" / "scsi_generic" / "sgx");
  }
  void TearDown() override { fs::remove_all(outer_); }

  // sgK's SCSI device below `interfaceDir`, bound to `driver`; a USB interface's device
  // above it is bound to the usb driver, whose name must not be taken for usb-storage.
  void AddDisk(unsigned k, const fs::path& interfaceDir, const char* driver) {
    const std::string n = std::to_string(k);
    const fs::path dir = root_ / interfaceDir;
    const fs::path scsi = dir / ("host" + n) / ("target" + n + ":0:0") / (n + ":0:0:0");
    fs::create_directories(scsi);
    const fs::path entry = root_ / "class" / "scsi_generic" / ("sg" + n);
    fs::create_directories(entry);
    fs::create_directory_symlink(fs::relative(scsi, entry), entry / "device");
    if (driver == nullptr) return;
    fs::create_directory_symlink(root_ / "bus" / "drivers" / driver, dir / "driver");
    if (interfaceDir.string().find(":1.0") != std::string::npos)
      fs::create_directory_symlink(root_ / "bus" / "drivers" / "usb", dir.parent_path() / "driver");
  }

  void MakeDeviceNode(unsigned k) { std::ofstream(dev_ / ("sg" + std::to_string(k))) << ""; }

  fs::path outer_, root_, dev_;
};

TEST_F(FakeSysfs, OnlyUsbStorageDisksInNumericOrder) {
  EXPECT_EQ(UsbScsiGenericDevices(root_), (std::vector<unsigned>{1, 2, 9, 10}));
  EXPECT_TRUE(UsbScsiGenericDevices(outer_ / "missing").empty());
}

TEST(LinuxDriveNames, OnlyPhysicalDriveAndOneDigit) {
  const struct {
    const char* name;
    std::optional<unsigned> index;
  } cases[] = {
      {R"(\\.\PHYSICALDRIVE0)", 0u},
      {R"(\\.\PHYSICALDRIVE8)", 8u},
      {R"(\\.\PHYSICALDRIVE/)", {}},
      {R"(\\.\PHYSICALDRIVE:)", {}},
      {R"(\\.\PHYSICALDRIVE10)", {}},
      {R"(\\.\PHYSICALDRIVE)", {}},
      {R"(\\.\physicaldrive1)", {}},
      {R"(\\?\PHYSICALDRIVE1)", {}},
      {"PHYSICALDRIVE1", {}},
      {R"(\\.\ezusb-1)", {}},
      {nullptr, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DriveIndex(c.name), c.index) << (c.name ? c.name : "null");
  }
}

TEST_F(FakeSysfs, DriveDigitNamesTheNthUsbDisk) {
  // Device nodes for every disk, the SATA one included: only the mapping decides.
  for (unsigned k : {0u, 3u, 4u, 9u}) MakeDeviceNode(k);
  LinuxSgPassThrough scsi(root_, dev_);
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE0)"), nullptr);  // sg1: no node
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE1)"), nullptr);  // sg2: no node
  EXPECT_NE(scsi.Open(R"(\\.\PHYSICALDRIVE2)"), nullptr);  // sg9
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE3)"), nullptr);  // sg10: no node
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVE4)"), nullptr);  // only four USB disks
  EXPECT_EQ(scsi.Open(R"(\\.\PHYSICALDRIVEx)"), nullptr);
  EXPECT_EQ(scsi.Open("PHYSICALDRIVE2"), nullptr);
}

// A node this user may not open is reported, once per node until taken; a missing node is not.
// Root opens anything, so the scan runs in a child that has given up root.
TEST_F(FakeSysfs, NodesThatMayNotBeOpenedAreReported) {
  MakeDeviceNode(9);
  MakeDeviceNode(10);
  fs::permissions(dev_ / "sg9", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dev_ / "sg10", fs::perms::all);
  const std::string sg9 = (dev_ / "sg9").string();
  auto scan = [&] {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(3);
    LinuxSgPassThrough scsi(root_, dev_);
    for (int pass = 0; pass < 2; ++pass) {
      for (char d = '0'; d <= '4'; ++d)
        scsi.Open((std::string(R"(\\.\PHYSICALDRIVE)") + d).c_str());
    }
    const std::vector<AccessDenial> denials = scsi.TakeAccessDenials();
    if (denials != std::vector<AccessDenial>{{sg9}}) _exit(1);
    _exit(scsi.TakeAccessDenials().empty() ? 0 : 2);
  };
  EXPECT_EXIT(scan(), ::testing::ExitedWithCode(0), "");
}

TEST(LinuxSgHeader, DirectionLengthAndTimeOut) {
  uint8_t data[4] = {};
  const uint8_t sent[4] = {0xA1, 0xA2, 0xA3, 0xA4};
  const struct {
    const char* name;
    DataStage stage;
    uint32_t seconds;
    int direction;
    unsigned timeout;
  } cases[] = {
      {"in", DataStage::In(data), 2, SG_DXFER_FROM_DEV, 2000},
      {"out", DataStage::Out(sent), 2, SG_DXFER_TO_DEV, 2000},
      {"in without data", DataStage::In({}), 2, SG_DXFER_NONE, 2000},
      {"out without data", DataStage::Out({}), 30, SG_DXFER_NONE, 30000},
      {"huge time-out", DataStage::In({}), 5000000, SG_DXFER_NONE, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScsiRequest r;
    r.data = c.stage;
    r.cdb = {0x12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    r.timeoutSeconds = c.seconds;
    SgIoBuffers buffers;
    const sg_io_hdr h = BuildSgIoHeader(r, buffers);
    const bool none = c.direction == SG_DXFER_NONE;
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.cmd_len, 16);
    ASSERT_EQ(h.cmdp, buffers.cdb.data());
    EXPECT_TRUE(std::equal(r.cdb.begin(), r.cdb.end(), h.cmdp));
    EXPECT_EQ(h.mx_sb_len, 24);
    EXPECT_EQ(h.sbp, buffers.sense.data());
    EXPECT_EQ(h.dxfer_direction, c.direction);
    EXPECT_EQ(h.dxfer_len, none ? 0u : 4u);
    EXPECT_EQ(h.timeout, c.timeout);
    if (none) {
      EXPECT_EQ(h.dxferp, nullptr);
    } else if (c.stage.isIn()) {
      EXPECT_EQ(h.dxferp, data) << "data in lands in the caller's buffer";
    } else {
      const auto* out = static_cast<const uint8_t*>(h.dxferp);
      EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(sent, sent + 4));
    }
  }
}

TEST(LinuxSgHeader, CompletedOnlyWhenIoctlAndInfoWordAgree) {
  const struct {
    int rc;
    unsigned info;
    bool completed;
  } cases[] = {
      {0, SG_INFO_OK, true},
      {0, SG_INFO_OK | SG_INFO_DIRECT_IO, true},
      {0, SG_INFO_CHECK, false},
      {-1, SG_INFO_OK, false},
  };
  for (const auto& c : cases) {
    sg_io_hdr h{};
    h.info = c.info;
    EXPECT_EQ(SgIoCompleted(c.rc, h), c.completed) << c.rc << " " << c.info;
  }
}

}  // namespace
}  // namespace omr72
