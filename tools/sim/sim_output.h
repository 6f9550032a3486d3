// The --trace and --state files of omr72-sim and omr72-recorder, kept current as a run goes:
// a run ended from outside (one waiting for a recorder that never comes back, say) still
// leaves its trace and the state it got to.
#pragma once

#include <fstream>
#include <optional>
#include <string>

#include "emulator/emulated_host.h"
#include "tools/sim/sim_options.h"

namespace omr72::sim {

class SimOutput {
 public:
  explicit SimOutput(const SimOptions& options) : options_(options) {}

  // Creates the trace file; an error text (one line, no line end) when it cannot be written.
  std::optional<std::string> Open();
  // Writes a trace line per request and the state after every trace line and every change of
  // the recorder's face or restart count, and once now.
  void Attach(emu::EmulatedHost& host);
  // The state at the end of the run; an error text when it cannot be written.
  std::optional<std::string> Finish(const emu::EmulatedHost& host);

 private:
  void WriteState(const emu::EmulatedHost& host);

  const SimOptions options_;
  std::ofstream trace_;
};

}  // namespace omr72::sim
