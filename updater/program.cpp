#include <cstring>

#include "updater/access_hint.h"
#include "updater/messages.h"
#include "updater/updater.h"

namespace omr72 {
namespace {

bool AnyRecorderPresent(Session& s) {
  return s.scsi.IsConnected() || s.usb.IsConnected();
}

// Polls both routes, disk first, until a recorder answers or the user presses Esc.
// A node the scans may not open gets one hint on stderr (AccessHint).
void WaitForConnection(Session& s) {
  AccessHint hint(stderr);
  if (AnyRecorderPresent(s)) return;
  s.dialogue.Print("%s", messages::kDeviceNotConnected);
  hint.Check(s.platform);
  for (;;) {
    if (s.scsi.IsConnected()) return;
    if (s.usb.IsConnected()) return;
    hint.Check(s.platform);
    if (s.dialogue.KeyWaiting() && s.dialogue.ReadKey() == kKeyEsc) return;
    s.platform.sleeper.SleepMs(1);
  }
}

}  // namespace

bool IsDiagnosticArgumentList(int argc, char** argv) {
  return argc == 2 && argv[1] != nullptr && std::strcmp(argv[1], "diag") == 0;
}

int RunProgram(Platform& platform, int argc, char** argv) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  const std::string modulePath = platform.module.Path(argv0);
  Session s(platform, modulePath);
  s.updater.modulePath = modulePath;
  s.updater.diagnostic = IsDiagnosticArgumentList(argc, argv);

  s.dialogue.Print("%s", messages::kBanner);
  if (platform.lock.Acquire(kInstanceMutexName) == LockResult::kAlreadyExists) {
    s.dialogue.Print("%s", messages::kCloseOtherApplications);
    s.dialogue.ErrorEnding();
    return 1;
  }
  s.usb.SetDeviceIds(kRecorderVendorId, kRecorderProductId);

  WaitForConnection(s);
  // The selection asks the USB route first: a recorder seen on both is updated over USB.
  if (s.usb.IsConnected()) {
    s.updater.route = Route::kUsb;
  } else if (s.scsi.IsConnected()) {
    s.updater.route = Route::kDisk;
  } else {
    return 0;
  }
  RunUpdateProcedure(s);
  return 0;
}

}  // namespace omr72
