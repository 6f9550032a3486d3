// libFuzzer target: the whole updater against a hostile recorder. The input chooses the
// recorder (route, versions, serial) and then twists the replies to the program's requests.
// Built twice: with the keys "n" it stops after identification (OMR72_FUZZ_IDENTIFY), with
// "YLY" it goes through the upgrade and the firmware replacement.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "emulator/emulated_host.h"
#include "emulator/scripted_console.h"
#include "platform/native.h"
#include "tests/fuzz/hostile_host.h"
#include "tools/sim/simulation.h"
#include "updater/updater.h"

namespace omr72::fuzz {
namespace {

#ifdef OMR72_FUZZ_IDENTIFY
constexpr char kKeys[] = "n";
#else
constexpr char kKeys[] = "YLY";
#endif

// Everything the program prints is its own ASCII text; a byte outside printable ASCII can
// only have come from a device.
class CheckedConsole : public Console {
 public:
  explicit CheckedConsole(std::string keys) : inner_(std::move(keys)) {}
  bool KeyWaiting() override { return inner_.KeyWaiting(); }
  int ReadRawKey() override { return inner_.ReadRawKey(); }
  void Write(std::string_view text) override {
    for (unsigned char c : text) {
      if ((c >= 0x20 && c < 0x7F) || c == '\n' || c == '\r') continue;
      std::fprintf(stderr, "console: byte 0x%02X from a device reached the console\n", c);
      std::abort();
    }
  }

 private:
  emu::ScriptedConsole inner_;
};

// Emulated time does not pass: the waits' hints are for terminals, which these runs are not.
class StoppedClock : public Clock {
 public:
  uint64_t NowMs() override { return 0; }
};

ProgramModule& Module() {
  static std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
  return *module;
}

const emu::KnownImages& Images() {
  static const emu::KnownImages images =
      sim::ReadKnownImages(Module(), Module().Path("omr72-fuzz"));
  return images;
}

uint16_t PickVersion(FuzzedDataProvider& in, std::initializer_list<uint16_t> usual) {
  const size_t pick = in.ConsumeIntegralInRange<size_t>(0, usual.size());
  if (pick < usual.size()) return *(usual.begin() + pick);
  return in.ConsumeIntegral<uint16_t>();
}

emu::RecorderConfig RecorderFrom(FuzzedDataProvider& in) {
  emu::RecorderConfig config;
  static const emu::StartRoute kRoutes[] = {emu::StartRoute::kDisk, emu::StartRoute::kUsb,
                                            emu::StartRoute::kBoth};
  config.route = kRoutes[in.ConsumeIntegralInRange<size_t>(0, 2)];
  config.bootLoaderVersion = PickVersion(in, {0x0100, 0x0005, 0x0200, 0});
  config.bootLoaderSilent = in.ConsumeBool();
  const uint16_t firmware = PickVersion(in, {0x0105, 0x020A, 0});
  if (firmware != 0) config.firmwareVersion = firmware;
  if (firmware == 0) config.firmwareVersion.reset();
  config.drive = 1;
  config.usbName = 1;
  config.foreignDisks = {0};
  config.foreignUsb = {0};
  config.realisticLatency = false;
  if (in.ConsumeBool()) config.serial = in.ConsumeRandomLengthString(20);
  return config;
}

}  // namespace
}  // namespace omr72::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace omr72;
  FuzzedDataProvider input(data, size);
  emu::EmulatedHost host(fuzz::RecorderFrom(input), fuzz::Images());
  fuzz::HostileHost hostile(host.usb(), host.scsi(), input);
  fuzz::HostileUsbDriver usb(hostile);
  fuzz::HostilePassThrough scsi(hostile);
  fuzz::CheckedConsole console(fuzz::kKeys);
  emu::EmulatedLock lock;
  fuzz::StoppedClock clock;
  Platform platform{usb, scsi, lock, console, host.sleeper(), fuzz::Module(), clock};
  char program[] = "omr72-fuzz";
  char* argv[] = {program, nullptr};
  try {
    RunProgram(platform, 1, argv);
  } catch (const fuzz::HostileHost::Stop&) {
    // A wait that would not end, or a run past the request bound: stopped, not a finding.
  }
  return 0;
}
