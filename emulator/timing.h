// How long the emulated devices take. Without latency nothing waits, so scripted runs are
// fast; with realistic latency commands spend what a real recorder spends, in real sleeps.
#pragma once

#include <chrono>
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
  // Time the recorder spends on a request; added up, as the device time of the run. The OS
  // wakes a sleeper late, and that lateness is the model's, not the host's: the next request
  // is shortened by it, so that a run's wall time exceeds its device time only by what the
  // host itself takes.
  void Spend(uint32_t milliseconds);
  // Time the host waits of its own accord; not device time.
  void Wait(uint32_t milliseconds) const;
  // The device time spent so far, in milliseconds (0 without latency).
  uint64_t spentMs() const { return spentMs_; }

 private:
  bool realistic_;
  uint64_t spentMs_ = 0;
  std::chrono::steady_clock::duration lateBy_{};
};

class EmulatedSleeper : public Sleeper {
 public:
  explicit EmulatedSleeper(const DeviceTiming& timing) : timing_(timing) {}
  void SleepMs(uint32_t milliseconds) override { timing_.Wait(milliseconds); }

 private:
  const DeviceTiming& timing_;
};

}  // namespace omr72::emu
