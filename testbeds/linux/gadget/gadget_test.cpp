// The gadget's translations, without a kernel: what the bus carries must come out as the same
// request the Linux backend put on it, and the disk the kernel probes must answer as one.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/linux/usb_driver.h"
#include "testbeds/linux/gadget/bulk_only.h"
#include "testbeds/linux/gadget/recorder_adapter.h"

namespace omr72::testbed {
namespace {

// Every request block the backend can send comes back unchanged from its setup packet.
TEST(GadgetControl, SetupPacketGivesBackTheBackendsBlock) {
  const VendorRequestBlock blocks[] = {
      {1, 2, 0, 0, 0x24, 0, 0x00, 0x00, 0x00, 0x00},  // boot-loader version
      {0, 2, 0, 0, 0x21, 0, 0x40, 0x2A, 0x00, 0x00},  // programme a chunk
      {1, 1, 1, 0, 0x01, 0, 0x00, 0x01, 0x02, 0x00},  // class request to an interface
      {0, 2, 3, 0, 0xE1, 0, 0xFF, 0xFF, 0xCD, 0xAB},  // recipient "other"
  };
  for (const VendorRequestBlock& block : blocks) {
    const auto setup = DecodeVendorRequest(block, 19);
    ASSERT_TRUE(setup);
    const SetupPacket packet{setup->requestType, setup->request, setup->value, setup->index,
                             setup->length};
    EXPECT_EQ(BlockFromSetup(packet), block) << int(block[4]);
  }
}

TEST(GadgetControl, NandReadSetupOpensItsPages) {
  std::vector<uint8_t> block(19, 0);
  block[12] = 64;  // page count, big-endian at 9
  const SetupPacket readSetup{0x40, 0xE0, 0, 0, 19};
  EXPECT_EQ(NandReadBytesOpened(readSetup, block.data()), 64u * 2112u);
  const SetupPacket writeSetup{0x40, 0xE1, 0, 0, 19};
  EXPECT_EQ(NandReadBytesOpened(writeSetup, block.data()), 0u);
  const SetupPacket cutShort{0x40, 0xE0, 0, 0, 18};
  EXPECT_EQ(NandReadBytesOpened(cutShort, block.data()), 0u);
}

std::vector<uint8_t> Cbw(uint32_t signature, uint8_t flags, uint8_t cdbLength, size_t size = 31) {
  std::vector<uint8_t> cbw(size, 0);
  for (int i = 0; i < 4; ++i) cbw[i] = static_cast<uint8_t>(signature >> (8 * i));
  cbw[4] = 0x78;  // tag
  cbw[8] = 0x00;
  cbw[9] = 0x10;  // 4096 bytes
  cbw[12] = flags;
  cbw[14] = cdbLength;
  cbw[15] = 0xC8;
  return cbw;
}

TEST(GadgetBulkOnly, CommandBlockWrapper) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool valid;
  } cases[] = {
      {"program's", Cbw(0x43425355, 0x80, 16), true},
      {"kernel's", Cbw(0x43425355, 0x00, 10), true},
      {"wrong signature", Cbw(0x53425355, 0x80, 16), false},
      {"one byte long", Cbw(0x43425355, 0x80, 16, 32), false},
      {"no command", Cbw(0x43425355, 0x80, 0), false},
      {"17-byte command", Cbw(0x43425355, 0x80, 17), false},
  };
  for (const auto& c : cases) {
    const auto cbw = ParseCbw(c.bytes.data(), c.bytes.size());
    ASSERT_EQ(cbw.has_value(), c.valid) << c.name;
    if (!cbw) continue;
    EXPECT_EQ(cbw->tag, 0x78u) << c.name;
    EXPECT_EQ(cbw->command.length, 4096u) << c.name;
    EXPECT_EQ(cbw->command.dataIn, c.bytes[12] == 0x80) << c.name;
    EXPECT_EQ(cbw->command.cdb[0], 0xC8) << c.name;
    EXPECT_EQ(IsProgramCommand(cbw->command), c.bytes[14] == 16) << c.name;
  }
  const auto csw = BuildCsw(0x12345678, 7, kStatusFailed);
  const uint8_t expected[kCswBytes] = {'U', 'S', 'B', 'S', 0x78, 0x56, 0x34, 0x12, 7, 0, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(csw.data(), expected, kCswBytes));
}

CommandBlock Kernel(std::initializer_list<uint8_t> cdb, uint32_t length) {
  CommandBlock c;
  std::copy(cdb.begin(), cdb.end(), c.cdb);
  c.cdbLength = static_cast<uint8_t>(cdb.size());
  c.dataIn = true;
  c.length = length;
  return c;
}

// The kernel's probe of every disk: capacity and mode page as a 1 MiB disk of 512-byte
// blocks; an unknown command fails and the REQUEST SENSE after it says why, once.
TEST(GadgetSmallDisk, AnswersTheKernelsProbe) {
  SmallDisk disk;
  std::vector<uint8_t> data(18, 0xAA);
  ASSERT_EQ(disk.Answer(Kernel({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8), data.data()), kStatusGood);
  const uint8_t capacity[8] = {0x00, 0x00, 0x07, 0xFF, 0x00, 0x00, 0x02, 0x00};
  EXPECT_EQ(0, std::memcmp(data.data(), capacity, 8));

  ASSERT_EQ(disk.Answer(Kernel({0x1A, 0, 0x3F, 0, 4, 0}, 4), data.data()), kStatusGood);
  EXPECT_EQ(data[0], 3);
  EXPECT_EQ(data[2] & 0x80, 0) << "write-protected";

  EXPECT_EQ(disk.Answer(Kernel({0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0), data.data()), kStatusFailed);
  std::fill(data.begin(), data.end(), 0);
  ASSERT_EQ(disk.Answer(Kernel({0x03, 0, 0, 0, 18, 0}, 18), data.data()), kStatusGood);
  EXPECT_EQ(data[0], 0x70);
  EXPECT_EQ(data[2], 0x05);   // ILLEGAL REQUEST
  EXPECT_EQ(data[12], 0x20);  // invalid command operation code
  std::fill(data.begin(), data.end(), 0);
  disk.Answer(Kernel({0x03, 0, 0, 0, 18, 0}, 18), data.data());
  EXPECT_EQ(data[2], 0x00) << "the sense is reported once";

  EXPECT_EQ(disk.counts().at(0x03), 2);
  EXPECT_EQ(disk.counts().at(0x25), 1);
}

// usb-storage sends a command without data as "out"; the model still sees the program's
// direction, so its trace and checks are omr72-sim's.
TEST(GadgetDisk, CommandWithoutDataKeepsTheProgramsDirection) {
  emu::EmulatedHost host(emu::RecorderConfig{}, emu::KnownImages{});
  auto drive = OpenDrive(host, 1);
  ASSERT_NE(drive, nullptr);
  CommandBlock erase;  // service 9, erase the page at 0x0400: "in", no data
  erase.cdbLength = 16;
  erase.cdb[0] = 0xC8;
  erase.cdb[1] = 0x09;
  erase.cdb[2] = 0x04;
  uint8_t status = 0xFF;
  ASSERT_TRUE(RunDriveCommand(drive.get(), erase, nullptr, status));
  EXPECT_EQ(status, 0);
  ASSERT_EQ(host.trace().size(), 1u);
  EXPECT_EQ(host.trace()[0],
            "scsi drive=1 cdb=C8090400000000000000000000000000 dir=in len=0 -> ok");
}

}  // namespace
}  // namespace omr72::testbed
