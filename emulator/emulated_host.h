// The emulated host: nine USB device objects and nine drives, one emulated recorder that can
// sit on either route, foreign devices, a trace of every request that reaches a device, and
// faults on request. It stands behind the same platform interfaces as the real OS backends.
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
};

// What the emulated recorder knows of the program's images, so that it can tell a boot loader
// from firmware when either is written into its microcontroller flash.
struct KnownImages {
  std::vector<uint8_t> firmware;                  // descrambled firmware image
  std::vector<std::vector<uint8_t>> bootLoaders;  // assembled boot-loader images
};

class Recorder;

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
  // Trace lines so far, in the --trace format.
  const std::vector<std::string>& trace() const;
  // The recorder's state as one JSON object (the --state format), without a line end.
  std::string StateJson() const;

  Recorder& recorder();

  // The time a real recorder would have spent so far, in milliseconds: its requests and the
  // restarts it is back from, under realistic latency; 0 without latency.
  uint64_t ModelledDeviceMs() const;

  // What a foreign device has received, in order; nullptr when there is none at that slot.
  const std::vector<ForeignDiskEntry>* ForeignDiskLog(int drive) const;
  const std::vector<ForeignUsbEntry>* ForeignUsbLog(int slot) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace omr72::emu
