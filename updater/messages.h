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
// A program whose embedded image is missing or cut short must not write anything.
inline constexpr char kImageMissing[] =
    "The program's embedded image \"%s\" is missing or damaged; nothing was written to the "
    "recorder.\n";

}  // namespace omr72::messages
