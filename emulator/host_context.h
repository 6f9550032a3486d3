// What the two faces of the emulated host share: the one recorder, the trace, the timing and
// the foreign devices with their logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "emulator/emulated_host.h"
#include "emulator/foreign_devices.h"
#include "emulator/recorder.h"
#include "emulator/timing.h"
#include "emulator/trace.h"

namespace omr72::emu {

constexpr int kHostSlots = 9;  // ezusb-0..8 and PHYSICALDRIVE0..8

// Identification replies replaced by bytes of a seeded generator (splitmix64), so that a
// seed always gives the same run.
class ReplyFuzz {
 public:
  explicit ReplyFuzz(std::optional<uint64_t> seed)
      : on_(seed.has_value()), state_(seed.value_or(0)) {}
  bool on() const { return on_; }
  uint8_t Next();
  // Replaces `length` bytes when fuzzing is on.
  void Fill(uint8_t* data, size_t length);

 private:
  bool on_;
  uint64_t state_;
  uint64_t bits_ = 0;
  int left_ = 0;
};

struct HostContext {
  HostContext(const RecorderConfig& config, const KnownImages& images);

  // Called before every request that will be traced: the unplug fault acts here.
  void BeforeTracedRequest();

  Recorder recorder;
  Trace trace;
  DeviceTiming timing;
  std::map<int, ForeignLog<ForeignDiskEntry>> foreignDisks;  // by drive digit
  std::map<int, ForeignLog<ForeignUsbEntry>> foreignUsb;     // by ezusb-N
  uint64_t hostCommands = 0;
  ReplyFuzz fuzz;
  int unplugAt = 0;  // commands the host OS sent by itself (EmulatedHost::hostCommands)
};

}  // namespace omr72::emu
