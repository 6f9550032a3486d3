// Every text the program prints, in one table. The texts are the recorder tools' own and are
// printed exactly as they stand; %d is a number from 0 to 255, %s a text.
#pragma once

namespace omr72::messages {

// Shown on a terminal only, on a line of its own that is erased again, when the user asks the
// program to end while a write into the recorder's flash runs.
inline constexpr char kWriteBeingFinished[] =
    "Finishing the write to the recorder first; the program ends after it.";
inline constexpr char kBanner[] = "Orlo Mica R72 Firmware Updater version 1.1\n\n";
inline constexpr char kCloseOtherApplications[] =
    "Close all other digital recorder applications and try again.\n";
inline constexpr char kPressAnyKeyToExit[] = "Press any key to exit.\n";
inline constexpr char kDeviceNotConnected[] =
    "Device is not connected.\nConnect device to continue or press Esc to exit.\n";
inline constexpr char kDeviceConnected[] = "Device is connected.\n";
inline constexpr char kCurrentBootLoaderVersion[] = "Current Boot Loader version: %d.%d\n";
inline constexpr char kBootLoaderNotFound[] =
    "Boot Loader not found. Firmware loading is not possible.\n";
inline constexpr char kCurrentFirmwareVersion[] = "Current firmware version: %d.%d\n";
inline constexpr char kFirmwareVersionUnavailable[] = "Current firmware version: unavailable.\n";
inline constexpr char kSerialNumber[] = "Serial number: %s\n";
inline constexpr char kPressYToLoad[] =
    "Press 'Y' to load firmware version %d.%d or other key to exit.\n";
inline constexpr char kEraseWarning[] =
    "\r\nWARNING: Loading firmware will erase ALL data on this recorder.\r\n";
inline constexpr char kPressLToConfirm[] = "Press 'L' to confirm load or other key to exit.\n";
inline constexpr char kNotCompatible[] =
    "Firmware version is not compatible with this recorder.\nReplacing firmware failed.\n";
inline constexpr char kUpgradeNeeded[] =
    "\nIt is necessary to upgrade Boot Loader before firmware loading.\n";
inline constexpr char kPressYToUpgrade[] =
    "Press 'Y' to upgrade Boot Loader %d.%d to version %d.%d or other key to exit.\n";
inline constexpr char kReplacingBootLoader[] = "Replacing Boot Loader...";
inline constexpr char kReplacingFirmware[] = "Replacing firmware...";
inline constexpr char kOk[] = "OK\n";
inline constexpr char kFailed[] = "Failed\n";
inline constexpr char kPressAnyKeyToExitFinal[] = "Press any key to exit...\n";
// On standard error, when a request to end the program was held until a write was over.
inline constexpr char kStoppedAfterBootLoader[] =
    "Stopped on request after the new boot loader was written; the firmware was not replaced. "
    "Run the updater again to load it (replug the recorder if it is not found).\n";
inline constexpr char kStoppedAfterFailedBootLoader[] =
    "Stopped on request after the boot-loader write failed; the recorder may not start. Do not "
    "unplug it: run the updater again now.\n";
inline constexpr char kStoppedAfterFirmware[] =
    "Stopped on request after the firmware was written, before the recorder's restarts and "
    "serial-number check. Run the updater again to finish the update.\n";
inline constexpr char kStoppedAfterFailedFirmware[] =
    "Stopped on request after the firmware write failed; the boot loader is intact. Run the "
    "updater again to load the firmware.\n";
// A program whose embedded image is missing or cut short must not write anything.
inline constexpr char kImageMissing[] =
    "The program's embedded image \"%s\" is missing or damaged; nothing was written to the "
    "recorder.\n";

}  // namespace omr72::messages
