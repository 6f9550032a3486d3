// The trace format, the faults keyed to trace numbers, foreign devices and the state JSON.
#include <algorithm>
#include <cstring>

#include "emulator/emulated_pass_through.h"
#include "tests/emulator/emulator_fixture.h"

namespace omr72::emu {
namespace {

using TraceAndState = EmulatorTest;

TEST_F(TraceAndState, OneLinePerRequestInTheExactFormat) {
  Start(Config(StartRoute::kBoth));
  std::vector<std::string> sunk;
  host().SetTraceSink([&](const std::string& line) { sunk.push_back(line); });
  ASSERT_TRUE(scsi().IsConnected());  // presence tests leave no line
  uint8_t block[64];
  ASSERT_TRUE(ScsiReadMemory(scsi(), 0x29F9, block));
  EXPECT_EQ(UsbGetBootLoaderVersion(usb()), 0x0100);
  ASSERT_TRUE(UsbNandReadSetup(usb(), 0, kNandPageBytes, 1, 1, 8, 0, 0));
  std::vector<uint8_t> pages(8 * kNandPageBytes);
  usb().BulkRead(ByteSpan(pages).first(16384 + 100));
  EXPECT_FALSE(usb().BulkTransfer(1, DataStage::Out(ConstByteSpan(pages).first(2112)), nullptr));

  const std::vector<std::string> expected = {
      "scsi drive=1 cdb=C80A29F9000000000000000000000000 dir=in len=64 -> ok",
      "usb dev=ezusb-0 vendor dir=in req=0x24 value=0x0000 index=0x0000 len=2 -> ok",
      "usb dev=ezusb-0 vendor dir=out req=0xE0 value=0x0000 index=0x0000 len=19 -> ok",
      "usb dev=ezusb-0 bulk read pipe=2 len=16384 moved=16384 -> ok",
      "usb dev=ezusb-0 bulk read pipe=2 len=100 moved=100 -> ok",
      "usb dev=ezusb-0 bulk write pipe=1 len=2112 moved=0 -> fail",
  };
  EXPECT_EQ(host().trace(), expected);
  EXPECT_EQ(sunk, expected);
}

TEST_F(TraceAndState, FailedCommandsTakeNoEffectAndShortOnesMoveHalf) {
  RecorderConfig config = Config(StartRoute::kBoth);
  config.failCommands = {2, 4};
  config.shortCommands = {3, 5, 6};
  Start(config);
  ASSERT_TRUE(scsi().IsConnected());
  const uint8_t before = recorder().mcuFlash()[0x200];
  uint8_t block[64];
  ASSERT_TRUE(ScsiReadMemory(scsi(), 0, block));    // 1
  EXPECT_FALSE(ScsiEraseFlashPage(scsi(), 0x200));  // 2: fails
  EXPECT_EQ(recorder().mcuFlash()[0x200], before);
  std::fill_n(block, 64, 0xAA);
  EXPECT_TRUE(ScsiReadMemory(scsi(), 0x29F9, block));  // 3: short, still good
  EXPECT_EQ(block[0], 0x05);
  EXPECT_EQ(block[31], recorder().mcuFlash()[0x29F9 + 31]);
  EXPECT_EQ(block[32], 0xAA);
  uint8_t zeros[64] = {};
  EXPECT_FALSE(UsbWriteFlashChunk(usb(), 0x0400, zeros));  // 4: fails
  EXPECT_NE(recorder().mcuFlash()[0x0400], 0);
  EXPECT_TRUE(UsbWriteFlashChunk(usb(), 0x0400, zeros));  // 5: half arrives
  EXPECT_EQ(recorder().mcuFlash()[0x041F], 0);
  EXPECT_NE(recorder().mcuFlash()[0x0420], 0);
  uint8_t serial[21];
  std::fill_n(serial, 21, 0xAA);
  EXPECT_TRUE(UsbReadSerialNumber(usb(), serial));  // 6: 10 of 21 bytes
  EXPECT_EQ(std::memcmp(serial, "ABCDE12345", 10), 0);
  EXPECT_EQ(serial[10], 0xAA);

  const std::vector<std::string>& lines = host().trace();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "scsi drive=1 cdb=C8090200000000000000000000000000 dir=in len=0 -> fail");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 5), "-> ok");
  EXPECT_EQ(lines[3].substr(lines[3].size() - 7), "-> fail");
}

