// The recorder as a USB disk: one SCSI command per operation through the host's pass-through
// interface, on the drive that the last scan identified. Nothing here prints.
#pragma once

#include <array>
#include <cstdint>

#include "platform/scsi_pass_through.h"
#include "wire/recorder_wire.h"

namespace omr72 {

// The 40-byte record of service sub-command 3; after a successful read the fields at offsets
// 1 (u32), 11 (u16) and 14 (u16, the page size) are in host order.
using FlashParams = std::array<uint8_t, wire::kFlashParamsSize>;

class ScsiLink {
 public:
  explicit ScsiLink(ScsiPassThrough& passThrough) : passThrough_(passThrough) {}

  // One command on the drive that the last scan identified. Refused (false, nothing sent)
  // while no scan has identified the recorder, so no command ever reaches another disk.
  bool Execute(const Cdb& cdb, DataStage data);
  // INQUIRY on the currently named drive; true when it is the recorder.
  bool Identify();
  // Scan drives 0..8; on success the link names the recorder's drive.
  bool IsConnected();

  const char* DeviceName() const { return deviceName_.data(); }
  char DriveDigit() const { return deviceName_[kDigitIndex]; }

  // The last flash-parameter record read (see ScsiGetFlashParams).
  FlashParams flashParams{};

 private:
  static constexpr size_t kDigitIndex = 17;
  bool ExecuteOnNamedDrive(const Cdb& cdb, DataStage data);

  ScsiPassThrough& passThrough_;
  std::array<char, 19> deviceName_{'\\', '\\', '.', '\\', 'P', 'H', 'Y', 'S', 'I', 'C',
                                   'A',  'L',  'D', 'R',  'I', 'V', 'E', 'x', '\0'};
  bool identified_ = false;
};

}  // namespace omr72
