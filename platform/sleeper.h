#pragma once

#include <cstdint>

namespace omr72 {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void SleepMs(uint32_t milliseconds) = 0;
};

}  // namespace omr72