TEST_F(TraceAndState, ForeignDevicesSeeOnlyWhatIsSentToThem) {
  RecorderConfig config = Config(StartRoute::kBoth);
  config.drive = 3;
  config.usbName = 2;
  config.foreignDisks = {0, 5, 8};
  config.foreignUsb = {0, 1};
  Start(config);
  uint8_t block[64];
  EXPECT_FALSE(ScsiReadMemory(scsi(), 0, block));  // nothing identified yet: goes nowhere
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiReadMemory(scsi(), 0, block));
  ASSERT_TRUE(ScsiRestart(scsi()));
  // Failed scans leave the link at drive 8, a foreign disk: the next command must not go there.
  for (int poll = 1; poll <= kRestartPolls; ++poll) EXPECT_FALSE(scsi().IsConnected());
  EXPECT_FALSE(ScsiReadMemory(scsi(), 0, block));
  EXPECT_EQ(UsbGetFirmwareVersion(usb()), 0);

  for (int drive : {0, 5, 8}) {
    const std::vector<ForeignDiskEntry>* log = host().ForeignDiskLog(drive);
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(log->empty());
    for (const ForeignDiskEntry& entry : *log) EXPECT_EQ(entry.cdb[0], 0x12) << drive;
  }
  for (int slot : {0, 1}) {
    const std::vector<ForeignUsbEntry>* log = host().ForeignUsbLog(slot);
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(log->empty());
    for (const ForeignUsbEntry& entry : *log) EXPECT_EQ(entry.kind, ForeignUsbRequest::kDescriptor);
  }
  EXPECT_EQ(host().ForeignDiskLog(4), nullptr);
  EXPECT_EQ(host().ForeignUsbLog(2), nullptr);

  // Sent to it on purpose, a foreign disk logs it, rejects the vendor command, reads zeros.
  std::unique_ptr<ScsiDrive> foreign = host().scsi().Open("\\\\.\\PHYSICALDRIVE5");
  ASSERT_TRUE(foreign);
  uint8_t status = 0;
  ASSERT_TRUE(foreign->Execute(
      ScsiRequest{.cdb = BuildServiceAddressCdb(10, 0), .data = DataStage::In(block)}, status));
  EXPECT_EQ(status, 2);
  std::vector<uint8_t> page(2048, 0xAA);
  ASSERT_TRUE(foreign->Execute(
      ScsiRequest{.cdb = BuildReadPagesCdb(0, 1), .data = DataStage::In(page)}, status));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(host().ForeignDiskLog(5)->back().cdb[0], 0x28);
  EXPECT_EQ(host().trace().back().rfind("scsi drive=5 cdb=28", 0), 0u);
}

// A wait polls the foreign devices again and again for as long as it lasts: they count the
// polls, and their logs keep one entry for them; other requests fill the log up to its limit.
TEST_F(TraceAndState, ForeignDevicesCountPresenceRequestsInBoundedLogs) {
  RecorderConfig config = Config(StartRoute::kNone);
  config.foreignDisks = {0, 3};
  config.foreignUsb = {1};
  Start(config);
  constexpr uint64_t kScans = 20000;
  for (uint64_t i = 0; i < kScans; ++i) {
    ASSERT_FALSE(scsi().IsConnected());
    ASSERT_FALSE(usb().IsConnected());
  }
  for (int drive : {0, 3}) {
    EXPECT_EQ(host().ForeignDiskPresenceRequests(drive), kScans) << drive;
    EXPECT_EQ(host().ForeignDiskLog(drive)->size(), 1u) << drive;
  }
  EXPECT_EQ(host().ForeignUsbPresenceRequests(1), kScans);
  EXPECT_EQ(host().ForeignUsbLog(1)->size(), 1u);
  EXPECT_EQ(host().ForeignDiskPresenceRequests(5), 0u);

  std::unique_ptr<ScsiDrive> foreign = host().scsi().Open("\\\\.\\PHYSICALDRIVE3");
  ASSERT_TRUE(foreign);
  std::vector<uint8_t> page(2048);
  uint8_t status = 0;
  for (size_t i = 0; i < kForeignLogLimit + 10; ++i) {
    const Cdb cdb = BuildReadPagesCdb(static_cast<uint32_t>(i), 1);
    ASSERT_TRUE(foreign->Execute(ScsiRequest{.cdb = cdb, .data = DataStage::In(page)}, status));
  }
  const std::vector<ForeignDiskEntry>& log = *host().ForeignDiskLog(3);
  ASSERT_EQ(log.size(), kForeignLogLimit);
  EXPECT_EQ(log.back().cdb, BuildReadPagesCdb(kForeignLogLimit - 2, 1));  // after the INQUIRY
  EXPECT_EQ(host().trace().size(), kForeignLogLimit + 10);  // the trace still has every one
}

