#include "emulator/trace.h"

#include <cstdio>

#include "wire/byte_order.h"

namespace omr72::emu {
namespace {

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

const char* Outcome(bool ok) {
  return ok ? " -> ok" : " -> fail";
}

// The USB block and the SCSI request number their directions alike: 1 in, 0 out.
std::string Direction(uint8_t direction) {
  if (direction == kDataIn) return "in";
  if (direction == kDataOut) return "out";
  return std::to_string(direction);
}

std::string DeviceName(int slot) {
  return "ezusb-" + std::to_string(slot);
}

}  // namespace

Trace::Trace(const std::vector<int>& failCommands, const std::vector<int>& shortCommands)
    : fail_(failCommands.begin(), failCommands.end()),
      short_(shortCommands.begin(), shortCommands.end()) {}

// A request listed for both faults fails: failing is the stronger of the two.
Fault Trace::BeginCommand() {
  ++commands_;
  if (fail_.count(commands_)) return Fault::kFail;
  if (short_.count(commands_)) return Fault::kShort;
  return Fault::kNone;
}

void Trace::Record(std::string line) {
  lines_.push_back(std::move(line));
  if (sink_) sink_(lines_.back());
  if (hook_) hook_(commands_);
}

std::string FormatScsiTrace(int drive, const Cdb& cdb, uint8_t dataIn, uint32_t length, bool ok) {
  std::string cdbText;
  for (uint8_t b : cdb) cdbText += Hex(b, 2);
  return "scsi drive=" + std::to_string(drive) + " cdb=" + cdbText + " dir=" + Direction(dataIn) +
         " len=" + std::to_string(length) + Outcome(ok);
}

std::string FormatVendorTrace(int slot, const VendorRequestBlock& block, uint32_t length, bool ok) {
  const uint16_t value = LoadLe16(block, 6);
  const uint16_t index = LoadLe16(block, 8);
  return "usb dev=" + DeviceName(slot) + " vendor dir=" + Direction(block[0]) + " req=0x" +
         Hex(block[4], 2) + " value=0x" + Hex(value, 4) + " index=0x" + Hex(index, 4) +
         " len=" + std::to_string(length) + Outcome(ok);
}

std::string FormatBulkTrace(int slot, bool read, uint32_t pipe, uint32_t length, uint32_t moved,
                            bool ok) {
  return "usb dev=" + DeviceName(slot) + " bulk " + (read ? "read" : "write") +
         " pipe=" + std::to_string(pipe) + " len=" + std::to_string(length) +
         " moved=" + std::to_string(moved) + Outcome(ok);
}

}  // namespace omr72::emu
