// omr72-sim: the firmware updater against an emulated recorder, with the real console.
#include <cstdio>
#include <fstream>
#include <memory>

#include "platform/native.h"
#include "platform/terminal.h"
#include "tools/sim/simulation.h"

namespace {

bool WriteStateFile(const std::string& path, const std::string& json) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << json << '\n';
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace omr72;
  sim::SimOptions options;
  if (auto error = sim::ParseSimOptions(argc, argv, options)) {
    std::fprintf(stderr, "omr72-sim: %s\n", error->c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(sim::kSimUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("omr72-sim %s\n", OMR72_VERSION);
    return 0;
  }
  std::ofstream trace;
  if (options.traceFile) {
    trace.open(*options.traceFile, std::ios::binary | std::ios::trunc);
    if (!trace) {
      std::fprintf(stderr, "omr72-sim: cannot write the trace file %s\n",
                   options.traceFile->c_str());
      return 2;
    }
  }

  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  std::unique_ptr<Console> console = NativePlatform::MakeConsole();
  std::unique_ptr<InstanceLock> lock = NativePlatform::MakeInstanceLock();
  const std::string programName = argc > 0 ? argv[0] : "omr72-sim";
  const bool realistic = options.realisticLatency.value_or(StandardInputIsTerminal());

  sim::Simulation simulation(options, realistic,
                             sim::ReadKnownImages(*module, module->Path(programName.c_str())));
  // Both files are kept current as the run goes, so that a run ended from outside (one waiting
  // for a recorder that never comes back, say) still leaves its trace and the state it got to.
  emu::EmulatedHost& host = simulation.host();
  if (trace.is_open() || options.stateFile) {
    host.SetTraceSink([&](const std::string& line) {
      if (trace.is_open()) {
        trace << line << '\n';
        trace.flush();
      }
      if (options.stateFile) WriteStateFile(*options.stateFile, host.StateJson());
    });
  }
  if (options.stateFile) WriteStateFile(*options.stateFile, host.StateJson());
  const int exitCode = simulation.Run(programName, *console, *lock, *module);
  if (options.stateFile && !WriteStateFile(*options.stateFile, host.StateJson())) {
    std::fprintf(stderr, "omr72-sim: cannot write the state file %s\n", options.stateFile->c_str());
  }
  return exitCode;
}
