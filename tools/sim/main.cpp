// omr72-sim: the firmware updater against an emulated recorder, with the real console.
#include <cstdio>
#include <memory>

#include "images/payload_set.h"
#include "platform/native.h"
#include "platform/terminal.h"
#include "tools/sim/sim_output.h"
#include "tools/sim/simulation.h"

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
  sim::SimOutput output(options);
  if (auto error = output.Open()) {
    std::fprintf(stderr, "omr72-sim: %s\n", error->c_str());
    return 2;
  }

  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  std::unique_ptr<Console> console = NativePlatform::MakeConsole();
  std::unique_ptr<InstanceLock> lock = NativePlatform::MakeInstanceLock();
  const std::string programName = argc > 0 ? argv[0] : "omr72-sim";
  const bool realistic = options.realisticLatency.value_or(StandardInputIsTerminal());

  // The recorder knows the payloads the updater is given. Payloads that cannot be read are
  // the updater's to refuse, before anything reaches the emulated devices.
  PayloadSet given;
  const bool useGiven = options.payloads && !ReadPayloadSet(*module, *options.payloads, given);
  ProgramModule& images = useGiven ? static_cast<ProgramModule&>(given) : *module;
  sim::Simulation simulation(options, realistic,
                             sim::ReadKnownImages(images, module->Path(programName.c_str())));
  output.Attach(simulation.host());
  const int exitCode = simulation.Run(programName, *console, *lock, *module);
  if (auto error = output.Finish(simulation.host())) {
    std::fprintf(stderr, "omr72-sim: %s\n", error->c_str());
    return exitCode == 0 ? 2 : exitCode;
  }
  return exitCode;
}
