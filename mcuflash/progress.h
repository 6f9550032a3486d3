// How a long device operation tells its caller how far it has got, so that whoever talks to
// the user can show it; the device code itself prints nothing.
#pragma once

#include <cstdint>
#include <functional>

namespace omr72 {

enum class ProgressStage : uint8_t {
  kWrite,   // pages written
  kVerify,  // pages read back and compared
};

// Called after each step: `done` of `total` steps of `stage`. May be empty.
using ProgressCallback = std::function<void(ProgressStage stage, uint32_t done, uint32_t total)>;

}  // namespace omr72
