#include "tests/sweep/sweep_run.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "emulator/recorder.h"
#include "emulator/scripted_console.h"
#include "platform/native.h"
#include "tests/sweep/live_memory.h"
#include "tests/sweep/sweep_judge.h"
#include "tools/sim/sim_options.h"
#include "updater/updater.h"

namespace omr72::sweep {
namespace {

constexpr uint8_t kInquiryOpcode = 0x12;

// Thrown from a device open to end a run the harness will not let go on.
struct RunStopped {
  bool runaway = false;
  std::string wait;  // which presence tests were polled, and where the recorder was
  bool memoryGrew = false;
};

const char* FaceName(emu::Face face) {
  switch (face) {
    case emu::Face::kUsb:
      return "on USB";
    case emu::Face::kDisk:
      return "on the disk route";
    case emu::Face::kBoth:
      return "on both routes";
    case emu::Face::kNone:
      break;
  }
  return "away";
}

// Watches one run: every open, every command and every console write.
class RunWatch {
 public:
  RunWatch(emu::EmulatedHost& host, const SweepLimits& limits) : host_(host), limits_(limits) {}

  void Output(std::string_view text) {
    events_.push_back({Event::Kind::kOutput, std::string(text)});
    Active();
  }

  void Command(const std::string& line) {
    events_.push_back({Event::Kind::kCommand, line});
    Active();
    if (++commands_ > limits_.runawayCommands) throw RunStopped{true, {}, false};
  }

  // Memory is compared at two opens of the same device, a whole number of polls apart, so
  // that the caller's own short-lived objects are the same at both.
  void Open(bool usb, const char* path) {
    (usb ? usbOpens_ : diskOpens_) = true;
    ++quietOpens_;
    if (quietOpens_ == limits_.waitOpens / 2) {
      usbOpens_ = diskOpens_ = false;
      pathAtHalf_ = path;
      memoryAtHalf_ = HeldMemory();
    }
    if (quietOpens_ < limits_.waitOpens || path != pathAtHalf_) return;
    const bool grew =
        LiveHeapCounted() && HeldMemory() != memoryAtHalf_;  // before the texts below take any
    const char* polled = usbOpens_ && diskOpens_ ? "USB and disk" : usbOpens_ ? "USB" : "disk";
    throw RunStopped{
        false, std::string("polls ") + polled + ", recorder " + FaceName(host_.recorder().face()),
        grew};
  }

  const std::vector<Event>& events() const { return events_; }
  size_t commands() const { return commands_; }

 private:
  void Active() { quietOpens_ = 0; }

  // The heap less what the foreign devices' logs hold: they log every presence test by design.
  size_t HeldMemory() const {
    size_t logs = 0;
    for (int slot = 0; slot < 9; ++slot) {
      if (auto* disk = host_.ForeignDiskLog(slot)) {
        logs += disk->capacity() * sizeof(emu::ForeignDiskEntry);
      }
      if (auto* usb = host_.ForeignUsbLog(slot))
        logs += usb->capacity() * sizeof(emu::ForeignUsbEntry);
    }
    return LiveHeapBytes() - logs;
  }

  emu::EmulatedHost& host_;
  const SweepLimits limits_;
  std::vector<Event> events_;
  size_t commands_ = 0;
  size_t quietOpens_ = 0;
  bool usbOpens_ = false;
  bool diskOpens_ = false;
  size_t memoryAtHalf_ = 0;
  std::string pathAtHalf_;
};

// Emulated time does not pass: the waits' hints are for terminals, which these runs are not.
class StoppedClock : public Clock {
 public:
  uint64_t NowMs() override { return 0; }
};

class TapUsb : public UsbDriver {
 public:
  TapUsb(UsbDriver& inner, RunWatch& watch) : inner_(inner), watch_(watch) {}
  std::unique_ptr<UsbDevice> Open(const char* path) override {
    watch_.Open(true, path);
    return inner_.Open(path);
  }

 private:
  UsbDriver& inner_;
  RunWatch& watch_;
};

class TapScsi : public ScsiPassThrough {
 public:
  TapScsi(ScsiPassThrough& inner, RunWatch& watch) : inner_(inner), watch_(watch) {}
  std::unique_ptr<ScsiDrive> Open(const char* name) override {
    watch_.Open(false, name);
    return inner_.Open(name);
  }

 private:
  ScsiPassThrough& inner_;
  RunWatch& watch_;
};

class TapConsole : public Console {
 public:
  TapConsole(std::string keys, RunWatch& watch) : inner_(std::move(keys)), watch_(watch) {}
  bool KeyWaiting() override { return inner_.KeyWaiting(); }
  int ReadRawKey() override { return inner_.ReadRawKey(); }
  void Write(std::string_view text) override {
    inner_.Write(text);
    watch_.Output(text);
  }
  const std::string& output() const { return inner_.output(); }

