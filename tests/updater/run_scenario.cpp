#include "tests/updater/run_scenario.h"

#include <gtest/gtest.h>

#include <memory>

#include "emulator/scripted_console.h"
#include "platform/native.h"
#include "tools/sim/simulation.h"

namespace omr72::testing {

ScenarioResult RunScenario(const std::vector<std::string>& arguments, const std::string& keys,
                           LockResult lock, ProgramModule* updaterModule, bool onTerminal) {
  std::vector<const char*> argv = {"omr72-sim"};
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  sim::SimOptions options;
  auto error = sim::ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options);
  EXPECT_FALSE(error) << *error;

  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  const std::string modulePath = module->Path("omr72-sim");
  sim::Simulation simulation(options, false, sim::ReadKnownImages(*module, modulePath));
  std::unique_ptr<emu::ScriptedConsole> console =
      onTerminal ? std::make_unique<TerminalConsole>(keys)
                 : std::make_unique<emu::ScriptedConsole>(keys);
  emu::EmulatedLock instanceLock(lock);

  ScenarioResult result;
  result.exitCode =
      simulation.Run("omr72-sim", *console, instanceLock, updaterModule ? *updaterModule : *module);
  result.output = console->output();
  result.trace = simulation.host().trace();
  result.state = simulation.host().StateJson();
  result.keysRead = console->keysRead();
  EXPECT_EQ(instanceLock.name(), "DictumMicaR72");
  return result;
}

size_t CountTrace(const ScenarioResult& result, const std::string& fragment) {
  size_t n = 0;
  for (const std::string& line : result.trace) n += line.find(fragment) != std::string::npos;
  return n;
}

}  // namespace omr72::testing
