#include "usblink/usb_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/usblink/fake_recorder_usb.h"

namespace omr72 {
namespace {

using test::FakeRecorderUsb;
using test::UsbAnswer;
using test::UsbCall;
using test::UsbCallKind;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr uint32_t kNandFaultNone = 0xFFFFFFFF;

struct CommandsTest : ::testing::Test {
  CommandsTest() { link.SetDeviceIds(kRecorderVendorId, kRecorderProductId); }

  FakeRecorderUsb usb;
  UsbLink link{usb};
};

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251 + seed));
  return bytes;
}

// One line per vendor request; consecutive bulk transfers of one direction are one line with
// the bytes moved, since how the link cuts them into chunks is its own business.
std::vector<std::string> Describe(const std::vector<UsbCall>& log) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < log.size(); ++i) {
    const UsbCall& c = log[i];
    char text[64];
    if (c.kind == UsbCallKind::kVendor) {
      std::snprintf(text, sizeof text, "%s %02X v=%04X i=%u len=%u", c.direction ? "in" : "out",
                    c.request, c.value, c.index, c.length);
      std::string line = text;
      for (uint8_t b : c.sent) {
        std::snprintf(text, sizeof text, " %02X", b);
        line += text;
      }
      lines.push_back(line);
      continue;
    }
    uint32_t moved = c.moved;
    while (i + 1 < log.size() && log[i + 1].kind == c.kind) moved += log[++i].moved;
    std::snprintf(text, sizeof text, "bulk-%s pipe %u: %u",
                  c.kind == UsbCallKind::kBulkRead ? "in" : "out", c.pipe, moved);
    lines.push_back(text);
  }
  return lines;
}

std::string VendorLine(uint8_t direction, uint8_t request, uint16_t value, uint32_t length,
                       const std::vector<uint8_t>& sent = {}) {
  UsbCall call;
  call.direction = direction;
  call.request = request;
  call.value = value;
  call.length = length;
  call.sent = sent;
  return Describe({call})[0];
}

