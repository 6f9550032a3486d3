// One run of the firmware updater: start-up, the connection wait, the update procedure and the
// firmware replacement. This is the only part of the program that prints.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "images/image_store.h"
#include "platform/platform.h"
#include "scsilink/scsi_link.h"
#include "updater/dialogue.h"
#include "usblink/usb_link.h"

namespace omr72 {

inline constexpr char kInstanceMutexName[] = "DictumMicaR72";
inline constexpr uint16_t kSerialAddress = 0xDE00;
inline constexpr uint16_t kDeviceInfoAddress = 0x29F9;
inline constexpr uint16_t kBootLoaderPageAddress = 0x200;
inline constexpr uint16_t kFirstFlashPageBootLoader = 0x0100;  // 1.0
inline constexpr size_t kSerialBufferSize = 22;
inline constexpr size_t kSerialTextMax = 20;
inline constexpr size_t kMemoryBlockSize = 64;

enum class Route { kUsb, kDisk };

using SerialBuffer = std::array<uint8_t, kSerialBufferSize>;
using DeviceInfoBlock = std::array<uint8_t, kMemoryBlockSize>;

// The state of the one run.
struct Updater {
  bool diagnostic = false;
  std::string modulePath;
  Route route = Route::kDisk;
  uint16_t bootLoaderVersion = 0;
  uint16_t installedFirmwareVersion = 0;
  uint16_t newFirmwareVersion = 0;
  uint16_t requiredBootLoaderVersion = 0;
  SerialBuffer serial{};
  DeviceInfoBlock deviceInfo{};
};

// What a run works with: the platform, both links, the image store and the dialogue.
struct Session {
  Session(Platform& platform, std::string modulePath)
      : platform(platform),
        usb(platform.usb),
        scsi(platform.scsi),
        images(platform.module, std::move(modulePath)),
        dialogue(platform.console) {}

  Platform& platform;
  UsbLink usb;
  ScsiLink scsi;
  ImageStore images;
  Dialogue dialogue;
  Updater updater;
};

// The program from start to end; returns the exit code (1 only when another recorder
// application holds the instance lock).
int RunProgram(Platform& platform, int argc, char** argv);

// True only for the single argument "diag".
bool IsDiagnosticArgumentList(int argc, char** argv);

// The update procedure on the chosen route, through the firmware replacement.
void RunUpdateProcedure(Session& session);
void RunFirmwareReplacement(Session& session);

// Polls the disk route until the recorder has gone and then until it is back, however long
// that takes; a millisecond passes between polls.
void WaitForDiskRestart(Session& session);

// The serial-number repair on its own: returns whether the serial is to be sent, and updates
// `serial` in place when a 'W' is inserted.
bool RepairSerialNumber(SerialBuffer& serial, uint16_t installedFirmwareVersion,
                        uint16_t newFirmwareVersion);

// The serial text as it is shown: bytes outside printable ASCII become '?'.
std::string PrintableSerial(const SerialBuffer& serial);

}  // namespace omr72
