// How long the emulated devices take. Without latency nothing waits, so scripted runs are
// fast; with realistic latency commands spend what a real recorder spends, in real sleeps.
#pragma once

#include <cstdint>

#include "platform/sleeper.h"

namespace omr72::emu {

constexpr uint32_t kCommandMs = 1;
constexpr uint32_t kEraseMs = 10;
constexpr uint32_t kChunkMs = 2;
constexpr uint32_t kBulkMsPer16K = 5;

// Time a data phase of `bytes` takes on the bus, at least one millisecond.
uint32_t TransferMs(uint32_t bytes);

class DeviceTiming {
 public:
  explicit DeviceTiming(bool realistic) : realistic_(realistic) {}
  bool realistic() const { return realistic_; }
  void Spend(uint32_t milliseconds) const;

 private:
  bool realistic_;
};

class EmulatedSleeper : public Sleeper {
 public:
  explicit EmulatedSleeper(const DeviceTiming& timing) : timing_(timing) {}
  void SleepMs(uint32_t milliseconds) override { timing_.Spend(milliseconds); }

 private:
  const DeviceTiming& timing_;
};

}  // namespace omr72::emu