// The set-up layout itself is checked byte by byte below.
std::string SetupLine(uint8_t request, uint32_t pageCount, uint32_t firstPage) {
  const NandTransferSetup setup = BuildNandTransferSetup(0, 2112, 1, 1, pageCount, firstPage, 0);
  return VendorLine(kUsbDirectionOut, request, 0, 19, {setup.begin(), setup.end()});
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// --- Pure byte layouts -------------------------------------------------------------------

TEST(NandLayout, TransferSetupMatchesTheKnownBlocks) {
  EXPECT_THAT(BuildNandTransferSetup(0, 2112, 1, 1, 64, 0, 0),
              ElementsAre(0x00, 0x08, 0x40, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                          0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00));
  EXPECT_THAT(BuildNandTransferSetup(0, 2112, 1, 1, 1, 5, 0),
              ElementsAre(0x00, 0x08, 0x40, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                          0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00));
}

TEST(NandLayout, TransferSetupPlacesEveryFieldBigEndian) {
  EXPECT_THAT(BuildNandTransferSetup(0xA1, 0xB2C3, 0xD4E5, 0xF607, 0x18293A4B, 0x5C6D7E8F, 0x9AAB),
              ElementsAre(0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x00, 0x00, 0xF6, 0x07, 0x18, 0x29, 0x3A,
                          0x4B, 0x5C, 0x6D, 0x7E, 0x8F, 0x9A, 0xAB));
}

TEST(NandLayout, EraseRequestCarriesTheFirstPageOfTheBlock) {
  EXPECT_THAT(BuildNandEraseRequest(0, 0), ElementsAre(0, 0, 0, 0, 0));
  EXPECT_THAT(BuildNandEraseRequest(0, 3), ElementsAre(0, 0, 0, 0, 0xC0));
  // The page number outgrows 16 bits.
  EXPECT_THAT(BuildNandEraseRequest(0x5A, 0xFFFF), ElementsAre(0x5A, 0x00, 0x3F, 0xFF, 0xC0));
}

// --- Single requests ---------------------------------------------------------------------

struct SingleRequestCase {
  const char* name;
  std::function<bool(UsbLink&)> operation;
  std::string expected;
};

class SingleRequest : public CommandsTest,
                      public ::testing::WithParamInterface<SingleRequestCase> {};

TEST_P(SingleRequest, SendsOneRequestAndReportsItsSuccess) {
  EXPECT_TRUE(GetParam().operation(link));
  EXPECT_THAT(Describe(usb.log), ElementsAre(GetParam().expected));

  usb.log.clear();
  usb.script = [](const UsbCall&) { return UsbAnswer{false}; };
  EXPECT_FALSE(GetParam().operation(link));
  EXPECT_EQ(usb.log.size(), 1u);
}

const std::vector<uint8_t> kChunk = Pattern(64, 3);

INSTANTIATE_TEST_SUITE_P(
    Commands, SingleRequest,
    ::testing::Values(
        SingleRequestCase{"ReadMemory",
                          [](UsbLink& l) {
                            uint8_t flash[64];
                            return UsbReadMemory(l, 0x29F9, flash);
                          },
                          "in 20 v=29F9 i=0 len=64"},
        SingleRequestCase{"Serial",
                          [](UsbLink& l) {
                            uint8_t serial[21];
                            return UsbReadSerialNumber(l, serial);
                          },
                          "in C1 v=0000 i=0 len=21"},
        SingleRequestCase{"ErasePage",
                          [](UsbLink& l) {
                            uint8_t reply[2];
                            return UsbEraseFlashPage(l, 0x0200, reply);
                          },
                          "in 22 v=0200 i=0 len=2"},
        SingleRequestCase{"Restart", [](UsbLink& l) { return UsbRestart(l); },
                          "in 23 v=0000 i=0 len=0"},
        SingleRequestCase{"ReadSetup",
                          [](UsbLink& l) { return UsbNandReadSetup(l, 0, 2112, 1, 1, 64, 0, 0); },
                          SetupLine(0xE0, 64, 0)},
        SingleRequestCase{"WriteSetup",
                          [](UsbLink& l) { return UsbNandWriteSetup(l, 0, 2112, 1, 1, 1, 5, 0); },
                          SetupLine(0xE1, 1, 5)},
        SingleRequestCase{"WriteChunk",
                          [](UsbLink& l) { return UsbWriteFlashChunk(l, 0x1240, kChunk.data()); },
                          VendorLine(kUsbDirectionOut, 0x21, 0x1240, 64, kChunk)}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandsTest, RestartHasNoDataStage) {
  UsbRestart(link);
  ASSERT_EQ(usb.log.size(), 1u);
  EXPECT_FALSE(usb.log[0].hasBuffer);
}

TEST_F(CommandsTest, MemoryReadLandsInTheCallersBuffer) {
  const std::vector<uint8_t> flash = Pattern(64, 9);
  usb.script = [&](const UsbCall&) { return UsbAnswer{true, flash}; };
  uint8_t buffer[64] = {};
  ASSERT_TRUE(UsbReadMemory(link, 0xDE00, buffer));
  EXPECT_THAT(buffer, ElementsAreArray(flash));
}

// --- Versions ----------------------------------------------------------------------------

struct VersionCase {
  const char* name;
  UsbAnswer bootLoader;  // answer to 0x24
  UsbAnswer firmware;    // answer to 0xC6
  uint16_t expected;
  std::vector<std::string> requests;
};

class BootLoaderVersion : public CommandsTest, public ::testing::WithParamInterface<VersionCase> {};

const std::string kAsk24 = "in 24 v=0000 i=0 len=2";
const std::string kAskC6 = "in C6 v=0000 i=0 len=2";

TEST_P(BootLoaderVersion, FallsBackOnTheFirmwareOnlyWhenUnanswered) {
  usb.script = [&](const UsbCall& c) {
    return c.request == USB_REQ_GET_BOOT_LOADER_VERSION ? GetParam().bootLoader
                                                        : GetParam().firmware;
  };
  EXPECT_EQ(UsbGetBootLoaderVersion(link), GetParam().expected);
  EXPECT_EQ(Describe(usb.log), GetParam().requests);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BootLoaderVersion,
    ::testing::Values(
        VersionCase{"FirmwareAnswers", {false}, {true, {3, 2}}, 0x0100, {kAsk24, kAskC6}},
        VersionCase{"NeitherAnswers", {false}, {false}, 0, {kAsk24, kAskC6}},
        VersionCase{"FirmwareZero", {false}, {true, {0, 0}}, 0, {kAsk24, kAskC6}},
        // Bytes left by a failed request are not a version.
        VersionCase{"FailedWithBytes", {false, {5, 1}}, {false, {3, 2}}, 0, {kAsk24, kAskC6}},
        VersionCase{"BootLoaderZero", {true, {0, 0}}, {true, {3, 2}}, 0, {kAsk24}},
        VersionCase{"BootLoader1_5", {true, {5, 1}}, {true, {3, 2}}, 0x0105, {kAsk24}}),
    [](const auto& info) { return info.param.name; });

TEST_F(CommandsTest, FirmwareVersionIsMinorFirstAndZeroOnFailure) {
  usb.script = [](const UsbCall&) { return UsbAnswer{true, {3, 2}}; };
  EXPECT_EQ(UsbGetFirmwareVersion(link), 0x0203);
  usb.script = [](const UsbCall&) { return UsbAnswer{false, {3, 2}}; };
  EXPECT_EQ(UsbGetFirmwareVersion(link), 0);
  EXPECT_THAT(Describe(usb.log), ElementsAre(kAskC6, kAskC6));
}

// --- Microcontroller flash writer --------------------------------------------------------

class McuFlashWriter : public CommandsTest, public ::testing::WithParamInterface<int> {};

// -1: nothing fails; otherwise the index of the one request that fails.
TEST_P(McuFlashWriter, SendsEveryPageWhateverFailsAndAndsTheResults) {
  const std::vector<uint8_t> image = Pattern(10752, 1);  // exactly what it may read
  int count = 0;
  usb.script = [&](const UsbCall&) { return UsbAnswer{count++ != GetParam()}; };

  EXPECT_EQ(UsbWriteMcuFlash(link, image.data()), GetParam() < 0);

  ASSERT_EQ(usb.log.size(), 189u);
  for (uint16_t page = 0; page < 21; ++page) {
    EXPECT_EQ(Describe({usb.log[page * 9]})[0], VendorLine(kUsbDirectionIn, 0x22, page * 512, 2));
    for (uint16_t chunk = 0; chunk < 8; ++chunk) {
      const uint16_t address = page * 512 + chunk * 64;
      const std::vector<uint8_t> bytes(image.begin() + address, image.begin() + address + 64);
      EXPECT_EQ(Describe({usb.log[page * 9 + 1 + chunk]})[0],
                VendorLine(kUsbDirectionOut, 0x21, address, 64, bytes));
    }
  }
  EXPECT_EQ(usb.log[20 * 9 + 1].value, 10240);
  EXPECT_EQ(usb.log[20 * 9 + 8].value, 10688);
}

// Nothing fails; the first erase; a write in page 7; the very last write.
INSTANTIATE_TEST_SUITE_P(Failures, McuFlashWriter, ::testing::Values(-1, 0, 7 * 9 + 4, 188));

// --- NAND block erase --------------------------------------------------------------------

struct EraseCase {
  const char* name;
  UsbAnswer erase;
  UsbAnswer status;
  bool expected;
};

class NandErase : public CommandsTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(NandErase, JudgesByTheStatusByteAlone) {
  usb.script = [&](const UsbCall& c) {
    return c.request == USB_REQ_NAND_ERASE_BLOCK ? GetParam().erase : GetParam().status;
  };
  EXPECT_EQ(UsbNandEraseBlock(link, 0, 3), GetParam().expected);
  EXPECT_THAT(Describe(usb.log),
              ElementsAre("out D1 v=0000 i=0 len=5 00 00 00 00 C0", "in D2 v=0000 i=0 len=1"));
}

INSTANTIATE_TEST_SUITE_P(Statuses, NandErase,
                         ::testing::Values(EraseCase{"Zero", {}, {true, {0}}, true},
                                           EraseCase{"One", {}, {true, {1}}, false},
                                           EraseCase{"StatusFails", {}, {false}, true},
                                           EraseCase{"EraseFails", {false}, {true, {0}}, true}),
                         [](const auto& info) { return info.param.name; });

// --- NAND boot-block rewrite -------------------------------------------------------------

// Block 0 of the recorder's NAND: a set-up opens a transfer of its pages that the bulk
// transfers after it carry. Faults are switched on by the tests.
struct NandBlock {
  std::vector<uint8_t> bytes = Pattern(kNandBlockBytes, 0x5C);
  uint32_t position = 0;
  uint32_t end = 0;
  bool firstTransfer = true;  // until the erase, every transfer belongs to the first read
  uint32_t firstReadBytes = kNandBlockBytes;  // how much the first whole-block read delivers
  bool failFirstSetup = false;
  bool failFirstRead = false;
  uint32_t failReadBackOfPage = kNandFaultNone;
  uint32_t flipOnReadBack = kNandFaultNone;  // block offset changed on single-page reads
  uint8_t eraseStatus = 0;
  UsbAnswer verdict{true, {1}};

  UsbAnswer operator()(const UsbCall& c) {
    if (c.kind == UsbCallKind::kBulkRead) return Read(c.length);
    if (c.kind == UsbCallKind::kBulkWrite) return Write(c.sent);
    switch (c.request) {
      case USB_REQ_NAND_READ_SETUP:
      case USB_REQ_NAND_WRITE_SETUP:
        return Setup(c);
      case USB_REQ_NAND_ERASE_BLOCK:
        firstTransfer = false;
        std::fill(bytes.begin(), bytes.end(), 0xFF);
        return {};
      case USB_REQ_NAND_ERASE_STATUS:
        return {true, {eraseStatus}};
      case USB_REQ_BOOT_BLOCK_VERDICT:
        return verdict;
    }
    return {false};
  }

  UsbAnswer Setup(const UsbCall& c) {
    const uint32_t count = Be32(&c.sent[9]);
    const uint32_t first = Be32(&c.sent[13]);
    position = first * kNandPageSize;
    end = (first + count) * kNandPageSize;
    if (firstTransfer && failFirstSetup) return {false};
    return {};
  }

  UsbAnswer Read(uint32_t length) {
    const bool single = end - position == kNandPageSize;
    const bool first = firstTransfer;
    if (first && failFirstRead) return {false};
    if (single && position / kNandPageSize == failReadBackOfPage) return {false};
    uint32_t n = std::min(length, end - position);
    if (first) n = std::min(n, firstReadBytes - std::min(firstReadBytes, position));
    std::vector<uint8_t> data(bytes.begin() + position, bytes.begin() + position + n);
    if (single && flipOnReadBack >= position && flipOnReadBack < position + n) {
      data[flipOnReadBack - position] ^= 0x01;
    }
    position += n;
    return {true, data};
  }

  UsbAnswer Write(const std::vector<uint8_t>& data) {
    const uint32_t n = std::min<uint32_t>(data.size(), end - position);
    std::copy(data.begin(), data.begin() + n, bytes.begin() + position);
    position += n;
    return {true, {}, n};
  }

  const uint8_t* Page(uint32_t page) const { return bytes.data() + page * kNandPageSize; }
};

struct RewriteTest : CommandsTest {
  RewriteTest() {
    usb.script = [this](const UsbCall& c) { return nand(c); };
  }
  size_t BulkWrites() const {
    return std::count_if(usb.log.begin(), usb.log.end(),
                         [](const UsbCall& c) { return c.kind == UsbCallKind::kBulkWrite; });
  }

  NandBlock nand;
  std::vector<uint8_t> image = Pattern(kNandBootImageBytes, 0x11);
};

TEST_F(RewriteTest, ReadsErasesWritesEachPageReadsBackAndAsks) {
  ASSERT_TRUE(UsbRewriteNandBootBlock(link, image.data()));

  std::vector<std::string> expected = {SetupLine(0xE0, 64, 0), "bulk-in pipe 2: 135168",
                                       "out D1 v=0000 i=0 len=5 00 00 00 00 00",
                                       "in D2 v=0000 i=0 len=1"};
  for (uint32_t page = 0; page < 64; ++page) {
    expected.push_back(SetupLine(0xE1, 1, page));
    expected.push_back("bulk-out pipe 1: 2112");
  }
  for (uint32_t page = 1; page < 64; ++page) {
    expected.push_back(SetupLine(0xE0, 1, page));
    expected.push_back("bulk-in pipe 2: 2112");
  }
  expected.push_back("in C5 v=0000 i=0 len=1");
  EXPECT_EQ(Describe(usb.log), expected);
}

TEST_F(RewriteTest, ImageRunsFromPageOneAcrossPagesAndPageZeroIsKept) {
  const std::vector<uint8_t> oldPageZero(nand.Page(0), nand.Page(1));
  ASSERT_TRUE(UsbRewriteNandBootBlock(link, image.data()));

  EXPECT_THAT(std::vector<uint8_t>(nand.Page(0), nand.Page(1)), ElementsAreArray(oldPageZero));
  EXPECT_THAT(std::vector<uint8_t>(nand.Page(1), nand.Page(1) + 15360), ElementsAreArray(image));
  EXPECT_EQ(nand.Page(2)[0], image[2112]);
  EXPECT_EQ(nand.Page(8)[575], image[15359]);
  // Pages 1..63 held other data before; the rest must be written as erased flash.
  for (uint32_t offset = 8 * kNandPageSize + 576; offset < kNandBlockBytes; ++offset) {
    ASSERT_EQ(nand.bytes[offset], 0xFF) << offset;
  }
}

struct VerdictCase {
  const char* name;
  UsbAnswer verdict;
  bool expected;
};

class RewriteVerdict : public RewriteTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(RewriteVerdict, TheRecordersByteDecides) {
  nand.verdict = GetParam().verdict;
  EXPECT_EQ(UsbRewriteNandBootBlock(link, image.data()), GetParam().expected);
  EXPECT_EQ(usb.CountRequest(USB_REQ_BOOT_BLOCK_VERDICT), 1u);
}

INSTANTIATE_TEST_SUITE_P(Verdicts, RewriteVerdict,
                         ::testing::Values(VerdictCase{"Zero", {true, {0}}, false},
                                           VerdictCase{"One", {true, {1}}, true},
                                           VerdictCase{"High", {true, {0x80}}, true},
                                           VerdictCase{"RequestFails", {false}, true}),
                         [](const auto& info) { return info.param.name; });

TEST_F(RewriteTest, FailedEraseStatusDoesNotStopTheRewrite) {
  nand.eraseStatus = 1;
  EXPECT_TRUE(UsbRewriteNandBootBlock(link, image.data()));
  EXPECT_EQ(usb.CountRequest(USB_REQ_NAND_WRITE_SETUP), 64u);
  EXPECT_EQ(usb.CountRequest(USB_REQ_NAND_READ_SETUP), 64u);
  EXPECT_EQ(usb.CountRequest(USB_REQ_BOOT_BLOCK_VERDICT), 1u);
}

struct ReadBackCase {
  const char* name;
  uint32_t flip;      // block offset altered on the way back
  uint32_t failPage;  // page whose read-back transfer fails
  bool expected;
};

class RewriteReadBack : public RewriteTest, public ::testing::WithParamInterface<ReadBackCase> {};

// The image ends in erased padding, so a page that does not come back leaves bytes that would
// still compare equal.
TEST_P(RewriteReadBack, OnlyAWholeMatchingImageGetsAVerdict) {
  std::fill(image.begin() + 10752, image.end(), 0xFF);
  nand.flipOnReadBack = GetParam().flip;
  nand.failReadBackOfPage = GetParam().failPage;
  EXPECT_EQ(UsbRewriteNandBootBlock(link, image.data()), GetParam().expected);
  EXPECT_EQ(usb.CountRequest(USB_REQ_BOOT_BLOCK_VERDICT), GetParam().expected ? 1u : 0u);
  EXPECT_EQ(usb.CountRequest(USB_REQ_NAND_READ_SETUP), 64u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RewriteReadBack,
    ::testing::Values(ReadBackCase{"LastImageByte", 8 * kNandPageSize + 575, kNandFaultNone, false},
                      ReadBackCase{"FirstByteAfterImage", 8 * kNandPageSize + 576, kNandFaultNone,
                                   true},
                      ReadBackCase{"LastImagePageMissing", kNandFaultNone, 8, false},
                      ReadBackCase{"PageAfterImageMissing", kNandFaultNone, 9, true}),
    [](const auto& info) { return info.param.name; });

struct FirstReadCase {
  const char* name;
  bool failSetup;
  bool failRead;
  uint32_t delivered;
};

class RewriteFirstRead : public RewriteTest, public ::testing::WithParamInterface<FirstReadCase> {};

TEST_P(RewriteFirstRead, EndsBeforeTheEraseUnlessTheWholeBlockCameIn) {
  nand.failFirstSetup = GetParam().failSetup;
  nand.failFirstRead = GetParam().failRead;
  nand.firstReadBytes = GetParam().delivered;
  const std::vector<uint8_t> before = nand.bytes;

  EXPECT_FALSE(UsbRewriteNandBootBlock(link, image.data()));
  EXPECT_EQ(usb.CountRequest(USB_REQ_NAND_ERASE_BLOCK), 0u);
  EXPECT_EQ(usb.CountRequest(USB_REQ_NAND_WRITE_SETUP), 0u);
  EXPECT_EQ(BulkWrites(), 0u);
  EXPECT_EQ(nand.bytes, before);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RewriteFirstRead,
    ::testing::Values(FirstReadCase{"OneByteShort", false, false, kNandBlockBytes - 1},
                      FirstReadCase{"OnlyPageZero", false, false, kNandPageSize},
                      FirstReadCase{"NothingArrives", false, false, 0},
                      FirstReadCase{"TransferFails", false, true, kNandBlockBytes},
                      FirstReadCase{"SetupFails", true, false, kNandBlockBytes}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace omr72
