// One run of the unchanged updater against the emulated host and recorder.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator/emulated_host.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "tools/sim/sim_options.h"

namespace omr72::sim {

// What the emulated recorder needs to know of the program's own images.
emu::KnownImages ReadKnownImages(ProgramModule& module, const std::string& modulePath);

class Simulation {
 public:
  // `realisticLatency` is the resolved latency choice.
  Simulation(const SimOptions& options, bool realisticLatency, emu::KnownImages images);

  emu::EmulatedHost& host() { return *host_; }

  // Runs the updater with argv[0] = `programName` and the options' program arguments; returns
  // the updater's exit code.
  int Run(const std::string& programName, Console& console, InstanceLock& lock,
          ProgramModule& module);

 private:
  // Without latency nothing really waits, so the run's time is the time its pauses stand for:
  // a recorder that never comes back keeps the updater waiting for emulated seconds at once.
  // Once no device has been asked anything for kIdleAfterMs of emulated time, the wait is one
  // that may never end, and its pauses are really slept: it then costs no more than on a
  // terminal instead of a whole core.
  class PausedTime : public Sleeper, public Clock {
   public:
    static constexpr uint64_t kIdleAfterMs = 20000;
    explicit PausedTime(Sleeper& host) : host_(host) {}
    void SleepMs(uint32_t milliseconds) override {
      host_.SleepMs(milliseconds);
      nowMs_ += milliseconds;
      if (nowMs_ - lastCommandMs_ > kIdleAfterMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      }
    }
    uint64_t NowMs() override { return nowMs_; }
    void NoteCommand() { lastCommandMs_ = nowMs_; }

   private:
    Sleeper& host_;
    uint64_t nowMs_ = 0;
    uint64_t lastCommandMs_ = 0;
  };

  const SimOptions options_;
  const bool realisticLatency_;
  std::unique_ptr<emu::EmulatedHost> host_;
  std::unique_ptr<PausedTime> pausedTime_;
  SteadyClock steadyClock_;
};

}  // namespace omr72::sim
