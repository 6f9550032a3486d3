#include <algorithm>
#include <cstring>

#include "updater/messages.h"
#include "updater/updater.h"

namespace omr72 {
namespace {

int Major(uint16_t version) {
  return version >> 8;
}
int Minor(uint16_t version) {
  return version & 0xFF;
}

void ImageMissingEnding(Dialogue& dialogue, const char* resourceName) {
  dialogue.Print(messages::kImageMissing, resourceName);
  dialogue.ErrorEnding();
}

// The serial text: from the firmware when it answered, else from the recorder's memory.
void ReadSerial(RecorderRoute& route, Dialogue& dialogue, Updater& u) {
  u.serial.fill(0);
  if (u.installedFirmwareVersion != 0) {
    dialogue.Print(messages::kCurrentFirmwareVersion, Major(u.installedFirmwareVersion),
                   Minor(u.installedFirmwareVersion));
    route.ReadSerialNumber(SerialRecordSpan(u.serial.data(), wire::kSerialRecordSize));
  } else {
    dialogue.Print("%s", messages::kFirmwareVersionUnavailable);
    // The read is not checked, so the block starts out defined.
    std::array<uint8_t, wire::kMcuChunkSize> block = {};
    route.ReadMemory(wire::kSerialAddress, block);
    std::copy_n(block.begin(), wire::kSerialTextSize, u.serial.begin());
  }
  u.serial[wire::kSerialTextSize] = 0;
  dialogue.Print(messages::kSerialNumber, PrintableSerial(u.serial).c_str());
}

// The versions, the firmware image and the serial number. False when the run ends here.
bool Identify(RecorderRoute& route, ImageStore& images, Dialogue& dialogue, Updater& u) {
  dialogue.Print("%s", messages::kDeviceConnected);
  u.installedFirmwareVersion = route.ReadFirmwareVersion();
  u.bootLoaderVersion = route.ReadBootLoaderVersion();
  if (u.bootLoaderVersion == 0) {
    dialogue.Print("%s", messages::kBootLoaderNotFound);
    dialogue.ErrorEnding();
    return false;
  }
  dialogue.Print(messages::kCurrentBootLoaderVersion, Major(u.bootLoaderVersion),
                 Minor(u.bootLoaderVersion));
  if (!images.LoadFirmwareImage()) {
    ImageMissingEnding(dialogue, "FWC");
    return false;
  }
  u.newFirmwareVersion = images.NewFirmwareVersion();
  u.requiredBootLoaderVersion = images.RequiredBootLoaderVersion();
  ReadSerial(route, dialogue, u);
  return true;
}

bool Confirm(Dialogue& dialogue, const Updater& u) {
  dialogue.Print(messages::kPressYToLoad, Major(u.newFirmwareVersion), Minor(u.newFirmwareVersion));
  if (!IsYesKey(dialogue.ReadKey())) return false;
  dialogue.Print("%s", messages::kEraseWarning);
  dialogue.Print("%s", messages::kPressLToConfirm);
  return IsConfirmKey(dialogue.ReadKey());
}

// Refuses only a recorder whose tag starts with "R72" and differs from the image's tag.
bool IsCompatible(RecorderRoute& route, const ImageStore& images, Updater& u) {
  u.deviceInfo.fill(0);
  route.ReadMemory(wire::kDeviceInfoAddress, u.deviceInfo);
  const ModelTagBytes imageTag = images.ModelTag();
  const uint8_t* recorderTag = u.deviceInfo.data() + 2;
  if (std::equal(imageTag.begin(), imageTag.end(), recorderTag)) return true;
  if (std::memcmp(recorderTag, "R72", 3) != 0) return true;
  return u.diagnostic;
}

constexpr Dialogue::StopLines kBootLoaderStop = {messages::kStoppedAfterBootLoader,
                                                 messages::kStoppedAfterFailedBootLoader};

// Page by page on either route: with the guard page erased the restart keeps the recorder in
// its boot loader, which then takes the new one; the restart after it brings the recorder
// back as a disk.
bool UpgradeFlashPages(RecorderRoute& route, ScsiLink& disk, RestartWait& restart, McuImage image,
                       Dialogue& dialogue) {
  const auto present = [&] { return route.IsPresent(); };
  route.Flash().ErasePage(wire::kBootLoaderPageAddress);
  route.Restart();
  restart.Wait(present, present);
  if (!dialogue.Uninterrupted(kBootLoaderStop, [&] {
        return WriteMcuFlash(route.Flash(), image, ShowProgress(dialogue.Status()));
      }))
    return false;
  dialogue.Print("%s", messages::kOk);
  route.Restart();
  restart.Wait(present, [&] { return disk.IsConnected(); });
  return true;
}

bool UpgradeNandBlock(RecorderRoute& route, ScsiLink& disk, RestartWait& restart,
                      NandBootImage image, Dialogue& dialogue) {
  if (!dialogue.Uninterrupted(kBootLoaderStop, [&] {
        return route.RewriteNandBootBlock(image, ShowProgress(dialogue.Status()));
      }))
    return false;
  dialogue.Print("%s", messages::kOk);
  restart.Wait([&] { return route.IsPresent(); }, [&] { return disk.IsConnected(); });
  return true;
}

// False when the run ends here.
bool UpgradeBootLoaderIfNeeded(const Procedure& p) {
  const Updater& u = p.updater;
  if (u.requiredBootLoaderVersion <= u.bootLoaderVersion) return true;
  if (!p.images.LoadBootLoaderImage(u.bootLoaderVersion)) {
    ImageMissingEnding(p.dialogue, ImageStore::BootLoaderResourceName(u.bootLoaderVersion));
    return false;
  }
  p.dialogue.Print("%s", messages::kUpgradeNeeded);
  p.dialogue.Print(messages::kPressYToUpgrade, Major(u.bootLoaderVersion),
                   Minor(u.bootLoaderVersion), Major(u.requiredBootLoaderVersion),
                   Minor(u.requiredBootLoaderVersion));
  if (!IsYesKey(p.dialogue.ReadKey())) return false;
  p.dialogue.Print("%s", messages::kReplacingBootLoader);

  const ImageSpan image(p.images.BootLoaderImage(), kImageSize);
  const bool upgraded =
      p.route.KeepsBootLoaderInNand(u.bootLoaderVersion)
          ? UpgradeNandBlock(p.route, p.disk, p.restart, image.first<wire::kNandBootImageBytes>(),
                             p.dialogue)
          : UpgradeFlashPages(p.route, p.disk, p.restart, image.first<kMcuImageSize>(), p.dialogue);
  if (!upgraded) {
    p.dialogue.Print("%s", messages::kFailed);
    p.dialogue.ErrorEnding();
  }
  return upgraded;
}

}  // namespace

void RunUpdateProcedure(const Procedure& p) {
  if (!Identify(p.route, p.images, p.dialogue, p.updater)) return;
  if (!Confirm(p.dialogue, p.updater)) return;
  if (!IsCompatible(p.route, p.images, p.updater)) {
    p.dialogue.Print("%s", messages::kNotCompatible);
    p.dialogue.FinalEnding();
    return;
  }
  if (!UpgradeBootLoaderIfNeeded(p)) return;
  RunFirmwareReplacement({p.disk, p.restart, p.images, p.dialogue, p.updater});
}

std::string PrintableSerial(const SerialBuffer& serial) {
  std::string text;
  for (uint8_t byte : serial) {
    if (byte == 0) break;
    text.push_back(byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '?');
  }
  return text;
}

}  // namespace omr72
