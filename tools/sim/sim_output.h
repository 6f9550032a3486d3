// The --trace and --state files of omr72-sim and omr72-recorder, kept current as a run goes:
// a run ended from outside (one waiting for a recorder that never comes back, say) still
// leaves its trace and the state it got to. Both are checked before the run, and neither
// replaces what was at its path until it has a complete first version to put there.
#pragma once

#include <optional>
#include <string>

#include "emulator/emulated_host.h"
#include "tools/output/output_file.h"
#include "tools/sim/sim_options.h"

namespace omr72::sim {

class SimOutput {
 public:
  explicit SimOutput(const SimOptions& options) : options_(options) {}

  // Checks both files and starts the trace; an error text ("PATH: reason", one line, no line
  // end) when one cannot be written.
  std::optional<std::string> Open();
  // Writes a trace line per request and the state after every trace line and every change of
  // the recorder's face or restart count, and once now.
  void Attach(emu::EmulatedHost& host);
  // The state at the end of the run; an error text when a file could not be written.
  std::optional<std::string> Finish(const emu::EmulatedHost& host);

 private:
  void WriteState(const emu::EmulatedHost& host);
  void Note(std::optional<std::string> problem);

  const SimOptions options_;
  tools::GrowingFile trace_;
  std::optional<std::string> problem_;  // the first write that failed
};

}  // namespace omr72::sim
