// Emulated host, any OS: wires one recorder, its two faces and the foreign devices together.
#include "emulator/emulated_host.h"

#include "emulator/emulated_pass_through.h"
#include "emulator/emulated_usb.h"
#include "emulator/host_context.h"
#include "emulator/state_json.h"

namespace omr72::emu {

HostContext::HostContext(const RecorderConfig& config, const KnownImages& images)
    : recorder(config, images),
      trace(config.failCommands, config.shortCommands),
      timing(config.realisticLatency) {
  for (int drive : config.foreignDisks) {
    if (drive >= 0 && drive < kHostSlots) foreignDisks[drive];
  }
  for (int slot : config.foreignUsb) {
    if (slot >= 0 && slot < kHostSlots) foreignUsb[slot];
  }
}

struct EmulatedHost::Impl {
  Impl(const RecorderConfig& config, const KnownImages& images)
      : host(config, images), usb(host), scsi(host), sleeper(host.timing) {}

  HostContext host;
  EmulatedUsbDriver usb;
  EmulatedPassThrough scsi;
  EmulatedSleeper sleeper;
};

EmulatedHost::EmulatedHost(RecorderConfig config, KnownImages images)
    : impl_(std::make_unique<Impl>(config, images)) {}

EmulatedHost::~EmulatedHost() = default;

UsbDriver& EmulatedHost::usb() {
  return impl_->usb;
}

ScsiPassThrough& EmulatedHost::scsi() {
  return impl_->scsi;
}

Sleeper& EmulatedHost::sleeper() {
  return impl_->sleeper;
}

void EmulatedHost::SetTraceSink(std::function<void(const std::string&)> sink) {
  impl_->host.trace.SetSink(std::move(sink));
}

const std::vector<std::string>& EmulatedHost::trace() const {
  return impl_->host.trace.lines();
}

std::string EmulatedHost::StateJson() const {
  return RecorderStateJson(impl_->host.recorder);
}

Recorder& EmulatedHost::recorder() {
  return impl_->host.recorder;
}

uint64_t EmulatedHost::ModelledDeviceMs() const {
  const HostContext& host = impl_->host;
  if (!host.timing.realistic()) return 0;
  // A restart counts once the recorder is back: the last one of an update runs on after the
  // program has ended, and nothing waited for it.
  const Recorder& recorder = host.recorder;
  const int pending = recorder.restarts() > 0 && recorder.face() == Face::kNone ? 1 : 0;
  const auto restartMs = static_cast<uint64_t>(kRealisticRestart.count());
  return host.timing.spentMs() + restartMs * static_cast<uint64_t>(recorder.restarts() - pending);
}

const std::vector<ForeignDiskEntry>* EmulatedHost::ForeignDiskLog(int drive) const {
  const auto it = impl_->host.foreignDisks.find(drive);
  return it == impl_->host.foreignDisks.end() ? nullptr : &it->second;
}

const std::vector<ForeignUsbEntry>* EmulatedHost::ForeignUsbLog(int slot) const {
  const auto it = impl_->host.foreignUsb.find(slot);
  return it == impl_->host.foreignUsb.end() ? nullptr : &it->second;
}

}  // namespace omr72::emu
