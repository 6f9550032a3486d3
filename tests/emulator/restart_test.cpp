// The restart rule and the recorder's comings and goings, driven through the real links.
#include <string>

#include "tests/emulator/emulator_fixture.h"

namespace omr72::emu {
namespace {

using RestartRule = EmulatorTest;
using Step = bool (*)(EmulatorTest&);

TEST_F(RestartRule, GuardPageAndFlashDecideFaceAndVersions) {
  const Step nothing = [](EmulatorTest&) { return true; };
  const Step eraseOnDisk = [](EmulatorTest& t) { return ScsiEraseFlashPage(t.scsi(), 0x200); };
  const Step eraseOnUsb = [](EmulatorTest& t) {
    uint8_t reply[2];
    return UsbEraseFlashPage(t.usb(), 0x200, reply);
  };
  const Step writeBootLoader = [](EmulatorTest& t) {
    return ScsiWriteMcuFlash(t.scsi(), McuImage(t.images().bootLoaders[0].data(), 0x2A00));
  };
  const Step writeFirmware = [](EmulatorTest& t) {
    return ScsiWriteMcuFlash(t.scsi(), McuImage(t.images().firmware.data(), 0x2A00));
  };
  const Step writeFirmwareThenErase = [](EmulatorTest& t) {
    return ScsiWriteMcuFlash(t.scsi(), McuImage(t.images().firmware.data(), 0x2A00)) &&
           ScsiEraseFlashPage(t.scsi(), 0x200);
  };
  const Step restart13 = [](EmulatorTest& t) { return ScsiRestart(t.scsi()); };
  const Step command6 = [](EmulatorTest& t) { return ScsiServiceCommand6(t.scsi()); };
  const Step usbRestart = [](EmulatorTest& t) { return UsbRestart(t.usb()); };

  const struct {
    const char* name;
    StartRoute route;
    Step before;   // what the host does before the restart
    Step restart;  // the request that restarts the recorder
    Face back;
    uint16_t bootLoader;
    std::optional<uint16_t> firmware;
    bool firmwareWritten;
  } cases[] = {
      {"erased guard on disk stays a disk", StartRoute::kDisk, eraseOnDisk, restart13, Face::kDisk,
       0x0100, 0x0105, false},
      {"erased guard on USB stays on USB", StartRoute::kUsb, eraseOnUsb, usbRestart, Face::kUsb,
       0x0100, 0x0105, false},
      {"erased guard on both faces, restarted through the disk, comes back on the disk",
       StartRoute::kBoth, eraseOnDisk, restart13, Face::kDisk, 0x0100, 0x0105, false},
      {"erased guard on both faces, sub-command 6, comes back on the disk", StartRoute::kBoth,
       eraseOnUsb, command6, Face::kDisk, 0x0100, 0x0105, false},
      {"erased guard on both faces, restarted over USB, comes back on USB", StartRoute::kBoth,
       eraseOnDisk, usbRestart, Face::kUsb, 0x0100, 0x0105, false},
      {"USB with intact guard comes back as a disk", StartRoute::kUsb, nothing, usbRestart,
       Face::kDisk, 0x0100, 0x0105, false},
      {"sub-command 6 restarts like 13", StartRoute::kDisk, nothing, command6, Face::kDisk, 0x0100,
       0x0105, false},
      {"a written boot loader reports its version", StartRoute::kDisk, writeBootLoader, restart13,
       Face::kDisk, kImageBootLoader, 0x0105, false},
      {"written firmware reports its version", StartRoute::kDisk, writeFirmware, restart13,
       Face::kDisk, 0x0100, kImageFirmware, true},
      {"firmware behind an erased guard is not started", StartRoute::kDisk, writeFirmwareThenErase,
       restart13, Face::kDisk, 0x0100, 0x0105, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Config(c.route));
    if (c.route != StartRoute::kUsb) {
      ASSERT_TRUE(scsi().IsConnected());
    }
    ASSERT_TRUE(c.before(*this));
    ASSERT_TRUE(c.restart(*this));
    // Settled at the restart itself, before the recorder is back.
    EXPECT_EQ(recorder().face(), Face::kNone);
    EXPECT_EQ(recorder().returnFace(), c.back);
    EXPECT_EQ(recorder().bootLoaderVersion(), c.bootLoader);
    EXPECT_EQ(recorder().firmwareVersion(), c.firmware);
    EXPECT_EQ(recorder().FirmwareImageWritten(), c.firmwareWritten);
    EXPECT_EQ(recorder().restarts(), 1);
    const bool onUsb = c.back == Face::kUsb;
    for (int poll = 1; poll <= kRestartPolls; ++poll) {
      EXPECT_FALSE(onUsb ? usb().IsConnected() : scsi().IsConnected()) << "poll " << poll;
    }
    EXPECT_TRUE(onUsb ? usb().IsConnected() : scsi().IsConnected());
    EXPECT_FALSE(onUsb ? scsi().IsConnected() : usb().IsConnected());
  }
}

TEST_F(RestartRule, AttachAfterKeepsTheRecorderAwayForThatManyPolls) {
  RecorderConfig config = Config(StartRoute::kUsb);
  config.attachAfter = 4;
  Start(config);
  for (int poll = 1; poll <= 2; ++poll) EXPECT_FALSE(usb().IsConnected());
  for (int poll = 3; poll <= 4; ++poll) EXPECT_FALSE(scsi().IsConnected());
  EXPECT_TRUE(usb().IsConnected());
  EXPECT_EQ(recorder().restarts(), 0);
}

TEST_F(RestartRule, NoRecorderAndNoReturnNeverAppear) {
  Start(Config(StartRoute::kNone));
  EXPECT_FALSE(BackWithin(50));
  EXPECT_FALSE(BackWithin(50, Face::kUsb));

  RecorderConfig gone;
  gone.noReturn = true;
  Start(gone);
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_FALSE(BackWithin(50));
  EXPECT_FALSE(BackWithin(50, Face::kUsb));
  EXPECT_EQ(recorder().returnFace(), Face::kNone);
  EXPECT_EQ(recorder().restarts(), 1);
}

TEST_F(RestartRule, DiskPollsReplugARecorderStuckOnUsb) {
  Start(Config(StartRoute::kUsb));
  for (int i = 0; i < kReplugPolls - 1; ++i) EXPECT_FALSE(scsi().IsConnected());
  ASSERT_TRUE(usb().IsConnected());  // someone still talks to it over USB: count again
  for (int i = 0; i < kReplugPolls - 1; ++i) EXPECT_FALSE(scsi().IsConnected());
  EXPECT_EQ(recorder().restarts(), 0);
  EXPECT_FALSE(scsi().IsConnected());
  EXPECT_EQ(recorder().restarts(), 1);
  EXPECT_EQ(recorder().returnFace(), Face::kDisk);
  EXPECT_TRUE(BackWithin(kRestartPolls + 1));
  EXPECT_EQ(recorder().restarts(), 1);
}

TEST_F(RestartRule, ComesBackOnAnotherDriveAndCommandsFollowIt) {
  RecorderConfig config;
  config.returnDrives = {4};
  config.foreignDisks = {2};
  Start(config);
  ASSERT_TRUE(scsi().IsConnected());
  EXPECT_EQ(scsi().DriveDigit(), '1');
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_FALSE(scsi().IsConnected());
  ASSERT_TRUE(BackWithin(kRestartPolls));
  EXPECT_EQ(scsi().DriveDigit(), '4');
  uint8_t block[64];
  ASSERT_TRUE(ScsiReadMemory(scsi(), 0x29F9, block));
  EXPECT_EQ(host().trace().back().rfind("scsi drive=4 cdb=C80A29F9", 0), 0u);
}

TEST_F(RestartRule, AHandleOpenedBeforeARestartIsDead) {
  Start(RecorderConfig{});
  std::unique_ptr<ScsiDrive> old = host().scsi().Open("\\\\.\\PHYSICALDRIVE1");
  ASSERT_TRUE(old);
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiRestart(scsi()));
  ASSERT_TRUE(BackWithin(kRestartPolls + 1));
  uint8_t block[64];
  uint8_t status = 0x55;
  EXPECT_FALSE(old->Execute(
      ScsiRequest{.cdb = BuildServiceAddressCdb(10, 0), .data = DataStage::In(block)}, status));
  EXPECT_EQ(status, 0x55);
}

// Realistic timing waits for the clock, not for polls; the margin (many polls in far less
// than the restart's 1.5 s) keeps this independent of the machine's speed.
TEST_F(RestartRule, RealisticRestartWaitsForTimeNotPolls) {
  RecorderConfig config;
  config.realisticLatency = true;
  Start(config);
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_FALSE(BackWithin(kRestartPolls * 4));
  bool back = false;
  for (int i = 0; i < 200 && !back; ++i) {
    host().sleeper().SleepMs(25);
    back = scsi().IsConnected();
  }
  EXPECT_TRUE(back);
}

}  // namespace
}  // namespace omr72::emu

