// The disk link against a host whose nine drives the test lays out.
#include "scsilink/scsi_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/fakes/nine_devices.h"

namespace omr72 {
namespace {

using fakes::ForeignDisk;
using fakes::NineDevices;
using fakes::Slot;

// The recorder's INQUIRY data followed by more bytes than the template.
// (Built whole rather than resized: GCC 12 at -O3 warns of a bounds fault in the resize.)
Slot Recorder(size_t length = 96) {
  std::vector<uint8_t> reply(length, 0x5A);
  std::copy(fakes::kRecorderInquiry.begin(), fakes::kRecorderInquiry.end(), reply.begin());
  Slot slot;
  slot.inquiry = std::move(reply);
  return slot;
}

Slot Altered(size_t index, uint8_t value) {
  Slot slot = Recorder();
  slot.inquiry[index] = value;
  return slot;
}

std::vector<int> CommandSlots(const NineDevices& host) {
  std::vector<int> out;
  for (const fakes::Call& c : host.commands) out.push_back(c.slot);
  return out;
}

TEST(ScsiLinkIdentify, InquiryTemplateMustMatchAllThirtySixBytes) {
  Slot fourSpaces = Recorder();
  std::fill(fourSpaces.inquiry.begin() + 12, fourSpaces.inquiry.begin() + 16, ' ');
  Slot cutShort = Recorder();
  cutShort.inquiry.resize(35);  // the final revision byte never arrives
  Slot checkCondition = Recorder();
  checkCondition.inquiryStatus = 2;
  Slot incomplete = Recorder();
  incomplete.inquiryCompletes = false;
  struct Case {
    const char* name;
    Slot drive;
    bool identified;
  };
  const std::vector<Case> cases = {
      {"the recorder, longer reply", Recorder(), true},
      {"exactly 36 bytes", Recorder(36), true},
      {"Cool and four spaces", fourSpaces, false},
      {"revision 0.0.0.2", Altered(35, 0x02), false},
      {"product NUL replaced by a space", Altered(29, ' '), false},
      {"not removable", Altered(1, 0x00), false},
      {"reply of 35 bytes", cutShort, false},
      {"status not good", checkCondition, false},
      {"request not completed", incomplete, false},
      {"a foreign disk", ForeignDisk(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NineDevices host;
    host.driveSlots[0] = c.drive;
    ScsiLink link(host.scsi);
    EXPECT_EQ(link.IsConnected(), c.identified);
  }
}

TEST(ScsiLinkIdentify, InquiryIsSixteenBytesWithZeroAllocationLength) {
  NineDevices host;
  host.driveSlots[0] = Recorder();
  ScsiLink link(host.scsi);
  ASSERT_TRUE(link.IsConnected());
  ASSERT_EQ(host.calls.size(), 1u);
  const fakes::Call& r = host.calls[0];
  EXPECT_EQ(r.cdb, (Cdb{0x12}));
  EXPECT_EQ(r.direction, 1);
  EXPECT_EQ(r.length, 2048u);
  EXPECT_EQ(r.timeoutSeconds, 2u);
  EXPECT_NE(r.buffer, nullptr);
}

TEST(ScsiLinkScan, ChoosesTheLowestRecorderDriveAndSendsLaterCommandsThere) {
  NineDevices host;
  host.driveSlots[3] = Recorder();
  host.driveSlots[5] = Recorder();
  host.driveSlots[0] = ForeignDisk();
  ScsiLink link(host.scsi);
  ASSERT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DriveDigit(), '3');
  EXPECT_EQ(host.Opens(), (std::vector<std::string>{"PHYSICALDRIVE0", "PHYSICALDRIVE1",
                                                    "PHYSICALDRIVE2", "PHYSICALDRIVE3"}));
  Cdb cdb{0xC8, 0x0D};
  link.Execute(cdb, DataStage::In({}));
  EXPECT_EQ(CommandSlots(host), std::vector<int>{3});
}

TEST(ScsiLinkScan, NoRecorderProbesAllNineAndLeavesDigitEight) {
  NineDevices host;
  for (int d = 0; d < 9; ++d) host.driveSlots[d] = ForeignDisk();
  ScsiLink link(host.scsi);
  EXPECT_FALSE(link.IsConnected());
  EXPECT_EQ(link.DriveDigit(), '8');
  EXPECT_EQ(host.Opens().size(), 9u);
  EXPECT_EQ(host.calls.size(), 9u);
}

// After a failed scan the name still points at drive 8, which is some other disk: commands
// must never reach it, nor any drive before the first scan.
TEST(ScsiLinkExecute, RefusedUnlessTheLastScanFoundTheRecorder) {
  NineDevices host;
  for (int d = 0; d < 9; ++d) host.driveSlots[d] = ForeignDisk();
  ScsiLink link(host.scsi);
  uint8_t buffer[64] = {};
  const Cdb readMemory{0xC8, 0x0A, 0x29, 0xF9};
  EXPECT_EQ(link.DriveDigit(), 'x');
  EXPECT_FALSE(link.Execute(readMemory, DataStage::In(buffer)));
  EXPECT_TRUE(host.calls.empty());

  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.Execute(readMemory, DataStage::In(buffer)));
  EXPECT_TRUE(host.commands.empty());

  host.driveSlots[4] = Recorder();
  ASSERT_TRUE(link.IsConnected());
  host.driveSlots[4].reset();  // unplugged, and a foreign disk takes over nothing
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.Execute(readMemory, DataStage::In(buffer)));
  EXPECT_TRUE(host.commands.empty());
}

TEST(ScsiLinkExecute, SucceedsOnlyWhenCompletedWithGoodStatus) {
  struct Case {
    const char* name;
    bool completes;
    uint8_t status;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"good", true, 0, true},
      {"check condition", true, 2, false},
      {"busy", true, 8, false},
      {"not completed", false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NineDevices host;
    host.driveSlots[1] = Recorder();
    ScsiLink link(host.scsi);
    ASSERT_TRUE(link.IsConnected());
    host.answer = [&c](const fakes::Call&) { return fakes::Answer{c.completes, c.status}; };
    uint8_t buffer[40] = {};
    EXPECT_EQ(link.Execute(Cdb{0xC8, 0x03}, DataStage::In(buffer)), c.expected);
  }
}

TEST(ScsiLinkExecute, PassesDirectionLengthBufferAndTimeOut) {
  NineDevices host;
  host.driveSlots[6] = Recorder();
  ScsiLink link(host.scsi);
  ASSERT_TRUE(link.IsConnected());
  const uint8_t serial[21] = {'A'};
  EXPECT_TRUE(link.Execute(Cdb{0xC8, 0x0C}, DataStage::Out(serial)));
  EXPECT_TRUE(link.Execute(Cdb{0xC8, 0x06}, DataStage::Out({})));
  ASSERT_EQ(host.commands.size(), 2u);
  const fakes::Call& write = host.commands[0];
  EXPECT_EQ(write.direction, 0);
  EXPECT_EQ(write.length, 21u);
  EXPECT_EQ(write.buffer, serial) << "the caller's bytes go out as they are";
  EXPECT_EQ(write.timeoutSeconds, 2u);
  EXPECT_EQ(host.commands[1].direction, 0) << "no data keeps its direction";
  EXPECT_EQ(host.commands[1].length, 0u);
  EXPECT_EQ(host.commands[1].buffer, nullptr);
}

TEST(ScsiLinkExecute, DriveThatCannotBeOpenedFails) {
  NineDevices host;
  host.driveSlots[2] = Recorder();
  ScsiLink link(host.scsi);
  ASSERT_TRUE(link.IsConnected());
  host.driveSlots[2].reset();
  EXPECT_FALSE(link.Execute(Cdb{0xC8, 0x0D}, DataStage::In({})));
}

}  // namespace
}  // namespace omr72
