// What the two faces of the emulated host share: the one recorder, the trace, the timing and
// the foreign devices with their logs.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "emulator/emulated_host.h"
#include "emulator/foreign_devices.h"
#include "emulator/recorder.h"
#include "emulator/timing.h"
#include "emulator/trace.h"

namespace omr72::emu {

constexpr int kHostSlots = 9;  // ezusb-0..8 and PHYSICALDRIVE0..8

struct HostContext {
  HostContext(const RecorderConfig& config, const KnownImages& images);

  Recorder recorder;
  Trace trace;
  DeviceTiming timing;
  std::map<int, std::vector<ForeignDiskEntry>> foreignDisks;  // by drive digit
  std::map<int, std::vector<ForeignUsbEntry>> foreignUsb;     // by ezusb-N
  uint64_t hostCommands = 0;  // commands the host OS sent by itself (EmulatedHost::hostCommands)
};

}  // namespace omr72::emu
