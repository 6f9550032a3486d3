#include <cstring>

#include "updater/access_hint.h"
#include "updater/messages.h"
#include "updater/updater.h"

namespace omr72 {
namespace {

// Polls both routes, disk first, until a recorder answers or the user presses Esc.
// A node the scans may not open gets one hint on stderr (AccessHint).
void WaitForConnection(UsbLink& usb, ScsiLink& disk, Dialogue& dialogue, Platform& platform) {
  AccessHint hint(stderr);
  if (disk.IsConnected() || usb.IsConnected()) return;
  dialogue.Print("%s", messages::kDeviceNotConnected);
  hint.Check(platform);
  for (;;) {
    if (disk.IsConnected()) return;
    if (usb.IsConnected()) return;
    hint.Check(platform);
    if (dialogue.KeyWaiting() && dialogue.ReadKey() == kKeyEsc) return;
    platform.sleeper.SleepMs(1);
  }
}

}  // namespace

bool IsDiagnosticArgumentList(int argc, char** argv) {
  return argc == 2 && argv[1] != nullptr && std::strcmp(argv[1], "diag") == 0;
}

int RunProgram(Platform& platform, int argc, char** argv) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  const std::string modulePath = platform.module.Path(argv0);
  Dialogue dialogue(platform.console);
  Updater updater;
  updater.modulePath = modulePath;
  updater.diagnostic = IsDiagnosticArgumentList(argc, argv);

  dialogue.Print("%s", messages::kBanner);
  if (platform.lock.Acquire(kInstanceMutexName) == LockResult::kAlreadyExists) {
    dialogue.Print("%s", messages::kCloseOtherApplications);
    dialogue.ErrorEnding();
    return 1;
  }
  UsbLink usb(platform.usb);
  ScsiLink disk(platform.scsi);
  usb.SetDeviceIds(wire::kRecorderVendorId, wire::kRecorderProductId);

  WaitForConnection(usb, disk, dialogue, platform);
  // The selection asks the USB route first: a recorder seen on both is updated over USB.
  std::unique_ptr<RecorderRoute> route;
  if (usb.IsConnected()) {
    route = MakeUsbRoute(usb);
  } else if (disk.IsConnected()) {
    route = MakeDiskRoute(disk);
  } else {
    return 0;
  }
  ImageStore images(platform.module, modulePath);
  RestartWait restart(platform.sleeper, platform.clock, dialogue.Status());
  RunUpdateProcedure({*route, disk, restart, images, dialogue, updater});
  return 0;
}

}  // namespace omr72
