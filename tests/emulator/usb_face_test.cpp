// The boot-loader USB face: its request table, memories and the NAND boot-block rewrite.
#include <algorithm>
#include <cstring>

#include "emulator/emulated_usb.h"
#include "tests/emulator/emulator_fixture.h"

namespace omr72::emu {
namespace {

using UsbFace = EmulatorTest;

bool AllErased(const uint8_t* begin, const uint8_t* end) {
  return std::all_of(begin, end, [](uint8_t b) { return b == 0xFF; });
}

// The requests the links send are accepted in every flow; here, the shapes that are refused.
TEST_F(UsbFace, RequestsNeedTheirDirectionAndLength) {
  struct Row {
    uint8_t direction, request;
    uint16_t length, index;
  };
  const Row rows[] = {
      {1, 0x20, 32, 0}, {0, 0x20, 64, 0}, {1, 0x21, 64, 0}, {1, 0x22, 0, 0},  {1, 0x24, 1, 0},
      {1, 0x24, 2, 1},  {1, 0xC1, 20, 0}, {0, 0xE0, 19, 0}, {0, 0xE1, 18, 0}, {1, 0x99, 2, 0},
  };
  Start(Config(StartRoute::kUsb));
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "request 0x" << std::hex << int{row.request} << " dir "
                                    << int{row.direction} << " len " << std::dec << row.length);
    uint8_t buffer[64] = {};
    const ByteSpan bytes(buffer, row.length);
    const DataStage stage = row.direction == 1 ? DataStage::In(bytes) : DataStage::Out(bytes);
    EXPECT_FALSE(usb().VendorRequest(row.request, 0, row.index, stage));
  }
  EXPECT_EQ(recorder().restarts(), 0);
}

// The same configured versions, seen through both faces and both links.
TEST_F(UsbFace, VersionRepliesOnBothFacesAndTheLinksFallback) {
  struct Row {
    const char* name;
    uint16_t bootLoader;
    bool silent;
    std::optional<uint16_t> firmware;
    uint16_t usbBootLoader;  // what UsbGetBootLoaderVersion makes of it
    uint16_t usbFirmware;
  };
  const Row rows[] = {
      {"both answer", 0x0105, false, 0x0203, 0x0105, 0x0203},
      {"no boot loader answers 00 00", 0, false, 0x0203, 0, 0x0203},
      {"silent boot loader, firmware answers", 0x0105, true, 0x0203, 0x0100, 0x0203},
      {"silent and no firmware", 0x0105, true, std::nullopt, 0, 0},
      {"no firmware", 0x0102, false, std::nullopt, 0x0102, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecorderConfig config = Config(StartRoute::kBoth);
    config.bootLoaderVersion = row.bootLoader;
    config.bootLoaderSilent = row.silent;
    config.firmwareVersion = row.firmware;
    Start(config);
    EXPECT_EQ(UsbGetBootLoaderVersion(usb()), row.usbBootLoader);
    EXPECT_EQ(UsbGetFirmwareVersion(usb()), row.usbFirmware);

    ASSERT_TRUE(scsi().IsConnected());
    uint16_t version = 0;
    EXPECT_EQ(ScsiGetBootLoaderVersion(scsi(), &version), !row.silent);
    EXPECT_EQ(version, row.silent ? 0 : row.bootLoader);
    EXPECT_EQ(ScsiGetFlashParams(scsi()), row.firmware.has_value());
    uint8_t block[64];
    ASSERT_TRUE(ScsiReadMemory(scsi(), 0x29F9, block));
    EXPECT_EQ(block[0] | (block[1] << 8), row.firmware.value_or(0xFFFF));
  }
}

TEST_F(UsbFace, FlashIsNorFlashWithWrappingAddresses) {
  RecorderConfig config = Config(StartRoute::kUsb);
  config.serial = "SN-0001";
  Start(config);
  uint8_t reply[2] = {0xAA, 0xAA};
  ASSERT_TRUE(UsbEraseFlashPage(usb(), 0x0210, reply));  // anywhere in the page
  EXPECT_EQ(reply[0] | reply[1], 0);
  uint8_t block[64] = {};
  ASSERT_TRUE(UsbReadMemory(usb(), 0x0200, block));
  EXPECT_TRUE(AllErased(block, block + 64));
  EXPECT_TRUE(AllErased(&recorder().mcuFlash()[0x200], &recorder().mcuFlash()[0x400]));
  EXPECT_NE(recorder().mcuFlash()[0x1FF], 0xFF);

  uint8_t chunk[64];
  std::fill_n(chunk, 64, 0xF0);
  ASSERT_TRUE(UsbWriteFlashChunk(usb(), 0x0240, chunk));
  std::fill_n(chunk, 64, 0x3C);
  ASSERT_TRUE(UsbWriteFlashChunk(usb(), 0x0240, chunk));  // no erase: bits only clear
  ASSERT_TRUE(UsbReadMemory(usb(), 0x0240, block));
  EXPECT_EQ(block[0], 0x30);
  EXPECT_EQ(block[63], 0x30);

  ASSERT_TRUE(UsbReadMemory(usb(), 0xFFF0, block));
  EXPECT_EQ(block[15], 0xFF);
  EXPECT_EQ(block[16], recorder().mcuFlash()[0]);

  ASSERT_TRUE(UsbReadMemory(usb(), 0xDE00, block));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block)), "SN-0001");
  uint8_t serial[21];
  std::fill_n(serial, 21, 0xAA);
  ASSERT_TRUE(UsbReadSerialNumber(usb(), serial));
  EXPECT_EQ(std::memcmp(serial, "SN-0001\0\0\0\0\0\0\0\0\0\0\0\0\0", 21), 0);
}