// A recorder with another model tag takes the tag of the firmware written into it.
TEST_F(TraceAndState, StateJsonAtStartAfterRestartAndAfterAnUpdate) {
  RecorderConfig config;
  config.modelTag = ModelTag{'R', '7', '2', 'Z', 'Z'};
  Start(config);
  EXPECT_EQ(host().StateJson(),
            "{\"route\":\"disk\",\"bootLoaderVersion\":\"1.0\",\"firmwareVersion\":\"1.5\","
            "\"serial\":\"ABCDE12345\",\"firmwareImageWritten\":false,\"restarts\":0,"
            "\"modelTag\":\"R72ZZ\",\"bootBlockAccepted\":false}");
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiWriteMcuFlash(scsi(), McuImage(images().firmware.data(), 0x2A00)));
  ASSERT_TRUE(ScsiRestart(scsi()));
  EXPECT_EQ(host().StateJson(),
            "{\"route\":\"away\",\"bootLoaderVersion\":\"1.0\",\"firmwareVersion\":\"2.7\","
            "\"serial\":\"ABCDE12345\",\"firmwareImageWritten\":true,\"restarts\":1,"
            "\"modelTag\":\"R72QX\",\"bootBlockAccepted\":false}");

  // Quote and backslash escaped, control and non-ASCII bytes as \u00XX, the rest as it is.
  RecorderConfig odd = Config(StartRoute::kUsb);
  odd.firmwareVersion = std::nullopt;
  odd.bootLoaderVersion = 0x010A;
  odd.serial = std::string("a\"b\\ /~\x01\x1F\x7F\xC3\xFF", 12);
  Start(odd);
  EXPECT_EQ(host().StateJson(),
            "{\"route\":\"usb\",\"bootLoaderVersion\":\"1.10\",\"firmwareVersion\":null,"
            "\"serial\":\"a\\\"b\\\\ /~\\u0001\\u001F\\u007F\\u00C3\\u00FF\","
            "\"firmwareImageWritten\":false,\"restarts\":0,\"modelTag\":\"R72QX\","
            "\"bootBlockAccepted\":false}");
}

}  // namespace
}  // namespace omr72::emu

namespace omr72::emu {
namespace {

using ReplyFuzzing = EmulatorTest;

// Identification replies come from the seed (the same seed, the same bytes); everything else
// stays the recorder's own.
TEST_F(ReplyFuzzing, ReplacesIdentificationRepliesBySeed) {
  struct Replies {
    std::vector<uint8_t> identification;
    std::vector<uint8_t> other;
  };
  const auto run = [&](std::optional<uint64_t> seed) {
    RecorderConfig config = Config(StartRoute::kBoth);
    config.replyFuzzSeed = seed;
    Start(config);
    Replies r;
    const auto add = [&](const uint8_t* bytes, size_t n) {
      r.identification.insert(r.identification.end(), bytes, bytes + n);
    };
    uint8_t block[64];
    const uint16_t versions[] = {UsbGetFirmwareVersion(usb()), UsbGetBootLoaderVersion(usb())};
    add(reinterpret_cast<const uint8_t*>(versions), sizeof versions);
    uint8_t serial[21] = {};
    EXPECT_TRUE(UsbReadSerialNumber(usb(), serial));
    add(serial, sizeof serial);
    for (uint16_t address : {0x29F9, 0xDE00}) {
      EXPECT_TRUE(UsbReadMemory(usb(), address, block));
      add(block, sizeof block);
    }
    std::unique_ptr<ScsiDrive> drive = host().scsi().Open("\\\\.\\PHYSICALDRIVE1");
    std::vector<uint8_t> reply(2048, 0);
    uint8_t status = 0;
    EXPECT_TRUE(drive->Execute(
        ScsiRequest{.cdb = BuildServiceCdb(3), .data = DataStage::In(ByteSpan(reply).first(40))},
        status));
    add(reply.data(), 40);
    EXPECT_TRUE(
        drive->Execute(ScsiRequest{.cdb = Cdb{0x12}, .data = DataStage::In(reply)}, status));
    add(reply.data() + 36, kRecorderInquiryBytes - 36);

    EXPECT_TRUE(UsbReadMemory(usb(), 0x0000, block));
    r.other.assign(block, block + sizeof block);
    EXPECT_TRUE(drive->Execute(
        ScsiRequest{.cdb = BuildServiceAddressCdb(10, 0x29B9), .data = DataStage::In(block)},
        status));
    r.other.insert(r.other.end(), block, block + 40);  // up to 0x29E0, short of 0x29F9
    return r;
  };
  const Replies plain = run(std::nullopt);
  const Replies first = run(1);
  const Replies again = run(1);
  const Replies other = run(2);
  EXPECT_NE(first.identification, plain.identification);
  EXPECT_EQ(first.identification, again.identification);
  EXPECT_NE(other.identification, first.identification);
  EXPECT_EQ(first.other, plain.other);
  EXPECT_EQ(other.other, plain.other);
}

}  // namespace
}  // namespace omr72::emu
