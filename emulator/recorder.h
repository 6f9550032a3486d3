// The emulated recorder: its memories, identity and comings and goings, independent of the face
// (USB boot loader or disk) through which a request arrives. Both faces translate their requests
// into these operations, so a flow that crosses routes sees one consistent device.
// The rules it follows (restart faces, re-plug, what each fault does) are written down in one
// place, docs/RECORDER_MODEL.md.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"
#include "wire/byte_order.h"
#include "wire/recorder_wire.h"

namespace omr72::emu {

constexpr uint32_t kMcuFlashSize = 0x10000;
constexpr uint32_t kMcuPageSize = wire::kMcuPageSize;
constexpr uint32_t kMcuBlockSize = wire::kMcuChunkSize;
constexpr uint32_t kFlashImageRegion = wire::kMcuPageCount * wire::kMcuPageSize;
constexpr uint16_t kVersionAddress = wire::kDeviceInfoAddress;
constexpr uint16_t kModelTagAddress = wire::kDeviceInfoAddress + 2;
constexpr uint16_t kSerialAddress = wire::kSerialAddress;
constexpr uint16_t kBootGuardPage = wire::kBootLoaderPageAddress;
constexpr uint32_t kBootLoaderVersionOffset = 0x1000;

constexpr uint32_t kNandPageBytes = wire::kNandPageSize;
constexpr uint32_t kNandBlockPages = wire::kNandPagesPerBlock;
constexpr uint32_t kNandBlockSize = kNandPageBytes * kNandBlockPages;

constexpr uint32_t kDiskPageSize = 2048;
constexpr uint32_t kDiskPageCount = 0x00040000;
constexpr uint16_t kDiskPagesPerBlock = 64;

constexpr size_t kSerialRecordSize = wire::kSerialRecordSize;
constexpr size_t kSerialFlashBytes = wire::kSerialTextSize;
constexpr size_t kFlashParamsBytes = wire::kFlashParamsSize;
constexpr size_t kInquiryStandardBytes = wire::kInquiryTemplate.size();

// The two flash reads that identify the recorder: the serial number a recorder without working
// firmware shows, and the device-information block with the model tag.
inline bool IsIdentificationAddress(uint16_t address) {
  return address == kSerialAddress || address == kVersionAddress;
}

constexpr int kRestartPolls = 3;  // presence polls a restart takes without latency
constexpr int kReplugPolls = 5;   // disk polls after which a user re-plugs a USB-only recorder
constexpr std::chrono::milliseconds kRealisticRestart{1500};

// Where the recorder can be seen. kBoth: found by both presence tests.
enum class Face { kNone, kUsb, kDisk, kBoth };

// What made the recorder restart: a request through one of its faces, or its power going away
// and coming back (a user re-plugging it, an unplug fault).
enum class RestartCause { kPowerCycle, kUsbRequest, kDiskRequest };

using SerialRecord = std::array<uint8_t, kSerialRecordSize>;
using ModelTag = std::array<uint8_t, 5>;
using FlashParamsRecord = std::array<uint8_t, kFlashParamsBytes>;

class Recorder {
 public:
  Recorder(const RecorderConfig& config, const KnownImages& images);

  // --- Presence -------------------------------------------------------------------------------
  Face face() const { return face_; }
  bool OnUsb() const { return face_ == Face::kUsb || face_ == Face::kBoth; }
  bool OnDisk() const { return face_ == Face::kDisk || face_ == Face::kBoth; }
  int drive() const { return drive_; }
  int usbName() const { return usbName_; }
  // Changes whenever the recorder leaves the bus: a handle opened before is dead afterwards.
  uint32_t epoch() const { return epoch_; }
  // The host reports every open of a device path here; slot 0 starts every scan, so an open
  // of ezusb-0 or PHYSICALDRIVE0 is one presence poll.
  void NoteUsbOpen(int slot);
  void NoteDiskOpen(int drive);
  // A presence poll that opens nothing (a client outside the process asking for the status):
  // counts like an open of PHYSICALDRIVE0.
  void NotePresencePoll();
  // A request through the recorder's USB face: someone talks to it over USB, so no user would
  // re-plug it.
  void NoteUsbRequest() { replugPolls_ = 0; }
  // Called after every change of face or restart count.
  void SetChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }
  // Leave both faces and decide at once how the recorder will come back (the rule is in
  // docs/RECORDER_MODEL.md).
  void Restart(RestartCause cause = RestartCause::kPowerCycle);
  // The unplug fault: a power cycle whose return takes the configured number of polls.
  void Unplug();
  int restarts() const { return restarts_; }
  // The face the recorder will come back on (kNone when it never will); its current face
  // while it is present.
  Face returnFace() const;

