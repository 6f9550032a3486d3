// A monotonic clock in milliseconds, for the updater to tell how long it has been waiting.
#pragma once

#include <chrono>
#include <cstdint>

namespace omr72 {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes back.
  virtual uint64_t NowMs() = 0;
};

// The C++ library's steady clock, the same on every host.
class SteadyClock final : public Clock {
 public:
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
};

}  // namespace omr72
