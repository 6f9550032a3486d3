#include <algorithm>
#include <cstring>

#include "scsilink/service_commands.h"
#include "updater/messages.h"
#include "updater/updater.h"
#include "usblink/usb_commands.h"

namespace omr72 {
namespace {

int Major(uint16_t version) {
  return version >> 8;
}
int Minor(uint16_t version) {
  return version & 0xFF;
}

void ImageMissingEnding(Session& s, const char* resourceName) {
  s.dialogue.Print(messages::kImageMissing, resourceName);
  s.dialogue.ErrorEnding();
}

// The versions, the firmware image and the serial number. False when the run ends here.
bool Identify(Session& s) {
  Updater& u = s.updater;
  s.dialogue.Print("%s", messages::kDeviceConnected);
  if (u.route == Route::kUsb) {
    u.installedFirmwareVersion = UsbGetFirmwareVersion(s.usb);
    u.bootLoaderVersion = UsbGetBootLoaderVersion(s.usb);
  } else {
    u.installedFirmwareVersion =
        ScsiGetFlashParams(s.scsi) ? FlashParamsFirmwareVersion(s.scsi.flashParams) : 0;
    u.bootLoaderVersion = 0;
    ScsiGetBootLoaderVersion(s.scsi, &u.bootLoaderVersion);
  }
  if (u.bootLoaderVersion == 0) {
    s.dialogue.Print("%s", messages::kBootLoaderNotFound);
    s.dialogue.ErrorEnding();
    return false;
  }
  s.dialogue.Print(messages::kCurrentBootLoaderVersion, Major(u.bootLoaderVersion),
                   Minor(u.bootLoaderVersion));
  if (!s.images.LoadFirmwareImage()) {
    ImageMissingEnding(s, "FWC");
    return false;
  }
  u.newFirmwareVersion = s.images.NewFirmwareVersion();
  u.requiredBootLoaderVersion = s.images.RequiredBootLoaderVersion();

  u.serial.fill(0);
  if (u.installedFirmwareVersion != 0) {
    s.dialogue.Print(messages::kCurrentFirmwareVersion, Major(u.installedFirmwareVersion),
                     Minor(u.installedFirmwareVersion));
    if (u.route == Route::kUsb) {
      UsbReadSerialNumber(s.usb, u.serial.data());
    } else {
      std::memcpy(u.serial.data(), FlashParamsSerialNumber(s.scsi.flashParams), kSerialTextMax);
    }
  } else {
    s.dialogue.Print("%s", messages::kFirmwareVersionUnavailable);
    // The read is not checked, so the block starts out defined.
    uint8_t block[kMemoryBlockSize] = {};
    if (u.route == Route::kUsb) {
      UsbReadMemory(s.usb, kSerialAddress, block);
    } else {
      ScsiReadMemory(s.scsi, kSerialAddress, block);
    }
    std::memcpy(u.serial.data(), block, kSerialTextMax);
  }
  u.serial[kSerialTextMax] = 0;
  s.dialogue.Print(messages::kSerialNumber, PrintableSerial(u.serial).c_str());
  return true;
}

bool Confirm(Session& s) {
  s.dialogue.Print(messages::kPressYToLoad, Major(s.updater.newFirmwareVersion),
                   Minor(s.updater.newFirmwareVersion));
  if (!IsYesKey(s.dialogue.ReadKey())) return false;
  s.dialogue.Print("%s", messages::kEraseWarning);
  s.dialogue.Print("%s", messages::kPressLToConfirm);
  return IsConfirmKey(s.dialogue.ReadKey());
}

// Refuses only a recorder whose tag starts with "R72" and differs from the image's tag.
bool IsCompatible(Session& s) {
  Updater& u = s.updater;
  u.deviceInfo.fill(0);
  if (u.route == Route::kUsb) {
    UsbReadMemory(s.usb, kDeviceInfoAddress, u.deviceInfo.data());
  } else {
    ScsiReadMemory(s.scsi, kDeviceInfoAddress, u.deviceInfo.data());
  }
  const ModelTagBytes imageTag = s.images.ModelTag();
  const uint8_t* recorderTag = u.deviceInfo.data() + 2;
  if (std::equal(imageTag.begin(), imageTag.end(), recorderTag)) return true;
  if (std::memcmp(recorderTag, "R72", 3) != 0) return true;
  return u.diagnostic;
}

// Polls `first` until it is false, then `second` until it is true, a millisecond apart.
template <typename First, typename Second>
void WaitForRestart(Session& s, First first, Second second) {
  while (first()) s.platform.sleeper.SleepMs(1);
  while (!second()) s.platform.sleeper.SleepMs(1);
}

void WaitUsbRestart(Session& s) {
  WaitForRestart(
      s, [&] { return s.usb.IsConnected(); }, [&] { return s.usb.IsConnected(); });
}

void WaitUsbToDisk(Session& s) {
  WaitForRestart(
      s, [&] { return s.usb.IsConnected(); }, [&] { return s.scsi.IsConnected(); });
}

bool UpgradeOverUsbFlashPages(Session& s) {
  uint8_t reply[2] = {};
  UsbEraseFlashPage(s.usb, kBootLoaderPageAddress, reply);
  UsbRestart(s.usb);
  WaitUsbRestart(s);
  if (!s.dialogue.Uninterrupted(
          [&] { return UsbWriteMcuFlash(s.usb, s.images.BootLoaderImage()); }))
    return false;
  s.dialogue.Print("%s", messages::kOk);
  UsbRestart(s.usb);
  WaitUsbToDisk(s);
  return true;
}

bool UpgradeOverUsbNandBlock(Session& s) {
  if (!s.dialogue.Uninterrupted(
          [&] { return UsbRewriteNandBootBlock(s.usb, s.images.BootLoaderImage()); }))
    return false;
  s.dialogue.Print("%s", messages::kOk);
  WaitUsbToDisk(s);
  return true;
}

bool UpgradeOverDisk(Session& s) {
  ScsiEraseFlashPage(s.scsi, kBootLoaderPageAddress);
  ScsiRestart(s.scsi);
  WaitForDiskRestart(s);
  if (!s.dialogue.Uninterrupted(
          [&] { return ScsiWriteMcuFlash(s.scsi, s.images.BootLoaderImage()); }))
    return false;
  s.dialogue.Print("%s", messages::kOk);
  ScsiRestart(s.scsi);
  WaitForDiskRestart(s);
  return true;
}

// False when the run ends here.
bool UpgradeBootLoaderIfNeeded(Session& s) {
  Updater& u = s.updater;
  if (u.requiredBootLoaderVersion <= u.bootLoaderVersion) return true;
  if (!s.images.LoadBootLoaderImage(u.bootLoaderVersion)) {
    ImageMissingEnding(s, ImageStore::BootLoaderResourceName(u.bootLoaderVersion));
    return false;
  }
  s.dialogue.Print("%s", messages::kUpgradeNeeded);
  s.dialogue.Print(messages::kPressYToUpgrade, Major(u.bootLoaderVersion),
                   Minor(u.bootLoaderVersion), Major(u.requiredBootLoaderVersion),
                   Minor(u.requiredBootLoaderVersion));
  if (!IsYesKey(s.dialogue.ReadKey())) return false;
  s.dialogue.Print("%s", messages::kReplacingBootLoader);

  bool upgraded = false;
  if (u.route == Route::kDisk) {
    upgraded = UpgradeOverDisk(s);
  } else if (u.bootLoaderVersion >= kFirstFlashPageBootLoader) {
    upgraded = UpgradeOverUsbFlashPages(s);
  } else {
    upgraded = UpgradeOverUsbNandBlock(s);
  }
  if (!upgraded) {
    s.dialogue.Print("%s", messages::kFailed);
    s.dialogue.ErrorEnding();
  }
  return upgraded;
}

}  // namespace

void WaitForDiskRestart(Session& s) {
  WaitForRestart(
      s, [&] { return s.scsi.IsConnected(); }, [&] { return s.scsi.IsConnected(); });
}

void RunUpdateProcedure(Session& s) {
  if (!Identify(s)) return;
  if (!Confirm(s)) return;
  if (!IsCompatible(s)) {
    s.dialogue.Print("%s", messages::kNotCompatible);
    s.dialogue.FinalEnding();
    return;
  }
  if (!UpgradeBootLoaderIfNeeded(s)) return;
  RunFirmwareReplacement(s);
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
