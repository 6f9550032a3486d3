// The host's physical drives PHYSICALDRIVE0..8: the recorder's disk face where it sits,
// foreign disks where configured, nothing elsewhere.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "emulator/host_context.h"
#include "platform/scsi_pass_through.h"
#include "wire/recorder_wire.h"

namespace omr72::emu {

constexpr uint8_t kGoodStatus = wire::kGoodStatus;
constexpr uint8_t kCheckCondition = 2;
constexpr uint32_t kRecorderInquiryBytes = 96;

// The recorder's INQUIRY data: the 36 bytes every updater compares, then vendor bytes.
std::vector<uint8_t> BuildRecorderInquiry();
// N of "\\.\PHYSICALDRIVEN" for N = 0..8, -1 for any other name.
int ParseDriveNumber(const char* name);

// Direction and data length that a command must carry; nullopt for a command the recorder
// does not know.
struct ServiceShape {
  uint8_t dataIn;
  uint32_t length;
};
std::optional<ServiceShape> ShapeOfCommand(const Cdb& cdb);

// EmulatedHost::ExecuteHostCommand.
bool ExecuteHostCommand(HostContext& host, int drive, uint32_t epoch, const HostCommand& command,
                        uint8_t& scsiStatus, uint32_t& moved);

class EmulatedPassThrough : public ScsiPassThrough {
 public:
  explicit EmulatedPassThrough(HostContext& host) : host_(host) {}
  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override;

 private:
  HostContext& host_;
};

}  // namespace omr72::emu
