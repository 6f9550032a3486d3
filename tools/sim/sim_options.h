// The command line of omr72-sim: the emulated recorder and host, faults and output files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"

namespace omr72::sim {

struct SimOptions {
  emu::RecorderConfig recorder;
  std::optional<std::string> traceFile;
  std::optional<std::string> stateFile;
  std::optional<std::string> payloads;        // also handed to the updater as --payloads
  std::optional<bool> realisticLatency;       // unset: realistic when standard input is a terminal
  std::vector<std::string> programArguments;  // handed to the updater after argv[0]
  std::optional<int> pauseAt;  // test hook: the process stops itself after this command
  bool help = false;
  bool version = false;
};

// Parses argv[1..]. Returns an error text (one line, no line end) for a bad option or value.
std::optional<std::string> ParseSimOptions(int argc, const char* const* argv, SimOptions& out);

extern const char kSimUsage[];
// The options that configure the emulated recorder, its faults and the output files: the part
// of the usage text that omr72-recorder shares.
extern const char kSimModelOptionsHelp[];

}  // namespace omr72::sim
