// The restart rule and the recorder's comings and goings, driven through the real links.
#include <functional>
#include <string>

#include "tests/emulator/emulator_fixture.h"

namespace omr72::emu {
namespace {

using Action = std::function<void(EmulatorTest&, const KnownImages&)>;

struct RestartCase {
  const char* name;
  StartRoute route;
  Action before;   // what the host does before the restart
  Action restart;  // the request that restarts the recorder
  Face back;
  uint16_t bootLoader;
  std::optional<uint16_t> firmware;
  bool firmwareWritten;
};

void Nothing(EmulatorTest&, const KnownImages&) {}

using RestartRule = EmulatorTest;

TEST_F(RestartRule, GuardPageAndFlashDecideFaceAndVersions) {
  auto eraseOnDisk = [](EmulatorTest& t, const KnownImages&) {
    ASSERT_TRUE(t.scsi().IsConnected());
    ASSERT_TRUE(ScsiEraseFlashPage(t.scsi(), 0x200));
  };
  auto eraseOnUsb = [](EmulatorTest& t, const KnownImages&) {
    uint8_t reply[2];
    ASSERT_TRUE(UsbEraseFlashPage(t.usb(), 0x200, reply));
  };
  auto writeBootLoader = [](EmulatorTest& t, const KnownImages& im) {
    ASSERT_TRUE(t.scsi().IsConnected());
    ASSERT_TRUE(ScsiWriteMcuFlash(t.scsi(), im.bootLoaders[0].data()));
  };
  auto writeFirmware = [](EmulatorTest& t, const KnownImages& im) {
    ASSERT_TRUE(t.scsi().IsConnected());
    ASSERT_TRUE(ScsiWriteMcuFlash(t.scsi(), im.firmware.data()));
  };
  auto writeFirmwareThenErase = [&](EmulatorTest& t, const KnownImages& im) {
    writeFirmware(t, im);
    ASSERT_TRUE(ScsiEraseFlashPage(t.scsi(), 0x200));
  };
  auto scsiRestart = [](EmulatorTest& t, const KnownImages&) {
    ASSERT_TRUE(t.scsi().IsConnected());
    ASSERT_TRUE(ScsiRestart(t.scsi()));
  };
  auto scsiCommand6 = [](EmulatorTest& t, const KnownImages&) {
    ASSERT_TRUE(t.scsi().IsConnected());
    ASSERT_TRUE(ScsiServiceCommand6(t.scsi()));
  };
  auto usbRestart = [](EmulatorTest& t, const KnownImages&) { ASSERT_TRUE(UsbRestart(t.usb())); };

  const RestartCase cases[] = {
      {"erased guard on disk stays a disk", StartRoute::kDisk, eraseOnDisk, scsiRestart,
       Face::kDisk, 0x0100, 0x0105, false},
      {"erased guard on USB stays on USB", StartRoute::kUsb, eraseOnUsb, usbRestart, Face::kUsb,
       0x0100, 0x0105, false},
      {"erased guard on both faces comes back on USB", StartRoute::kBoth, eraseOnDisk, scsiRestart,
       Face::kUsb, 0x0100, 0x0105, false},
      {"USB with intact guard comes back as a disk", StartRoute::kUsb, Nothing, usbRestart,
       Face::kDisk, 0x0100, 0x0105, false},
      {"sub-command 6 restarts like 13", StartRoute::kDisk, Nothing, scsiCommand6, Face::kDisk,
       0x0100, 0x0105, false},
      {"a written boot loader reports its version", StartRoute::kDisk, writeBootLoader, scsiRestart,
       Face::kDisk, kImageBootLoader, 0x0105, false},
      {"written firmware reports its version", StartRoute::kDisk, writeFirmware, scsiRestart,
       Face::kDisk, 0x0100, kImageFirmware, true},
      {"firmware behind an erased guard is not started", StartRoute::kDisk, writeFirmwareThenErase,
       scsiRestart, Face::kDisk, 0x0100, 0x0105, false},
  };
  for (const RestartCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderConfig config;
    config.route = c.route;
    Start(config);
    c.before(*this, images());
    c.restart(*this, images());
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

TEST_F(RestartRule, WrittenFirmwareBringsItsModelTag) {
  Start(RecorderConfig{});
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiWriteMcuFlash(scsi(), images().firmware.data()));
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_EQ(std::string(recorder().modelTag().begin(), recorder().modelTag().end()), "R72QX");
}

TEST_F(RestartRule, AttachAfterKeepsTheRecorderAwayForThatManyPolls) {
  RecorderConfig config;
  config.attachAfter = 4;
  config.route = StartRoute::kUsb;
  Start(config);
  for (int poll = 1; poll <= 2; ++poll) EXPECT_FALSE(usb().IsConnected());
  for (int poll = 3; poll <= 4; ++poll) EXPECT_FALSE(scsi().IsConnected());
  EXPECT_TRUE(usb().IsConnected());
  EXPECT_EQ(recorder().restarts(), 0);
}

TEST_F(RestartRule, NoRecorderAndNoReturnNeverAppear) {
  RecorderConfig none;
  none.route = StartRoute::kNone;
  Start(none);
  EXPECT_FALSE(DiskBackWithin(50));
  EXPECT_FALSE(UsbBackWithin(50));

  RecorderConfig gone;
  gone.noReturn = true;
  Start(gone);
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_FALSE(DiskBackWithin(50));
  EXPECT_FALSE(UsbBackWithin(50));
  EXPECT_EQ(recorder().returnFace(), Face::kNone);
  EXPECT_EQ(recorder().restarts(), 1);
}

TEST_F(RestartRule, DiskPollsReplugARecorderStuckOnUsb) {
  RecorderConfig config;
  config.route = StartRoute::kUsb;
  Start(config);
  for (int i = 0; i < kReplugPolls - 1; ++i) EXPECT_FALSE(scsi().IsConnected());
  ASSERT_TRUE(usb().IsConnected());  // someone still talks to it over USB: count again
  for (int i = 0; i < kReplugPolls - 1; ++i) EXPECT_FALSE(scsi().IsConnected());
  EXPECT_EQ(recorder().restarts(), 0);
  EXPECT_FALSE(scsi().IsConnected());
  EXPECT_EQ(recorder().restarts(), 1);
  EXPECT_EQ(recorder().returnFace(), Face::kDisk);
  EXPECT_TRUE(DiskBackWithin(kRestartPolls + 1));
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
  ASSERT_TRUE(DiskBackWithin(kRestartPolls));
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
  ASSERT_TRUE(DiskBackWithin(kRestartPolls + 1));
  uint8_t block[64];
  ScsiRequest request;
  request.cdb = BuildServiceAddressCdb(10, 0);
  request.buffer = block;
  request.length = 64;
  uint8_t status = 0x55;
  EXPECT_FALSE(old->Execute(request, status));
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
  EXPECT_FALSE(DiskBackWithin(kRestartPolls * 4));
  bool back = false;
  for (int i = 0; i < 200 && !back; ++i) {
    host().sleeper().SleepMs(25);
    back = scsi().IsConnected();
  }
  EXPECT_TRUE(back);
}

}  // namespace
}  // namespace omr72::emu
