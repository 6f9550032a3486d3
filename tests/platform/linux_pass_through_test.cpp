#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/pass_through.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;

// A fake sysfs: a SATA disk, USB disks behind usb-storage and uas, a disk on a USB device
// whose interface another driver holds, and a disk whose only USB-storage "ancestor" lies
// above the sysfs root.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    outer_ = fs::temp_directory_path() / ("omr72-sysfs-" + std::to_string(getpid()));
    fs::remove_all(outer_);
    root_ = outer_ / "sys";
    dev_ = outer_ / "dev";
    fs::create_directories(dev_);
    fs::create_directories(root_ / "class" / "scsi_generic");
    for (const char* d : {"usb-storage", "uas", "usbhid", "usb", "ahci"}) {
      fs::create_directories(root_ / "bus" / "drivers" / d);
    }
    // Above the root: must never be looked at.
    fs::create_directory_symlink(root_ / "bus" / "drivers" / "usb-storage", outer_ / "driver");

    Bind(Disk(0, "devices/pci0/ata1"), "ahci");
    fs::path usb1 = "devices/pci0/usb1/1-1";
    Bind(Disk(1, usb1.string() + "/1-1:1.0"), "usb-storage", "usb", usb1);
    fs::path usb2 = "devices/pci0/usb2/2-3";
    Bind(Disk(2, usb2.string() + "/2-3:1.0"), "uas", "usb", usb2);
    fs::path usb3 = "devices/pci0/usb1/1-2";
    Bind(Disk(3, usb3.string() + "/1-2:1.0"), "usbhid", "usb", usb3);
    Disk(4, "devices/virtual/nothing");
    fs::path usb4 = "devices/pci0/usb1/1-4";
    Bind(Disk(10, usb4.string() + "/1-4:1.0"), "usb-storage", "usb", usb4);
    fs::path usb5 = "devices/pci0/usb1/1-5";
    Bind(Disk(9, usb5.string() + "/1-5:1.0"), "usb-storage", "usb", usb5);
    // Entries that are not sg devices or have no device behind them.
    fs::create_directories(root_ / "class" / "scsi_generic" / "sg11");
    fs::create_directories(root_ / "class" / "scsi_generic" / "sgx");
  }
  void TearDown() override { fs::remove_all(outer_); }

  // Creates the SCSI device of sgK below `interfaceDir` and returns `interfaceDir`.
  fs::path Disk(unsigned k, const std::string& interfaceDir) {
    std::string n = std::to_string(k);
    fs::path scsi = root_ / interfaceDir / ("host" + n) / ("target" + n + ":0:0") / (n + ":0:0:0");
    fs::create_directories(scsi);
    fs::path entry = root_ / "class" / "scsi_generic" / ("sg" + n);
    fs::create_directories(entry);
    fs::create_directory_symlink(fs::relative(scsi, entry), entry / "device");
    return root_ / interfaceDir;
  }

  void Bind(const fs::path& interface, const char* driver, const char* parentDriver = nullptr,
            const fs::path& parent = {}) {
    fs::create_directory_symlink(root_ / "bus" / "drivers" / driver, interface / "driver");
    if (parentDriver != nullptr) {
      fs::create_directory_symlink(root_ / "bus" / "drivers" / parentDriver,
                                   root_ / parent / "driver");
    }
  }

  void MakeDeviceNode(unsigned k) { std::ofstream(dev_ / ("sg" + std::to_string(k))) << ""; }

  fs::path outer_, root_, dev_;
};

TEST_F(FakeSysfs, OnlyUsbStorageDisksInNumericOrder) {
  EXPECT_EQ(UsbScsiGenericDevices(root_), (std::vector<unsigned>{1, 2, 9, 10}));
}

TEST_F(FakeSysfs, NoSysfsNoDisks) {
  EXPECT_TRUE(UsbScsiGenericDevices(outer_ / "missing").empty());
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

TEST(LinuxSgHeader, DirectionLengthAndTimeOut) {
  uint8_t data[4] = {};
  unsigned char sense[kSgSenseBufferSize];
  struct Case {
    const char* name;
    uint8_t dataIn;
    uint8_t* buffer;
    uint32_t length;
    uint32_t seconds;
    bool valid;
    int direction;
    unsigned timeout;
  };
  const Case cases[] = {
      {"in", kDataIn, data, 4, 2, true, SG_DXFER_FROM_DEV, 2000},
      {"out", kDataOut, data, 4, 2, true, SG_DXFER_TO_DEV, 2000},
      {"in without data", kDataIn, nullptr, 0, 2, true, SG_DXFER_NONE, 2000},
      {"out without data", kDataOut, data, 0, 30, true, SG_DXFER_NONE, 30000},
      {"huge time-out", kDataIn, nullptr, 0, 5000000, true, SG_DXFER_NONE, 0xFFFFFFFFu},
      {"unknown direction", 2, data, 4, 2, false, 0, 0},
      {"length without buffer", kDataIn, nullptr, 4, 2, false, 0, 0},
  };
  for (const Case& c : cases) {
    ScsiRequest r;
    r.dataIn = c.dataIn;
    r.cdb = {0x12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    r.buffer = c.buffer;
    r.length = c.length;
    r.timeoutSeconds = c.seconds;
    std::optional<sg_io_hdr> h = BuildSgIoHeader(r, sense);
    ASSERT_EQ(h.has_value(), c.valid) << c.name;
    if (!h) continue;
    EXPECT_EQ(h->interface_id, 'S') << c.name;
    EXPECT_EQ(h->cmd_len, 16) << c.name;
    EXPECT_EQ(h->cmdp, r.cdb.data()) << c.name;
    EXPECT_EQ(h->mx_sb_len, 24) << c.name;
    EXPECT_EQ(h->sbp, sense) << c.name;
    EXPECT_EQ(h->dxfer_direction, c.direction) << c.name;
    EXPECT_EQ(h->dxfer_len, c.direction == SG_DXFER_NONE ? 0 : c.length) << c.name;
    EXPECT_EQ(h->dxferp, c.direction == SG_DXFER_NONE ? nullptr : c.buffer) << c.name;
    EXPECT_EQ(h->timeout, c.timeout) << c.name;
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
