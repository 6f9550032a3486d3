// Mass storage Bulk-Only Transport: the command and status wrappers, and the commands the
// kernel's own disk drivers send on every enumeration, answered as a small, empty disk would.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "testbeds/linux/gadget/recorder_adapter.h"

namespace omr72::testbed {

constexpr size_t kCbwBytes = 31;
constexpr size_t kCswBytes = 13;
constexpr uint8_t kStatusGood = 0;
constexpr uint8_t kStatusFailed = 1;

struct Cbw {
  uint32_t tag = 0;
  CommandBlock command;
};

// Nothing when the bytes are not a valid command block wrapper.
std::optional<Cbw> ParseCbw(const uint8_t* data, size_t length);
std::array<uint8_t, kCswBytes> BuildCsw(uint32_t tag, uint32_t residue, uint8_t status);

// The kernel's commands are shorter than the program's 16 bytes.
inline bool IsProgramCommand(const CommandBlock& command) {
  return command.cdbLength == 16;
}

class SmallDisk {
 public:
  // Fills `data` (command.length bytes, zeroed) for commands that return data; returns the
  // status. An unknown command fails with ILLEGAL REQUEST, which REQUEST SENSE then reports.
  uint8_t Answer(const CommandBlock& command, uint8_t* data);
  // Remembers the sense of a failed program command for the REQUEST SENSE that follows.
  void SetIllegalRequest() { sense_ = {0x05, 0x24}; }
  const std::map<uint8_t, int>& counts() const { return counts_; }

 private:
  std::array<uint8_t, 2> sense_{};  // key, additional sense code
  std::map<uint8_t, int> counts_;   // commands by operation code
};

}  // namespace omr72::testbed
