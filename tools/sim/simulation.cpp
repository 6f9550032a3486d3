#include "tools/sim/simulation.h"

#include <csignal>

#include "images/image_store.h"
#include "updater/updater.h"

namespace omr72::sim {

emu::KnownImages ReadKnownImages(ProgramModule& module, const std::string& modulePath) {
  emu::KnownImages known;
  ImageStore store(module, modulePath);
  if (!store.LoadFirmwareImage()) return known;
  known.firmware.assign(store.FirmwareImage(), store.FirmwareImage() + kImageSize);
  // One boot-loader image of each generation: BRC20 for 1.0 and later, BRC before.
  for (uint16_t installed : {uint16_t{0x0100}, uint16_t{0x0001}}) {
    if (!store.LoadBootLoaderImage(installed)) continue;
    known.bootLoaders.emplace_back(store.BootLoaderImage(), store.BootLoaderImage() + kImageSize);
  }
  return known;
}

// The test's moment: it sees the process stopped, sends what it wants to, and resumes it.
void PauseForTest() {
#ifdef SIGSTOP
  std::raise(SIGSTOP);
#endif
}

Simulation::Simulation(const SimOptions& options, bool realisticLatency, emu::KnownImages images)
    : options_(options), realisticLatency_(realisticLatency) {
  emu::RecorderConfig config = options.recorder;
  config.realisticLatency = realisticLatency;
  host_ = std::make_unique<emu::EmulatedHost>(config, std::move(images));
  pausedTime_ = std::make_unique<PausedTime>(host_->sleeper());
  host_->SetCommandHook([this, at = options.pauseAt](int command) {
    pausedTime_->NoteCommand();
    if (at && command == *at) PauseForTest();
  });
}

int Simulation::Run(const std::string& programName, Console& console, InstanceLock& lock,
                    ProgramModule& module) {
  std::vector<std::string> arguments = {programName};
  arguments.insert(arguments.end(), options_.programArguments.begin(),
                   options_.programArguments.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  Sleeper& sleeper = realisticLatency_ ? host_->sleeper() : *pausedTime_;
  Clock& clock = realisticLatency_ ? static_cast<Clock&>(steadyClock_) : *pausedTime_;
  Platform platform{host_->usb(), host_->scsi(), lock, console, sleeper, module, clock};
  return RunProgram(platform, static_cast<int>(arguments.size()), argv.data());
}

}  // namespace omr72::sim
