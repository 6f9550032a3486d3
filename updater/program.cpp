#include <cstdio>
#include <cstring>

#include "images/payload_check.h"
#include "updater/access_hint.h"
#include "updater/command_line.h"
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

// A build that carries the samples refuses every real recorder, and says so only after the
// two confirmations; the owner learns it here, before anything starts.
void NoteEmbeddedSamples(ProgramModule& module, const std::string& modulePath,
                         const std::string& programName) {
  std::vector<uint8_t> firmware(kImageSize);
  if (!module.LoadRcData(modulePath, "FWC", firmware.data(), firmware.size())) return;
  if (!IsSamplePayload("FWC", firmware)) return;
  std::fprintf(stderr,
               "%s: this build carries the sample payloads, not recorder firmware: it refuses "
               "every real recorder; give the maker's updater with --payloads PATH\n",
               programName.c_str());
}

}  // namespace

bool LoadGivenPayloads(ProgramModule& module, const std::string& path, PayloadSet& out,
                       const std::string& programName) {
  if (auto problem = ReadPayloadSet(module, path, out)) {
    std::fprintf(stderr, "%s: %s: %s; nothing was sent to any device\n", programName.c_str(),
                 problem->file.c_str(), problem->reason.c_str());
    return false;
  }
  const PayloadReport report = JudgePayloads(out);
  if (!report.doubts.empty()) {
    std::string reasons;
    for (const PayloadProblem& doubt : report.doubts) {
      reasons += (reasons.empty() ? "" : "; ") + doubt.file + ": " + doubt.reason;
    }
    std::fprintf(stderr, "%s: not Orlo Mica R72 firmware: %s; nothing was sent to any device\n",
                 programName.c_str(), reasons.c_str());
    return false;
  }
  if (report.samples) {
    std::fprintf(stderr,
                 "%s: %s holds the sample payloads, not recorder firmware: every real recorder "
                 "is refused as incompatible\n",
                 programName.c_str(), path.c_str());
  }
  return true;
}

bool IsDiagnosticArgumentList(int argc, char** argv) {
  return ParseCommandLine(argc, argv, ArgumentConvention::kWindows).diagnostic;
}

int RunProgram(Platform& platform, int argc, char** argv, ArgumentConvention convention) {
  const char* argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  const std::string programName = ProgramName(argv0);
  const CommandLine line = ParseCommandLine(argc, argv, convention);
  if (!line.refusal.empty()) {
    std::fprintf(stderr, "%s: %s\n", programName.c_str(), line.refusal.c_str());
    return 2;
  }
  if (line.help) {
    std::fputs(kUpdaterUsage, stdout);
    return 0;
  }
  if (line.version) {
    std::printf("%s %s\n", programName.c_str(), OMR72_VERSION);
    return 0;
  }
  const std::string modulePath = platform.module.Path(argv0);
  // The images come from the payloads given, when given, exactly as they would from the
  // program's own resources.
  PayloadSet given;
  ProgramModule* imageModule = &platform.module;
  if (line.payloads) {
    if (!LoadGivenPayloads(platform.module, *line.payloads, given, programName)) return 2;
    imageModule = &given;
  } else {
    NoteEmbeddedSamples(platform.module, modulePath, programName);
  }
  Dialogue dialogue(platform.console);
  Updater updater;
  updater.modulePath = modulePath;
  updater.diagnostic = line.diagnostic;

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
  ImageStore images(*imageModule, modulePath);
  RestartWait restart(platform.sleeper, platform.clock, dialogue.Status());
  RunUpdateProcedure({*route, disk, restart, images, dialogue, updater});
  return 0;
}

}  // namespace omr72