namespace omr72::emu {
namespace {

using Unplug = EmulatorTest;

// The unplug fault: the recorder leaves just before the N-th traced command and comes back
// after P polls, in the mode its flash implies, on the face the rule gives.
TEST_F(Unplug, LeavesBeforeTheCommandAndComesBackAsTheFlashSays) {
  const Step eraseOnDisk = [](EmulatorTest& t) { return ScsiEraseFlashPage(t.scsi(), 0x200); };
  const Step eraseOnUsb = [](EmulatorTest& t) {
    uint8_t reply[2];
    return UsbEraseFlashPage(t.usb(), 0x200, reply);
  };
  const Step readOnDisk = [](EmulatorTest& t) {
    uint8_t block[64];
    return ScsiReadMemory(t.scsi(), 0, block);
  };
  const Step readOnUsb = [](EmulatorTest& t) {
    uint8_t block[64];
    return UsbReadMemory(t.usb(), 0, block);
  };
  const struct {
    const char* name;
    StartRoute route;
    Step first;   // traced command 1, before the unplug
    Step second;  // traced command 2: the recorder is gone before it arrives
    int replugAfter;
    Face back;
  } cases[] = {
      {"firmware on the disk comes back as a disk", StartRoute::kDisk, readOnDisk, readOnDisk, 3,
       Face::kDisk},
      {"boot loader on the disk stays a disk", StartRoute::kDisk, eraseOnDisk, readOnDisk, 5,
       Face::kDisk},
      {"boot loader on USB stays on USB", StartRoute::kUsb, eraseOnUsb, readOnUsb, 0, Face::kUsb},
      {"firmware found on USB starts as a disk", StartRoute::kUsb, readOnUsb, readOnUsb, 2,
       Face::kDisk},
      {"boot loader on both faces keeps both", StartRoute::kBoth, eraseOnDisk, readOnUsb, 1,
       Face::kBoth},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderConfig config = Config(c.route);
    config.unplugAt = 2;
    config.replugAfter = c.replugAfter;
    Start(config);
    if (c.route != StartRoute::kUsb) {
      ASSERT_TRUE(scsi().IsConnected());
    }
    ASSERT_TRUE(c.first(*this));
    EXPECT_FALSE(c.second(*this));
    EXPECT_EQ(recorder().face(), Face::kNone);
    EXPECT_EQ(recorder().returnFace(), c.back);
    EXPECT_EQ(recorder().restarts(), 1);
    EXPECT_EQ(host().trace().size(), 1u);  // the command it left before never arrived
    const bool onUsb = c.back == Face::kUsb;
    for (int poll = 1; poll <= c.replugAfter; ++poll) {
      EXPECT_FALSE(onUsb ? usb().IsConnected() : scsi().IsConnected()) << "poll " << poll;
    }
    EXPECT_TRUE(onUsb ? usb().IsConnected() : scsi().IsConnected());
    EXPECT_TRUE(onUsb ? readOnUsb(*this) : readOnDisk(*this));  // back, it answers
    EXPECT_EQ(recorder().restarts(), 1);
  }
}

TEST_F(Unplug, WithNoReturnTheRecorderStaysAway) {
  RecorderConfig config;
  config.unplugAt = 1;
  config.noReturn = true;
  Start(config);
  ASSERT_TRUE(scsi().IsConnected());
  uint8_t block[64];
  EXPECT_FALSE(ScsiReadMemory(scsi(), 0, block));
  EXPECT_FALSE(BackWithin(50));
  EXPECT_FALSE(BackWithin(50, Face::kUsb));
}

}  // namespace
}  // namespace omr72::emu
