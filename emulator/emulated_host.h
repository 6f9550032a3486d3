// The emulated host: nine USB device objects and nine drives, one emulated recorder that can
// sit on either route, foreign devices, a trace of every request that reaches a device, and
// faults on request. It stands behind the same platform interfaces as the real OS backends.
// Its rules: docs/RECORDER_MODEL.md; served to other processes by omr72-recorder
// (docs/RECORDER_PROTOCOL.md).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/foreign_devices.h"
#include "platform/scsi_pass_through.h"
#include "platform/sleeper.h"
#include "platform/usb_driver.h"

namespace omr72::emu {

enum class StartRoute { kUsb, kDisk, kBoth, kNone };
enum class Verdict { kAccept, kReject, kFail };

struct RecorderConfig {
  StartRoute route = StartRoute::kDisk;
  uint16_t bootLoaderVersion = 0x0100;               // 0: no boot loader
  bool bootLoaderSilent = false;                     // USB 0x24 and service 8 fail
  std::optional<uint16_t> firmwareVersion = 0x0105;  // nullopt: 0xC6 and service 3 fail
  std::string serial = "ABCDE12345";                 // at most 20 bytes
  std::optional<std::array<uint8_t, 5>> modelTag;    // default: the firmware image's tag
  int drive = 1;                                     // drive digit of the disk face
  int usbName = 0;                                   // N of ezusb-N of the USB face
  std::vector<int> foreignDisks;
  std::vector<int> foreignUsb;
  int attachAfter = 0;            // presence polls before the recorder appears
  std::vector<int> failCommands;  // traced commands (counted from 1) that fail
  bool noReturn = false;          // after its next restart the recorder never comes back
  Verdict verdict = Verdict::kAccept;
  bool corruptReadback = false;    // NAND read-back differs from what was written in one byte
  bool realisticLatency = false;   // device timing of a real recorder instead of none
  uint8_t nandEraseStatus = 0;     // status byte that every erase of block 0 reports
  std::vector<int> shortCommands;  // traced commands (counted from 1) that answer half the data
  // Drive digit and ezusb-N after the 1st, 2nd, ... restart (the last one sticks); empty: the
  // recorder keeps `drive` and `usbName`.
  std::vector<int> returnDrives;
  std::vector<int> returnUsbNames;
  int unplugAt = 0;     // the recorder leaves the bus just before this traced command (0: never)
  int replugAfter = 3;  // ... and comes back this many presence polls later
  std::optional<uint64_t> replyFuzzSeed;  // identification replies from a seeded generator
};

// What the emulated recorder knows of the program's images, so that it can tell a boot loader
// from firmware when either is written into its microcontroller flash.
struct KnownImages {
  std::vector<uint8_t> firmware;                  // descrambled firmware image
  std::vector<std::vector<uint8_t>> bootLoaders;  // assembled boot-loader images
};

class Recorder;

// What a client outside the process sees of the host at one moment (omr72-recorder's STATUS).
struct HostStatus {
  int usbSlot = -1;              // ezusb-N of the recorder's USB face; -1 while it is not on USB
  int diskDrive = -1;            // drive digit of its disk face; -1 while it is not a disk
  uint32_t epoch = 0;            // changes every time the recorder leaves the bus
  uint16_t foreignUsbMask = 0;   // bit N: a foreign USB device shows at ezusb-N
  uint16_t foreignDiskMask = 0;  // bit N: a foreign disk shows at drive N
};

// A disk command that the host's OS sends by itself (a kernel probing a new disk sends CDBs of
// 6, 10 or 12 bytes; the program's own commands are always 16 bytes long).
struct HostCommand {
  uint8_t dataIn = 1;
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 6;
  uint8_t* buffer = nullptr;
  uint32_t length = 0;
};

class EmulatedHost {
 public:
  EmulatedHost(RecorderConfig config, KnownImages images);
  ~EmulatedHost();
  EmulatedHost(const EmulatedHost&) = delete;
  EmulatedHost& operator=(const EmulatedHost&) = delete;

  UsbDriver& usb();
  ScsiPassThrough& scsi();
  // No-op without latency; real sleeping with realistic latency.
  Sleeper& sleeper();

  // Called with every trace line as it happens (for --trace FILE).
  void SetTraceSink(std::function<void(const std::string&)> sink);
  // Called with the number of every command that reached a device, once it is traced.
  void SetCommandHook(std::function<void(int)> hook);
  // Trace lines so far, in the --trace format.
  const std::vector<std::string>& trace() const;
  // The recorder's state as one JSON object (the --state format), without a line end.
  std::string StateJson() const;

  Recorder& recorder();

  // Called whenever the recorder's face or restart count changes: restarts and re-plugs inside
  // a wait write no trace line, yet a run ended from outside must leave its current state.
  void SetStateChangeSink(std::function<void()> sink);

  // One presence poll by a client that does not open slot 0 itself, and what it then sees.
  HostStatus PollStatus();
  // A command of the host's own to the disk at `drive` that was opened at recorder epoch
  // `epoch`: answered as a small disk would, counted, never traced and never a fault. False
  // when nothing answers there any more; `moved` is the data-in byte count.
  bool ExecuteHostCommand(int drive, uint32_t epoch, const HostCommand& command,
                          uint8_t& scsiStatus, uint32_t& moved);
  // How many such commands have arrived (deliberately not part of the state JSON).
  uint64_t hostCommands() const;
  // The time a real recorder would have spent so far, in milliseconds: its requests and the
  // restarts it is back from, under realistic latency; 0 without latency.
  uint64_t ModelledDeviceMs() const;

  // What a foreign device has received, in order; nullptr when there is none at that slot.
  // Repeated presence requests (INQUIRY, the device descriptor) appear once per run of equal
  // ones, and the log holds at most kForeignLogLimit entries.
  const std::vector<ForeignDiskEntry>* ForeignDiskLog(int drive) const;
  const std::vector<ForeignUsbEntry>* ForeignUsbLog(int slot) const;
  // How many presence requests a foreign device has answered (0 when there is none).
  uint64_t ForeignDiskPresenceRequests(int drive) const;
  uint64_t ForeignUsbPresenceRequests(int slot) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace omr72::emu
