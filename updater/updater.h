// One run of the firmware updater: start-up, the connection wait, the update procedure and the
// firmware replacement. This is the only part of the program that prints.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "images/image_store.h"
#include "images/payload_set.h"
#include "platform/platform.h"
#include "scsilink/scsi_link.h"
#include "updater/dialogue.h"
#include "updater/recorder_route.h"
#include "wire/recorder_wire.h"

namespace omr72 {

inline constexpr char kInstanceMutexName[] = "DictumMicaR72";
inline constexpr size_t kSerialBufferSize = 22;

using SerialBuffer = std::array<uint8_t, kSerialBufferSize>;
using DeviceInfoBlock = std::array<uint8_t, wire::kMcuChunkSize>;

// What the run has learnt of the recorder and the images.
struct Updater {
  bool diagnostic = false;
  std::string modulePath;
  uint16_t bootLoaderVersion = 0;
  uint16_t installedFirmwareVersion = 0;
  uint16_t newFirmwareVersion = 0;
  uint16_t requiredBootLoaderVersion = 0;
  SerialBuffer serial{};
  DeviceInfoBlock deviceInfo{};
};

// What the update procedure works with: the recorder on the chosen route, the recorder as a
// disk (where it comes back after a boot-loader upgrade and where its firmware is replaced),
// the images, the dialogue and the run's state.
struct Procedure {
  RecorderRoute& route;
  ScsiLink& disk;
  RestartWait& restart;
  ImageStore& images;
  Dialogue& dialogue;
  Updater& updater;
};

// The program from start to end; returns the exit code: 1 only when another recorder
// application holds the instance lock, 2 when the command line or the payloads given with
// --payloads are refused (before anything starts), 0 otherwise.
int RunProgram(Platform& platform, int argc, char** argv,
               ArgumentConvention convention = ArgumentConvention::kPosix);

// The payloads given with --payloads, read and judged before anything starts. False, after one
// line on stderr naming the file and the reason, when they cannot be used. Payloads that are
// the samples are used, after one line that says so.
bool LoadGivenPayloads(ProgramModule& module, const std::string& path, PayloadSet& out,
                       const std::string& programName);

// True only for the single argument "diag" (besides a --payloads option).
bool IsDiagnosticArgumentList(int argc, char** argv);

// The update procedure on the chosen route, through the firmware replacement.
void RunUpdateProcedure(const Procedure& procedure);

// The firmware replacement, always over the disk link.
struct FirmwareReplacement {
  ScsiLink& disk;
  RestartWait& restart;
  const ImageStore& images;
  Dialogue& dialogue;
  Updater& updater;
};
void RunFirmwareReplacement(const FirmwareReplacement& replacement);

// The serial-number repair on its own: returns whether the serial is to be sent, and updates
// `serial` in place when a 'W' is inserted.
bool RepairSerialNumber(SerialBuffer& serial, uint16_t installedFirmwareVersion,
                        uint16_t newFirmwareVersion);

// The serial text as it is shown: bytes outside printable ASCII become '?'.
std::string PrintableSerial(const SerialBuffer& serial);

}  // namespace omr72
