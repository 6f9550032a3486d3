// The updater's command line. Without options it is the recorder tools' own: one optional
// word, and only a lone, exact "diag" counts; any other word means a normal run. Options:
// --payloads PATH everywhere; --help and --version on Linux, where any other argument that
// starts with "-" is refused.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace omr72 {

struct CommandLine {
  bool diagnostic = false;
  std::optional<std::string> payloads;
  bool help = false;
  bool version = false;
  std::string refusal;  // set: the command line is refused (one line, no line end)
};

CommandLine ParseCommandLine(int argc, char** argv, ArgumentConvention convention);

// The program's name as its messages begin: argv[0] without its folders.
std::string ProgramName(const char* argv0);

extern const char kUpdaterUsage[];

}  // namespace omr72
