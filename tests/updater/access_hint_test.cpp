// The permission hint: which denials it speaks of, that it is said once on stderr, and that
// standard output sees exactly the transcript it sees without it.
#include "updater/access_hint.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"
#include "emulator/scripted_console.h"
#include "platform/native.h"
#include "updater/updater.h"

namespace omr72 {
namespace {

const AccessDenial kDisk{"/dev/sg3"};
const AccessDenial kRecorderUsb{"/dev/bus/usb/001/004", 0x10C4, 0x4512};
const AccessDenial kOtherUsb{"/dev/bus/usb/001/005", 0x0781, 0x5567};
const AccessDenial kSameVendorUsb{"/dev/bus/usb/001/006", 0x10C4, 0xEA60};

TEST(AccessHintText, SpeaksOfDisksAndOfTheRecordersUsbDeviceOnly) {
  const struct {
    std::vector<AccessDenial> denials;
    std::string names;  // the node the hint names; empty: no hint
  } cases[] = {
      {{}, ""},
      {{kOtherUsb}, ""},
      {{kSameVendorUsb}, ""},
      {{kDisk}, "/dev/sg3 (a USB disk"},
      {{kRecorderUsb}, "boot-loader device /dev/bus/usb/001/004."},
      {{kOtherUsb, kRecorderUsb, kDisk}, "/dev/bus/usb/001/004."},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> text = AccessHintText(c.denials);
    ASSERT_EQ(text.has_value(), !c.names.empty()) << c.names;
    if (!text) continue;
    EXPECT_NE(text->find(c.names), std::string::npos) << *text;
    EXPECT_NE(text->find("70-omr72-recorder.rules"), std::string::npos) << *text;
    EXPECT_EQ(text->back(), '\n');
  }
}

// The emulated host's routes, reporting the same denials after every scan, as a backend does
// while the node stays closed to this user.
struct DenyingUsb : UsbDriver {
  DenyingUsb(UsbDriver& inner, std::vector<AccessDenial> denials)
      : inner(inner), denials(std::move(denials)) {}
  std::unique_ptr<UsbDevice> Open(const char* path) override { return inner.Open(path); }
  std::vector<AccessDenial> TakeAccessDenials() override { return denials; }
  UsbDriver& inner;
  std::vector<AccessDenial> denials;
};

struct DenyingDisk : ScsiPassThrough {
  DenyingDisk(ScsiPassThrough& inner, std::vector<AccessDenial> denials)
      : inner(inner), denials(std::move(denials)) {}
  std::unique_ptr<ScsiDrive> Open(const char* name) override { return inner.Open(name); }
  std::vector<AccessDenial> TakeAccessDenials() override { return denials; }
  ScsiPassThrough& inner;
  std::vector<AccessDenial> denials;
};

struct Outputs {
  std::string out, err;
};

// No recorder anywhere: the connection wait, a few polls, then Esc.
Outputs WaitWithDenials(std::vector<AccessDenial> usb, std::vector<AccessDenial> disk) {
  emu::RecorderConfig config;
  config.route = emu::StartRoute::kNone;
  emu::EmulatedHost host(config, emu::KnownImages{});
  DenyingUsb usbDriver(host.usb(), std::move(usb));
  DenyingDisk passThrough(host.scsi(), std::move(disk));
  emu::ScriptedConsole console("\x1B");
  emu::EmulatedLock lock;
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  SteadyClock clock;
  Platform platform{usbDriver, passThrough, lock, console, host.sleeper(), *module, clock};
  char name[] = "omr72-updater";
  char* argv[] = {name, nullptr};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgram(platform, 1, argv), 0);
  Outputs run{console.output(), ::testing::internal::GetCapturedStderr()};
  // This test program carries the sample payloads, which the updater names first.
  const size_t notice = run.err.find("omr72-updater: this build carries the sample payloads");
  if (notice == 0) run.err.erase(0, run.err.find('\n') + 1);
  return run;
}

TEST(AccessHint, SaidOnceOnStderrWhileStandardOutputKeepsItsTranscript) {
  const Outputs plain = WaitWithDenials({}, {});
  EXPECT_EQ(plain.err, "");
  const Outputs denied = WaitWithDenials({kOtherUsb, kRecorderUsb}, {kDisk});
  EXPECT_EQ(denied.out, plain.out);
  EXPECT_EQ(denied.err, *AccessHintText({kDisk}));  // the disk route is scanned first
  EXPECT_EQ(WaitWithDenials({kOtherUsb}, {}).err, "");
}

}  // namespace
}  // namespace omr72
