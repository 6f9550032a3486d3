// One run of the unchanged updater against the emulated host and recorder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"
#include "platform/platform.h"
#include "tools/sim/sim_options.h"

namespace omr72::sim {

// What the emulated recorder needs to know of the program's own images.
emu::KnownImages ReadKnownImages(ProgramModule& module, const std::string& modulePath);

class Simulation {
 public:
  // `realisticLatency` is the resolved latency choice.
  Simulation(const SimOptions& options, bool realisticLatency, emu::KnownImages images);

  emu::EmulatedHost& host() { return *host_; }

  // Runs the updater with argv[0] = `programName` and the options' program arguments; returns
  // the updater's exit code.
  int Run(const std::string& programName, Console& console, InstanceLock& lock,
          ProgramModule& module);

 private:
  const SimOptions options_;
  std::unique_ptr<emu::EmulatedHost> host_;
};

}  // namespace omr72::sim
