#include <cstring>

#include "scsilink/service_commands.h"
#include "updater/messages.h"
#include "updater/updater.h"

namespace omr72 {
namespace {

constexpr size_t kMarkerIndex = 5;
constexpr size_t kPrefixLength = 5;

bool IsMarker(uint8_t byte) {
  return byte == 'W' || byte == 'X';
}

// Inserts 'W' as the sixth character. A text shorter than five characters comes back as it
// was: the copy back stops at the terminator that ends it within the first five bytes.
void InsertMarker(SerialBuffer& serial) {
  uint8_t work[kSerialBufferSize + 1] = {};
  const size_t textLength = strnlen(reinterpret_cast<const char*>(serial.data()), kPrefixLength);
  std::memcpy(work, serial.data(), textLength);
  work[kMarkerIndex] = 'W';
  // The tail from byte 5 up to and including its terminator; the buffer holds at most 20
  // characters here, so the tail is at most 16 bytes and ends inside `work`.
  size_t from = kMarkerIndex;
  size_t to = kMarkerIndex + 1;
  while (from < serial.size() && to < sizeof work) {
    work[to++] = serial[from];
    if (serial[from++] == 0) break;
  }
  const size_t copyLength = strnlen(reinterpret_cast<const char*>(work), serial.size() - 1);
  std::memcpy(serial.data(), work, copyLength);
  serial[copyLength] = 0;
}

}  // namespace

bool RepairSerialNumber(SerialBuffer& serial, uint16_t installedFirmwareVersion,
                        uint16_t newFirmwareVersion) {
  const bool sameMajor = (installedFirmwareVersion >> 8) == (newFirmwareVersion >> 8);
  const bool marked = IsMarker(serial[kMarkerIndex]);
  if (sameMajor && marked) return false;
  if (!marked) InsertMarker(serial);
  return true;
}

void RunFirmwareReplacement(const FirmwareReplacement& r) {
  Updater& u = r.updater;
  const auto present = [&] { return r.disk.IsConnected(); };
  r.dialogue.Print("%s", messages::kReplacingFirmware);
  ScsiEraseFlashPage(r.disk, wire::kBootLoaderPageAddress);
  ScsiRestart(r.disk);
  r.restart.Wait(present, present);
  const Dialogue::StopLines stop = {messages::kStoppedAfterFirmware,
                                    messages::kStoppedAfterFailedFirmware};
  if (!r.dialogue.Uninterrupted(stop, [&] {
        return ScsiWriteMcuFlash(r.disk, McuImage(r.images.FirmwareImage(), kMcuImageSize),
                                 ShowProgress(r.dialogue.Status()));
      })) {
    r.dialogue.Print("%s", messages::kFailed);
    r.dialogue.FinalEnding();
    return;
  }
  ScsiRestart(r.disk);
  r.restart.Wait(present, present);
  ScsiServiceCommand6(r.disk);
  r.restart.Wait(present, present);
  if (RepairSerialNumber(u.serial, u.installedFirmwareVersion, u.newFirmwareVersion)) {
    ScsiWriteSerialNumber(r.disk, SerialField(u.serial.data(), wire::kSerialRecordSize));
  }
  ScsiRestart(r.disk);
  r.dialogue.Print("%s", messages::kOk);
  r.dialogue.FinalEnding();
}

}  // namespace omr72