TEST_F(UsbFace, BulkNeedsAnOpenTransferOnItsPipe) {
  Start(Config(StartRoute::kUsb));
  uint8_t page[kNandPageBytes];
  uint32_t moved = 99;
  EXPECT_FALSE(usb().BulkTransfer(2, DataStage::In(ByteSpan(page, 64)), &moved));
  EXPECT_EQ(moved, 0u);
  ASSERT_TRUE(UsbNandReadSetup(usb(), 0, kNandPageBytes, 1, 1, 1, 0, 0));
  EXPECT_FALSE(usb().BulkTransfer(1, DataStage::In(ByteSpan(page, 64)), &moved));
  EXPECT_FALSE(usb().BulkTransfer(1, DataStage::Out(ConstByteSpan(page, 64)), &moved));
  ASSERT_TRUE(usb().BulkTransfer(2, DataStage::In(ByteSpan(page, 2000)), &moved));
  EXPECT_EQ(moved, 2000u);
  ASSERT_TRUE(usb().BulkTransfer(2, DataStage::In(ByteSpan(page + 2000, 2000)), &moved));
  EXPECT_EQ(moved, kNandPageBytes - 2000);  // the transfer ends with its page
  EXPECT_EQ(std::memcmp(page, recorder().nand().data(), kNandPageBytes), 0);
  EXPECT_FALSE(usb().BulkTransfer(2, DataStage::In(ByteSpan(page, 64)), &moved));
  EXPECT_FALSE(UsbNandReadSetup(usb(), 0, kNandPageBytes, 1, 1, 2, 63, 0));  // past block 0
}

TEST_F(UsbFace, CorruptReadbackFlipsOnlyTheLastImageByteOfPageEight) {
  RecorderConfig config = Config(StartRoute::kUsb);
  config.corruptReadback = true;
  Start(config);
  std::vector<uint8_t> block(kNandBlockSize);
  ASSERT_TRUE(UsbNandReadSetup(usb(), 0, kNandPageBytes, 1, 1, 64, 0, 0));
  usb().BulkRead(block);
  EXPECT_EQ(block, recorder().nand());  // only single-page reads are affected

  const uint8_t* stored = recorder().nand().data() + 8 * kNandPageBytes;
  ASSERT_TRUE(UsbNandReadSetup(usb(), 0, kNandPageBytes, 1, 1, 1, 8, 0));
  usb().BulkRead(ByteSpan(block).first(kNandPageBytes));
  std::vector<size_t> differing;
  for (size_t i = 0; i < kNandPageBytes; ++i) {
    if (block[i] != stored[i]) differing.push_back(i);
  }
  EXPECT_EQ(differing, std::vector<size_t>{575});
}

TEST_F(UsbFace, BootBlockRewriteLayoutVerdictsAndFaults) {
  const struct {
    const char* name;
    Verdict verdict;
    bool corrupt;
    uint8_t eraseStatus;
    bool result;
    bool verdictAsked;
    bool restarted;
  } cases[] = {
      {"accepted", Verdict::kAccept, false, 0, true, true, true},
      {"rejected", Verdict::kReject, false, 0, false, true, false},
      {"verdict request fails", Verdict::kFail, false, 0, true, true, true},
      {"read-back differs", Verdict::kAccept, true, 0, false, false, false},
      {"erase reports 1", Verdict::kAccept, false, 1, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecorderConfig config = Config(StartRoute::kUsb);
    config.bootLoaderVersion = 0x0005;
    config.verdict = c.verdict;
    config.corruptReadback = c.corrupt;
    config.nandEraseStatus = c.eraseStatus;
    Start(config);
    const std::vector<uint8_t> header(recorder().nand().begin(),
                                      recorder().nand().begin() + kNandPageBytes);
    const std::vector<uint8_t>& image = images().bootLoaders[1];

    EXPECT_EQ(UsbRewriteNandBootBlock(usb(), NandBootImage(image.data(), 15360)), c.result);
    const std::vector<std::string>& trace = host().trace();
    EXPECT_EQ(std::any_of(trace.begin(), trace.end(),
                          [](const std::string& l) { return l.find("req=0xC5") != l.npos; }),
              c.verdictAsked);
    EXPECT_EQ(recorder().restarts(), c.restarted ? 1 : 0);
    EXPECT_EQ(recorder().bootBlockAccepted(), c.restarted);
    EXPECT_EQ(recorder().bootLoaderVersion(), c.restarted ? kImageOldBootLoader : 0x0005);
    EXPECT_EQ(recorder().returnFace(), c.restarted ? Face::kDisk : Face::kUsb);

    const std::vector<uint8_t>& nand = recorder().nand();
    EXPECT_TRUE(std::equal(header.begin(), header.end(), nand.begin()));
    EXPECT_EQ(nand[2 * kNandPageBytes], image[2112]);
    EXPECT_EQ(nand[8 * kNandPageBytes + 575], image[15359]);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 15360, nand.begin() + kNandPageBytes));
    EXPECT_TRUE(AllErased(nand.data() + 8 * kNandPageBytes + 576, nand.data() + nand.size()));
  }
}

TEST(UsbSlot, OnlyEzusbZeroToEightWithTheirPrefix) {
  EXPECT_EQ(ParseUsbSlot("\\\\.\\ezusb-0"), 0);
  EXPECT_EQ(ParseUsbSlot("\\\\.\\ezusb-8"), 8);
  for (const char* path : {"\\\\.\\ezusb-9", "\\\\.\\ezusb-10", "ezusb-0", "\\\\.\\ezusb-"}) {
    EXPECT_EQ(ParseUsbSlot(path), -1) << path;
  }
}

}  // namespace
}  // namespace omr72::emu
