// Emulated host, any OS: real sleeps come from the standard library.
#include "emulator/timing.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace omr72::emu {

uint32_t TransferMs(uint32_t bytes) {
  const uint32_t ms = static_cast<uint32_t>(uint64_t{bytes} * kBulkMsPer16K / 16384);
  return ms == 0 ? 1 : ms;
}

void DeviceTiming::Spend(uint32_t milliseconds) {
  if (!realistic_) return;
  spentMs_ += milliseconds;
  const auto now = std::chrono::steady_clock::now();
  const auto done = now - lateBy_ + std::chrono::milliseconds(milliseconds);
  if (done > now) std::this_thread::sleep_until(done);
  lateBy_ =
      std::max(std::chrono::steady_clock::now() - done, std::chrono::steady_clock::duration{});
}

void DeviceTiming::Wait(uint32_t milliseconds) const {
  if (!realistic_ || milliseconds == 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace omr72::emu
