// The record of every request that reaches an emulated device, and the faults that the
// configuration attaches to particular requests by their number in that record.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/scsi_pass_through.h"
#include "platform/usb_driver.h"

namespace omr72::emu {

enum class Fault {
  kNone,
  kFail,   // the request fails and takes no effect
  kShort,  // only half the data moves; the request still succeeds
};

class Trace {
 public:
  Trace(const std::vector<int>& failCommands, const std::vector<int>& shortCommands);

  // Numbers the next traced request (from 1) and tells which fault it carries.
  Fault BeginCommand();
  void Record(std::string line);
  void SetSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }
  const std::vector<std::string>& lines() const { return lines_; }
  // The number the next traced request will get.
  int next() const { return commands_ + 1; }

 private:
  std::set<int> fail_;
  std::set<int> short_;
  int commands_ = 0;
  std::vector<std::string> lines_;
  std::function<void(const std::string&)> sink_;
};

std::string FormatScsiTrace(int drive, const Cdb& cdb, uint8_t dataIn, uint32_t length, bool ok);
std::string FormatVendorTrace(int slot, const VendorRequestBlock& block, uint32_t length, bool ok);
std::string FormatBulkTrace(int slot, bool read, uint32_t pipe, uint32_t length, uint32_t moved,
                            bool ok);

}  // namespace omr72::emu
