// The recorder protocol's session, in process: how raw requests reach the model, what STATUS
// reports and polls, the host's own disk commands, and the error replies.
#include "emulator/recorder_session.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/emulator/emulator_fixture.h"

namespace omr72::emu {
namespace {

using protocol::Message;
using protocol::Reader;
using protocol::Writer;

class Session : public EmulatorTest {
 protected:
  void Begin(RecorderConfig config) {
    Start(config);
    session_ = std::make_unique<RecorderSession>(host());
  }
  Message Call(const Message& request) { return session_->Handle(request); }
  uint32_t Open(uint8_t type, uint8_t slot) {
    const Message reply = Call(Writer(type).U8(slot).Done());
    Reader in(reply.payload);
    uint32_t handle = 0;
    EXPECT_TRUE(in.U32(handle) && in.AtEnd());
    return handle;
  }
  // SCSI with a CDB of `cdbLength` bytes; returns ok, status, data.
  Message Scsi(uint32_t handle, std::vector<uint8_t> cdb, uint32_t length) {
    const uint8_t cdbLength = static_cast<uint8_t>(cdb.size());
    cdb.resize(16, 0);
    return Call(Writer(protocol::kScsi)
                    .U32(handle)
                    .U8(1)
                    .U8(cdbLength)
                    .Bytes(cdb.data(), 16)
                    .U32(length)
                    .U32(2)
                    .Done());
  }
  std::unique_ptr<RecorderSession> session_;
};

TEST_F(Session, MalformedUnknownAndStaleRequestsGetErrorsAndServingGoesOn) {
  Begin(RecorderConfig{});
  const uint32_t disk = Open(protocol::kDiskOpen, 1);
  ASSERT_NE(disk, 0u);
  const struct {
    const char* name;
    Message request;
    uint8_t code;
  } rows[] = {
      {"HELLO without its version", Writer(protocol::kHello).Done(), protocol::kMalformed},
      {"STATUS with a payload", Writer(protocol::kStatus).U8(0).Done(), protocol::kMalformed},
      {"USB_OPEN of slot 9", Writer(protocol::kUsbOpen).U8(9).Done(), protocol::kMalformed},
      {"SCSI cut short", Writer(protocol::kScsi).U32(disk).U8(1).Done(), protocol::kMalformed},
      {"SCSI data-out stage missing",
       Writer(protocol::kScsi).U32(disk).U8(0).U8(16).Bytes(Cdb{}.data(), 16).U32(64).U32(2).Done(),
       protocol::kMalformed},
      {"unknown type", Writer(0x42).Done(), protocol::kUnknownType},
      {"a disk handle used for USB", Writer(protocol::kUsbDescriptor).U32(disk).Done(),
       protocol::kBadHandle},
      {"a handle never issued", Writer(protocol::kClose).U32(77).Done(), protocol::kBadHandle},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Message reply = Call(row.request);
    ASSERT_EQ(reply.type, protocol::kError);
    ASSERT_FALSE(reply.payload.empty());
    EXPECT_EQ(reply.payload[0], row.code);
  }
  EXPECT_EQ(Call(Writer(protocol::kClose).U32(disk).Done()).type, 0xB0);
  EXPECT_EQ(Call(Writer(protocol::kClose).U32(disk).Done()).type, protocol::kError);
  EXPECT_EQ(Call(Writer(protocol::kHello).U16(7).Done()).payload, (std::vector<uint8_t>{1, 0}));
  EXPECT_FALSE(session_->shutdownRequested());
  EXPECT_EQ(Call(Writer(protocol::kShutdown).Done()).type, 0xBF);
  EXPECT_TRUE(session_->shutdownRequested());
  EXPECT_TRUE(host().trace().empty());
}

// STATUS is a presence poll: a recorder attached after two polls shows on the third.
TEST_F(Session, StatusPollsAndReportsFacesEpochAndForeignDevices) {
  RecorderConfig config = Config(StartRoute::kUsb);
  config.attachAfter = 2;
  config.usbName = 3;
  config.foreignUsb = {1, 3};
  config.foreignDisks = {0};
  Begin(config);
  const auto status = [&] {
    const Message reply = Call(Writer(protocol::kStatus).Done());
    EXPECT_EQ(reply.type, 0x82);
    return reply.payload;
  };
  const std::vector<uint8_t> away = {0xFF, 0xFF, 0, 0, 0, 0, 0x0A, 0x00, 0x01, 0x00};
  EXPECT_EQ(status(), away);
  EXPECT_EQ(status(), away);
  // Present at ezusb-3, which hides the foreign device there.
  EXPECT_EQ(status(), (std::vector<uint8_t>{3, 0xFF, 0, 0, 0, 0, 0x02, 0x00, 0x01, 0x00}));
  ASSERT_TRUE(UsbRestart(usb()));
  std::vector<uint8_t> gone = status();
  EXPECT_EQ(gone[0], 0xFF);
  EXPECT_EQ(gone[2], 1);  // epoch
}

// A setup packet becomes the driver's vendor request, traced like the in-process one.
TEST_F(Session, ControlAndBulkRequestsReachTheBootLoader) {
  Begin(Config(StartRoute::kUsb));
  const uint32_t usb = Open(protocol::kUsbOpen, 0);
  ASSERT_NE(usb, 0u);
  EXPECT_EQ(Open(protocol::kUsbOpen, 4), 0u);
  const uint8_t version[8] = {0xC0, 0x24, 0, 0, 0, 0, 2, 0};
  Message reply = Call(Writer(protocol::kUsbControl).U32(usb).Bytes(version, 8).Done());
  EXPECT_EQ(reply.payload, (std::vector<uint8_t>{1, 2, 0, 0, 0, 0x00, 0x01}));
  // Host to device, class type: the boot loader stalls it.
  const uint8_t chunk[8] = {0x20, 0x21, 0x00, 0x04, 0, 0, 64, 0};
  std::vector<uint8_t> zeros(64, 0);
  reply =
      Call(Writer(protocol::kUsbControl).U32(usb).Bytes(chunk, 8).Bytes(zeros.data(), 64).Done());
  EXPECT_EQ(reply.payload, (std::vector<uint8_t>{0, 0, 0, 0, 0}));
  reply = Call(Writer(protocol::kUsbBulkRead).U32(usb).U32(2).U32(64).Done());
  EXPECT_EQ(reply.payload, (std::vector<uint8_t>{0, 0, 0, 0, 0}));  // no transfer set up
  const std::vector<std::string> expected = {
      "usb dev=ezusb-0 vendor dir=in req=0x24 value=0x0000 index=0x0000 len=2 -> ok",
      "usb dev=ezusb-0 vendor dir=out req=0x21 value=0x0400 index=0x0000 len=64 -> fail",
      "usb dev=ezusb-0 bulk read pipe=2 len=64 moved=0 -> fail",
  };
  EXPECT_EQ(host().trace(), expected);
}

// Short CDBs are the host OS's own: answered as a small disk, counted, never traced.
TEST_F(Session, HostCommandsAreAnsweredAndCountedButNotTraced) {
  Begin(RecorderConfig{});
  const uint32_t disk = Open(protocol::kDiskOpen, 1);
  ASSERT_NE(disk, 0u);
  const struct {
    const char* name;
    std::vector<uint8_t> cdb;
    uint32_t length;
    uint8_t status;
    uint32_t returned;
  } rows[] = {
      {"TEST UNIT READY", {0x00}, 0, 0, 0},
      {"INQUIRY, 6 bytes", {0x12, 0, 0, 0, 36, 0}, 36, 0, 36},
      {"INQUIRY of a VPD page", {0x12, 1, 0x80, 0, 255, 0}, 255, 2, 0},
      {"READ CAPACITY(10)", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, 0, 8},
      {"READ(10) of page 0", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, 0, 2048},
      {"WRITE(10): read-only", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0, 2, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Message reply = Scsi(disk, row.cdb, row.length);
    ASSERT_EQ(reply.type, 0xA1);
    Reader in(reply.payload);
    uint8_t ok = 0, status = 0xEE;
    uint32_t n = 0;
    ASSERT_TRUE(in.U8(ok) && in.U8(status) && in.U32(n));
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(n, row.returned);
    EXPECT_EQ(in.left(), n);
  }
  EXPECT_EQ(host().hostCommands(), std::size(rows));
  EXPECT_TRUE(host().trace().empty());
  // The program's own 16-byte commands are traced as ever.
  const Message own = Scsi(disk, {0xC8, 0x0A, 0x29, 0xF9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 64);
  EXPECT_EQ(own.payload.size(), 1 + 1 + 4 + 64u);
  ASSERT_EQ(host().trace().size(), 1u);
  EXPECT_EQ(host().hostCommands(), std::size(rows));
  // Once the recorder has left, the handle is dead for host commands too.
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_EQ(Scsi(disk, {0x00}, 0).payload[0], 0);
}

}  // namespace
}  // namespace omr72::emu

namespace omr72::emu {
namespace {

// STATUS polls count towards the re-plug of a recorder stuck on USB, but not while a client
// keeps talking to it through a handle it holds.
TEST_F(Session, UsbRequestsOnAHeldHandleHoldOffTheReplug) {
  Begin(Config(StartRoute::kUsb));
  const uint32_t usb = Open(protocol::kUsbOpen, 0);
  ASSERT_NE(usb, 0u);
  const uint8_t version[8] = {0xC0, 0x24, 0, 0, 0, 0, 2, 0};
  for (int round = 0; round < 3; ++round) {
    for (int poll = 1; poll < kReplugPolls; ++poll) Call(Writer(protocol::kStatus).Done());
    EXPECT_EQ(Call(Writer(protocol::kUsbControl).U32(usb).Bytes(version, 8).Done()).payload[0], 1);
  }
  EXPECT_EQ(recorder().restarts(), 0);
  for (int poll = 1; poll <= kReplugPolls; ++poll) Call(Writer(protocol::kStatus).Done());
  EXPECT_EQ(recorder().restarts(), 1);
  EXPECT_EQ(recorder().returnFace(), Face::kDisk);
}

}  // namespace
}  // namespace omr72::emu
