// The rules every swept run is held to, as pure functions over what a run left behind: the
// console transcript and the commands that reached a device, in the order they happened.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace omr72::sweep {

// One thing a run did: console text it printed, or one command line of the device trace.
struct Event {
  enum class Kind { kOutput, kCommand };
  Kind kind;
  std::string text;
};

// The documented ending the transcript shows (a short name), or nullopt when it shows none.
std::optional<std::string> DocumentedEnding(const std::string& output);

// True when the transcript stops where the program may wait for a restart without end: inside
// the boot-loader upgrade or the firmware replacement.
bool InRestartWaitStage(const std::string& output);

// True when the transcript stops in the wait for a recorder at start, which only Esc ends.
bool InConnectionWait(const std::string& output);

// The first byte of the transcript outside printable ASCII (and line ends): the program's own
// texts have none, so such a byte came from a device.
std::optional<unsigned char> UnprintableByte(const std::string& output);

// When a microcontroller flash writer had a command that failed or never reached the recorder
// and "OK\n" followed it: which writer ("usb" or "disk"). Nullopt when no such case occurred.
std::optional<std::string> OkAfterFailedWriter(const std::vector<Event>& events);

// True when the run started a NAND boot-block rewrite and its first whole-block read did not
// fill the whole block (a failed set-up, a failed or short bulk read, or none at all).
bool FirstNandReadIncomplete(const std::vector<Event>& events);

}  // namespace omr72::sweep
