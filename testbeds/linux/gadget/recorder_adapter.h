// The gadget's one door into the emulated recorder: what arrives on the bus (setup packets,
// bulk data, Bulk-Only command blocks) becomes a call on the same UsbDriver and ScsiPassThrough
// interfaces that omr72-sim's updater talks to, so the model and its trace are omr72-sim's own.
#pragma once

#include <cstdint>
#include <memory>

#include "emulator/emulated_host.h"

namespace omr72::testbed {

struct SetupPacket {
  uint8_t requestType = 0;  // bmRequestType
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
};

// The driver's request block for a setup packet (the inverse of what the Linux backend sends).
VendorRequestBlock BlockFromSetup(const SetupPacket& setup);

// A control request with its data stage: `data` holds wLength bytes, sent or to be filled.
bool RunControlRequest(UsbDevice* device, const SetupPacket& setup, uint8_t* data);
// Bulk data on the driver's pipe indices: 1 is the write pipe, 2 the read pipe.
bool RunBulkWrite(UsbDevice* device, const uint8_t* data, uint32_t length);
bool RunBulkRead(UsbDevice* device, uint8_t* data, uint32_t length, uint32_t& moved);
// Bytes a successful NAND read set-up (request 0xE0 with its 19-byte block) makes available on
// the read pipe; 0 for every other request.
uint32_t NandReadBytesOpened(const SetupPacket& setup, const uint8_t* data);
constexpr uint32_t kMaxBulkChunk = 16384;  // the most the driver moves in one bulk request

// A Bulk-Only command block as the host sent it.
struct CommandBlock {
  uint8_t cdb[16] = {};
  uint8_t cdbLength = 0;
  bool dataIn = false;
  uint32_t length = 0;
};

// One command on an opened drive. False when the drive did not complete it; `status` is the
// SCSI status otherwise.
bool RunDriveCommand(ScsiDrive* drive, const CommandBlock& command, uint8_t* buffer,
                     uint8_t& status);

std::unique_ptr<UsbDevice> OpenUsbFace(emu::EmulatedHost& host, int usbName);
std::unique_ptr<ScsiDrive> OpenDrive(emu::EmulatedHost& host, int drive);
// One presence poll of the host's device scan: how a recorder that is away comes back.
void PollPresence(emu::EmulatedHost& host);
// What a user does when the program waits for a disk while the recorder sits in its USB boot
// loader: the model's own rule, fed with the disk polls it takes to re-plug.
void ReplugIfWaitedFor(emu::EmulatedHost& host);

}  // namespace omr72::testbed