  // --- Microcontroller flash --------------------------------------------------------------------
  void ReadMcu(uint16_t address, uint8_t* out, size_t length) const;
  void ProgramMcu(uint16_t address, const uint8_t* data, size_t length);
  void EraseMcuPage(uint16_t address);
  const std::array<uint8_t, kMcuFlashSize>& mcuFlash() const { return flash_; }

  // --- NAND block 0 -----------------------------------------------------------------------------
  // A set-up opens a transfer of pageCount whole pages from firstPage; false for pages outside
  // block 0. A new set-up replaces an unfinished transfer.
  bool OpenNandTransfer(bool write, uint32_t firstPage, uint32_t pageCount);
  // The bulk pipes of the open transfer; false when no transfer of that kind is open.
  bool NandRead(uint8_t* out, uint32_t maxLength, uint32_t& moved);
  bool NandWrite(const uint8_t* data, uint32_t length, uint32_t& moved);
  void EraseNandBlock(uint32_t firstPage);
  uint8_t nandEraseStatus() const { return nandEraseStatus_; }
  // The verdict request: the byte to answer, or nullopt when the request fails.
  std::optional<uint8_t> BootBlockVerdict();
  const std::vector<uint8_t>& nand() const { return nand_; }
  bool bootBlockAccepted() const { return bootBlockAccepted_; }

  // --- Disk pages -------------------------------------------------------------------------------
  void ReadDiskPage(uint32_t page, uint32_t offset, uint8_t* out, size_t length) const;
  // `count` whole pages from `first` on, back to back; one walk through the store.
  void ReadDiskPages(uint32_t first, uint32_t count, uint8_t* out) const;
  void WriteDiskPage(uint32_t page, const uint8_t* data, size_t length);

  // --- Identity ---------------------------------------------------------------------------------
  // nullopt when the boot loader keeps silent.
  std::optional<uint16_t> BootLoaderVersionReply() const;
  uint16_t bootLoaderVersion() const { return bootLoaderVersion_; }
  std::optional<uint16_t> firmwareVersion() const { return firmwareVersion_; }
  const ModelTag& modelTag() const { return modelTag_; }
  const SerialRecord& serialRecord() const { return serial_; }
  // The first `length` bytes of the record arrive; the rest of it becomes NUL.
  void ReplaceSerialRecord(const uint8_t* data, size_t length);
  FlashParamsRecord FlashParams() const;
  bool FirmwareImageWritten() const;

 private:
  struct Arrival {
    Face face = Face::kNone;
    int polls = 0;                                                  // polls still to pass
    std::optional<std::chrono::steady_clock::time_point> deadline;  // instead of polls
    bool never = false;
  };
  struct NandTransfer {
    bool write = false;
    uint32_t firstPage = 0;
    std::vector<uint8_t> bytes;  // read: what is still to deliver; write: what has arrived
    uint32_t done = 0;
  };

  void InitialiseFlash(const RecorderConfig& config, const KnownImages& images);
  void InitialiseNand();
  void OnPoll();
  void DiskPoll();
  void Changed() {
    if (changed_) changed_();
  }
  void CheckDeadline();
  void Arrive();
  bool PageErased(uint16_t address) const;
  static Face BootLoaderFace(RestartCause cause, Face from);
  void DecideVersionsAtRestart(bool guardErased);
  void TakeBootBlock();

  const RecorderConfig config_;
  const KnownImages images_;

  std::array<uint8_t, kMcuFlashSize> flash_{};
  std::vector<uint8_t> nand_;
  // Disk pages in blocks of kDiskBlockPages, created on the first write into them with every
  // page blank: a run of pages is one copy, as a page-access command is.
  static constexpr uint32_t kDiskBlockPages = 32;
  using DiskBlock = std::array<uint8_t, kDiskBlockPages * kDiskPageSize>;
  const uint8_t* StoredDiskPage(uint32_t page) const;
  std::map<uint32_t, std::unique_ptr<DiskBlock>> diskBlocks_;  // by page / kDiskBlockPages
  std::optional<NandTransfer> transfer_;
  uint8_t nandEraseStatus_ = 0;
  bool bootBlockAccepted_ = false;

  uint16_t bootLoaderVersion_ = 0;
  std::optional<uint16_t> firmwareVersion_;
  ModelTag modelTag_{};
  SerialRecord serial_{};

  Face face_ = Face::kNone;
  Face lastFace_ = Face::kNone;  // the face it showed last, for a power cycle while away
  Arrival arrival_;
  int drive_ = 1;
  int usbName_ = 0;
  uint32_t epoch_ = 0;
  int restarts_ = 0;
  int replugPolls_ = 0;
  std::function<void()> changed_;
};

// "M.m" in plain decimal, the way the recorder's versions are shown.
std::string VersionText(uint16_t version);

}  // namespace omr72::emu
