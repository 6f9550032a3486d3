// One swept run: the unchanged updater against the emulated host, with a tap on every device
// open that ends a restart wait after a bound, and the rules checked afterwards.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"

namespace omr72::sweep {

enum class Outcome { kEnded, kWaited, kBroke };

struct RunSpec {
  std::string flow;                  // the flow's name, for reports
  std::vector<std::string> options;  // omr72-sim options: the flow's recorder and the fault
  std::string keys = "YLY";
};

struct RunResult {
  Outcome outcome = Outcome::kBroke;
  std::string label;  // the ending, the wait, or the rules broken
  size_t commands = 0;
};

struct SweepLimits {
  size_t waitOpens = 4000;  // device opens without a command or text: a restart wait
  size_t runawayCommands = 20000;
};

RunResult RunOne(const RunSpec& spec, const emu::KnownImages& images, const SweepLimits& limits);

}  // namespace omr72::sweep