 private:
  emu::ScriptedConsole inner_;
  RunWatch& watch_;
};

std::vector<uint8_t> NandPageZero(emu::EmulatedHost& host) {
  const std::vector<uint8_t>& nand = host.recorder().nand();
  return {nand.begin(), nand.begin() + std::min<size_t>(nand.size(), emu::kNandPageBytes)};
}

void Broke(std::vector<std::string>& broken, std::string rule) {
  broken.push_back(std::move(rule));
}

void CheckForeignDevices(emu::EmulatedHost& host, std::vector<std::string>& broken) {
  for (int slot = 0; slot < 9; ++slot) {
    if (auto* disk = host.ForeignDiskLog(slot)) {
      for (const emu::ForeignDiskEntry& e : *disk) {
        if (e.cdb[0] == kInquiryOpcode && e.dataIn == kDataIn) continue;
        Broke(broken,
              "foreign disk " + std::to_string(slot) + " got opcode " + std::to_string(e.cdb[0]));
        break;
      }
    }
    if (auto* usb = host.ForeignUsbLog(slot)) {
      const bool other = std::any_of(usb->begin(), usb->end(), [](const emu::ForeignUsbEntry& e) {
        return e.kind != emu::ForeignUsbRequest::kDescriptor;
      });
      if (other) Broke(broken, "foreign USB device " + std::to_string(slot) + " got a request");
    }
  }
}

// Returns whether page 0 ended erased: allowed (a failed write of page 0 after the erase is
// not examined by the rewrite), but worth a note in the report.
bool CheckNandPageZero(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                       const std::vector<Event>& events, std::vector<std::string>& broken) {
  if (after == before) return false;
  if (FirstNandReadIncomplete(events)) {
    Broke(broken, "NAND page 0 changed after an incomplete first read");
    return false;
  }
  const bool erased = std::all_of(after.begin(), after.end(), [](uint8_t b) { return b == 0xFF; });
  if (!erased) Broke(broken, "NAND page 0 written with other contents");
  return erased;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

}  // namespace

RunResult RunOne(const RunSpec& spec, const emu::KnownImages& images, const SweepLimits& limits) {
  std::vector<const char*> argv = {"omr72-sim"};
  for (const std::string& option : spec.options) argv.push_back(option.c_str());
  sim::SimOptions options;
  if (auto error = sim::ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options)) {
    return {Outcome::kBroke, "bad options: " + *error, 0};
  }
  emu::RecorderConfig config = options.recorder;
  config.realisticLatency = false;
  emu::EmulatedHost host(config, images);
  const std::vector<uint8_t> pageZero = NandPageZero(host);

  RunWatch watch(host, limits);
  host.SetTraceSink([&watch](const std::string& line) { watch.Command(line); });
  TapUsb usb(host.usb(), watch);
  TapScsi scsi(host.scsi(), watch);
  TapConsole console(spec.keys, watch);
  emu::EmulatedLock lock;
  std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  StoppedClock clock;
  Platform platform{usb, scsi, lock, console, host.sleeper(), *module, clock};

  std::string program = "omr72-sim";
  std::vector<char*> programArgv = {program.data(), nullptr};
  std::optional<int> exitCode;
  std::optional<RunStopped> stopped;
  try {
    exitCode = RunProgram(platform, 1, programArgv.data());
  } catch (const RunStopped& stop) {
    stopped = stop;
  }

  std::vector<std::string> broken;
  RunResult result;
  result.commands = watch.commands();
  if (exitCode) {
    const std::optional<std::string> ending = DocumentedEnding(console.output());
    if (*exitCode != 0) Broke(broken, "exit code " + std::to_string(*exitCode));
    if (!ending) Broke(broken, "no documented ending");
    result.outcome = Outcome::kEnded;
    result.label = ending.value_or("");
  } else if (stopped->runaway) {
    Broke(broken, "more than " + std::to_string(limits.runawayCommands) + " commands");
  } else {
    const bool connectionWait = InConnectionWait(console.output());
    if (!InRestartWaitStage(console.output()) && !connectionWait) {
      Broke(broken, "waits outside a restart");
    }
    if (stopped->memoryGrew) Broke(broken, "memory grew during the wait");
    result.outcome = Outcome::kWaited;
    result.label = connectionWait ? "no recorder found: connection wait" : stopped->wait;
  }
  if (auto byte = UnprintableByte(console.output())) {
    Broke(broken, "byte " + std::to_string(*byte) + " from a device on the console");
  }
  if (auto writer = OkAfterFailedWriter(watch.events())) {
    Broke(broken, "OK after the " + *writer + " flash writer had a failed command");
  }
  CheckForeignDevices(host, broken);
  if (CheckNandPageZero(pageZero, NandPageZero(host), watch.events(), broken)) {
    result.label += " (NAND page 0 left erased)";
  }
  if (!broken.empty()) {
    result.outcome = Outcome::kBroke;
    result.label = Join(broken);
  }
  return result;
}

}  // namespace omr72::sweep
