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
      timing(config.realisticLatency),
      fuzz(config.replyFuzzSeed),
      unplugAt(config.unplugAt) {
  for (int drive : config.foreignDisks) {
    if (drive >= 0 && drive < kHostSlots) foreignDisks[drive];
  }
  for (int slot : config.foreignUsb) {
    if (slot >= 0 && slot < kHostSlots) foreignUsb[slot];
  }
}

// Just before the traced request with that number, once.
void HostContext::BeforeTracedRequest() {
  if (unplugAt <= 0 || trace.next() != unplugAt) return;
  unplugAt = 0;
  recorder.Unplug();
}

uint8_t ReplyFuzz::Next() {
  if (left_ == 0) {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    bits_ = z ^ (z >> 31);
    left_ = 8;
  }
  --left_;
  const uint8_t byte = static_cast<uint8_t>(bits_);
  bits_ >>= 8;
  return byte;
}

void ReplyFuzz::Fill(uint8_t* data, size_t length) {
  if (!on_) return;
  for (size_t i = 0; i < length; ++i) data[i] = Next();
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

void EmulatedHost::SetCommandHook(std::function<void(int)> hook) {
  impl_->host.trace.SetCommandHook(std::move(hook));
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

void EmulatedHost::SetStateChangeSink(std::function<void()> sink) {
  impl_->host.recorder.SetChangeListener(std::move(sink));
}

// The poll comes first: it may be the one that brings the recorder back. A foreign device at
// the recorder's own slot is hidden while the recorder is there.
HostStatus EmulatedHost::PollStatus() {
  Recorder& r = impl_->host.recorder;
  r.NotePresencePoll();
  HostStatus status;
  status.usbSlot = r.OnUsb() ? r.usbName() : -1;
  status.diskDrive = r.OnDisk() ? r.drive() : -1;
  status.epoch = r.epoch();
  for (const auto& [slot, log] : impl_->host.foreignUsb) {
    if (slot != status.usbSlot) status.foreignUsbMask |= static_cast<uint16_t>(1u << slot);
  }
  for (const auto& [drive, log] : impl_->host.foreignDisks) {
    if (drive != status.diskDrive) status.foreignDiskMask |= static_cast<uint16_t>(1u << drive);
  }
  return status;
}

bool EmulatedHost::ExecuteHostCommand(int drive, uint32_t epoch, const HostCommand& command,
                                      uint8_t& scsiStatus, uint32_t& moved) {
  return emu::ExecuteHostCommand(impl_->host, drive, epoch, command, scsiStatus, moved);
}

uint64_t EmulatedHost::hostCommands() const {
  return impl_->host.hostCommands;
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
  return it == impl_->host.foreignDisks.end() ? nullptr : &it->second.entries;
}

const std::vector<ForeignUsbEntry>* EmulatedHost::ForeignUsbLog(int slot) const {
  const auto it = impl_->host.foreignUsb.find(slot);
  return it == impl_->host.foreignUsb.end() ? nullptr : &it->second.entries;
}

uint64_t EmulatedHost::ForeignDiskPresenceRequests(int drive) const {
  const auto it = impl_->host.foreignDisks.find(drive);
  return it == impl_->host.foreignDisks.end() ? 0 : it->second.presenceRequests;
}

uint64_t EmulatedHost::ForeignUsbPresenceRequests(int slot) const {
  const auto it = impl_->host.foreignUsb.find(slot);
  return it == impl_->host.foreignUsb.end() ? 0 : it->second.presenceRequests;
}

}  // namespace omr72::emu
