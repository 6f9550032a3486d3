// omr72-bench-update DEVICE_TIME_FILE [omr72-sim OPTION]... : one run of omr72-sim's code (the
// updater against the emulated recorder, keys from standard input) that afterwards writes the
// modelled device time in milliseconds to DEVICE_TIME_FILE, so that the benchmark can set the
// run's wall time beside the time a real recorder would have needed.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "tools/sim/simulation.h"

int main(int argc, char** argv) {
  using namespace omr72;
  if (argc < 2) {
    std::fputs("usage: omr72-bench-update DEVICE_TIME_FILE [omr72-sim OPTION]...\n", stderr);
    return 2;
  }
  const std::string deviceTimeFile = argv[1];
  // The options as omr72-sim sees them: argv[0] followed by everything after the file name.
  std::vector<char*> simArgv = {argv[0]};
  simArgv.insert(simArgv.end(), argv + 2, argv + argc);
  sim::SimOptions options;
  if (auto error =
          sim::ParseSimOptions(static_cast<int>(simArgv.size()), simArgv.data(), options)) {
    std::fprintf(stderr, "omr72-bench-update: %s\n", error->c_str());
    return 2;
  }
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  std::unique_ptr<Console> console = NativePlatform::MakeConsole();
  std::unique_ptr<InstanceLock> lock = NativePlatform::MakeInstanceLock();
  const std::string programName = argv[0];
  sim::Simulation simulation(options, options.realisticLatency.value_or(true),
                             sim::ReadKnownImages(*module, module->Path(programName.c_str())));
  const int exitCode = simulation.Run(programName, *console, *lock, *module);
  std::ofstream(deviceTimeFile, std::ios::trunc) << simulation.host().ModelledDeviceMs() << '\n';
  return exitCode;
}
