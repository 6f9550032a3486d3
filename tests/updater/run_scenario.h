// Runs the updater in-process against the emulated recorder, the way omr72-sim does, with
// scripted keys.
#pragma once

#include <string>
#include <vector>

#include "emulator/scripted_console.h"
#include "platform/instance_lock.h"
#include "platform/program_module.h"

namespace omr72::testing {

// Scripted keys on a console that says it is a terminal.
class TerminalConsole : public emu::ScriptedConsole {
 public:
  using ScriptedConsole::ScriptedConsole;
  bool IsTerminal() const override { return true; }
};

struct ScenarioResult {
  int exitCode = -1;
  std::string output;
  std::vector<std::string> trace;
  std::string state;
  size_t keysRead = 0;
};

// `arguments` are omr72-sim's (options and program arguments); latency is always none.
// `module`, when given, is the program's own module the updater loads its images from (the
// recorder still knows the real images). `onTerminal`: the console says it is a terminal.
ScenarioResult RunScenario(const std::vector<std::string>& arguments, const std::string& keys,
                           LockResult lock = LockResult::kAcquired, ProgramModule* module = nullptr,
                           bool onTerminal = false);

// Trace lines that contain `fragment`.
size_t CountTrace(const ScenarioResult& result, const std::string& fragment);

}  // namespace omr72::testing
