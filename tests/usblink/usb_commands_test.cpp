#include "usblink/usb_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/fakes/nine_devices.h"

namespace omr72 {
namespace {

using ::testing::ElementsAre;

// The wire's sizes, spelt out so that a wrong shared constant fails here.
constexpr uint16_t kNandPageSize = 2112;
constexpr uint32_t kNandBlockBytes = 135168;
constexpr uint32_t kNandBootImageBytes = 15360;

using fakes::Kind;
using UsbCall = fakes::Call;

struct UsbAnswer {
  bool ok = true;
  std::vector<uint8_t> data = {};      // copied even when !ok, as a driver may leave bytes behind
  std::optional<uint32_t> moved = {};  // bulk transfers: default data size (read), length (write)
};

// The recorder at ezusb-0 of the made-up host; its requests are answered as `script` says.
struct ScriptedRecorder {
  ScriptedRecorder() {
    host.usbSlots[0] = fakes::Slot{};
    host.answer = [this](const UsbCall& c) {
      const UsbAnswer a = script(c);
      return fakes::Answer{.ok = a.ok, .data = a.data, .moved = a.moved};
    };
  }
  // Vendor requests of that number, or bulk transfers of that kind.
  size_t Count(Kind kind, uint8_t request = 0) const {
    return std::count_if(log.begin(), log.end(), [&](const UsbCall& c) {
      return c.kind == kind && (kind != Kind::kVendor || c.request == request);
    });
  }
  fakes::NineDevices host;
  std::vector<UsbCall>& log = host.commands;  // descriptor requests belong to the link
  std::function<UsbAnswer(const UsbCall&)> script = [](const UsbCall&) { return UsbAnswer{}; };
};

constexpr uint32_t kNoFault = 0xFFFFFFFF;

struct CommandsTest : ::testing::Test {
  CommandsTest() { link.SetDeviceIds(0x10C4, 0x4512); }

  ScriptedRecorder usb;
  UsbLink link{usb.host.usb};
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
    if (c.kind == Kind::kVendor) {
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
                  c.kind == Kind::kBulkRead ? "in" : "out", c.pipe, moved);
    lines.push_back(text);
  }
  return lines;
}

std::string VendorLine(uint8_t direction, uint8_t request, uint16_t value, uint32_t length,
                       const std::vector<uint8_t>& sent = {}) {
  return Describe({UsbCall{.direction = direction,
                           .request = request,
                           .value = value,
                           .length = length,
                           .sent = sent}})[0];
}

// The set-up layout itself is checked byte by byte below.
std::string SetupLine(uint8_t request, uint32_t pageCount, uint32_t firstPage) {
  const NandTransferSetup setup = BuildNandTransferSetup(0, 2112, 1, 1, pageCount, firstPage, 0);
  return VendorLine(0, request, 0, 19, {setup.begin(), setup.end()});
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// --- Pure byte layouts -------------------------------------------------------------------

TEST(NandLayout, SetupAndEraseBlocksByteByByte) {
  EXPECT_THAT(BuildNandTransferSetup(0, 2112, 1, 1, 64, 0, 0),
              ElementsAre(0x00, 0x08, 0x40, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                          0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00));
  EXPECT_THAT(BuildNandTransferSetup(0, 2112, 1, 1, 1, 5, 0),
              ElementsAre(0x00, 0x08, 0x40, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                          0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00));
  // Every field in its place, big-endian.
  EXPECT_THAT(BuildNandTransferSetup(0xA1, 0xB2C3, 0xD4E5, 0xF607, 0x18293A4B, 0x5C6D7E8F, 0x9AAB),
              ElementsAre(0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0x00, 0x00, 0xF6, 0x07, 0x18, 0x29, 0x3A,
                          0x4B, 0x5C, 0x6D, 0x7E, 0x8F, 0x9A, 0xAB));
  // The erase request carries the block's first page, which outgrows 16 bits.
  EXPECT_THAT(BuildNandEraseRequest(0, 0), ElementsAre(0, 0, 0, 0, 0));
  EXPECT_THAT(BuildNandEraseRequest(0, 3), ElementsAre(0, 0, 0, 0, 0xC0));
  EXPECT_THAT(BuildNandEraseRequest(0x5A, 0xFFFF), ElementsAre(0x5A, 0x00, 0x3F, 0xFF, 0xC0));
}

// --- Single requests ---------------------------------------------------------------------

struct SingleRequestCase {
  const char* name;
  bool (*operation)(UsbLink&, std::span<uint8_t, 64> buffer);
  std::string expected;
};

class SingleRequest : public CommandsTest,
                      public ::testing::WithParamInterface<SingleRequestCase> {};

TEST_P(SingleRequest, SendsOneRequestAndReportsItsSuccess) {
  std::array<uint8_t, 64> buffer = {};
  EXPECT_TRUE(GetParam().operation(link, buffer));
  EXPECT_THAT(Describe(usb.log), ElementsAre(GetParam().expected));
  ASSERT_EQ(usb.log.size(), 1u);
  EXPECT_EQ(usb.log[0].buffer != nullptr, usb.log[0].length != 0);  // no data stage: no buffer

  usb.log.clear();
  usb.script = [](const UsbCall&) { return UsbAnswer{false}; };
  EXPECT_FALSE(GetParam().operation(link, buffer));
  EXPECT_EQ(usb.log.size(), 1u);
}

const std::vector<uint8_t> kChunk = Pattern(64, 3);

using Buffer64 = std::span<uint8_t, 64>;

const SingleRequestCase kSingleRequests[] = {
    {"ReadMemory", [](UsbLink& l, Buffer64 b) { return UsbReadMemory(l, 0x29F9, b); },
     "in 20 v=29F9 i=0 len=64"},
    {"Serial", [](UsbLink& l, Buffer64 b) { return UsbReadSerialNumber(l, b.first<21>()); },
     "in C1 v=0000 i=0 len=21"},
    {"ErasePage", [](UsbLink& l, Buffer64 b) { return UsbEraseFlashPage(l, 0x0200, b.first<2>()); },
     "in 22 v=0200 i=0 len=2"},
    {"Restart", [](UsbLink& l, Buffer64) { return UsbRestart(l); }, "in 23 v=0000 i=0 len=0"},
    {"ReadSetup", [](UsbLink& l, Buffer64) { return UsbNandReadSetup(l, 0, 2112, 1, 1, 64, 0, 0); },
     SetupLine(0xE0, 64, 0)},
    {"WriteSetup",
     [](UsbLink& l, Buffer64) { return UsbNandWriteSetup(l, 0, 2112, 1, 1, 1, 5, 0); },
     SetupLine(0xE1, 1, 5)},
    {"WriteChunk",
     [](UsbLink& l, Buffer64) {
       return UsbWriteFlashChunk(l, 0x1240, McuChunk(kChunk.data(), 64));
     },
     VendorLine(0, 0x21, 0x1240, 64, kChunk)},
};

INSTANTIATE_TEST_SUITE_P(Commands, SingleRequest, ::testing::ValuesIn(kSingleRequests),
                         [](const auto& info) { return info.param.name; });

// --- Versions ----------------------------------------------------------------------------

struct VersionCase {
  const char* name;
  UsbAnswer bootLoader;  // answer to 0x24
  UsbAnswer firmware;    // answer to 0xC6
  uint16_t expected;
  std::vector<std::string> requests;
  uint16_t firmwareVersion;  // what UsbGetFirmwareVersion makes of the 0xC6 answer
};

class Versions : public CommandsTest, public ::testing::WithParamInterface<VersionCase> {};

const std::string kAsk24 = "in 24 v=0000 i=0 len=2";
const std::string kAskC6 = "in C6 v=0000 i=0 len=2";

TEST_P(Versions, BootLoaderFallsBackOnTheFirmwareOnlyWhenUnanswered) {
  usb.script = [&](const UsbCall& c) {
    return c.request == 0x24 ? GetParam().bootLoader : GetParam().firmware;
  };
  EXPECT_EQ(UsbGetBootLoaderVersion(link), GetParam().expected);
  EXPECT_EQ(Describe(usb.log), GetParam().requests);

  usb.log.clear();
  EXPECT_EQ(UsbGetFirmwareVersion(link), GetParam().firmwareVersion);
  EXPECT_THAT(Describe(usb.log), ElementsAre(kAskC6));
}

// Versions are minor byte first; bytes left by a failed request are not a version.
const VersionCase kVersionCases[] = {
    {"FirmwareAnswers", {false}, {true, {3, 2}}, 0x0100, {kAsk24, kAskC6}, 0x0203},
    {"NeitherAnswers", {false}, {false}, 0, {kAsk24, kAskC6}, 0},
    {"FirmwareZero", {false}, {true, {0, 0}}, 0, {kAsk24, kAskC6}, 0},
    {"FailedWithBytes", {false, {5, 1}}, {false, {3, 2}}, 0, {kAsk24, kAskC6}, 0},
    {"BootLoaderZero", {true, {0, 0}}, {true, {3, 2}}, 0, {kAsk24}, 0x0203},
    {"BootLoader1_5", {true, {5, 1}}, {true, {3, 2}}, 0x0105, {kAsk24}, 0x0203},
};

INSTANTIATE_TEST_SUITE_P(Answers, Versions, ::testing::ValuesIn(kVersionCases),
                         [](const auto& info) { return info.param.name; });

// --- Microcontroller flash writer --------------------------------------------------------
// The writer's rule is tested with the writer; here, that it runs over the boot loader's 0x22
// and 0x21 and that a failed request reaches the result.

TEST_F(CommandsTest, McuFlashWriterErasesWith22AndWritesWith21) {
  const std::vector<uint8_t> image = Pattern(10752, 1);  // exactly what it may read
  for (size_t failing : {1u, 189u}) {                    // the first erase, the last chunk write
    usb.host.ClearLog();
    usb.script = [&](const UsbCall&) { return UsbAnswer{usb.log.size() != failing}; };
    EXPECT_FALSE(UsbWriteMcuFlash(link, McuImage(image.data(), 10752))) << failing;
  }
  ASSERT_EQ(usb.log.size(), 189u);
  EXPECT_EQ(Describe({usb.log[9]})[0], VendorLine(1, 0x22, 512, 2));
  const std::vector<uint8_t> last(image.begin() + 10688, image.end());
  EXPECT_EQ(Describe({usb.log[188]})[0], VendorLine(0, 0x21, 10688, 64, last));
}

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
    return c.request == 0xD1 ? GetParam().erase : GetParam().status;
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
// Where the image lands in NAND is checked against the emulated recorder.

struct NandFaults {
  uint32_t firstReadBytes = kNandBlockBytes;  // how much the first whole-block read delivers
  bool failFirstSetup = false;
  bool failFirstRead = false;
  uint32_t failReadBackOfPage = kNoFault;
  uint32_t flipOnReadBack = kNoFault;  // block offset changed on single-page reads
  uint8_t eraseStatus = 0;
  UsbAnswer verdict{true, {1}};
};

// Block 0 of the recorder's NAND: a set-up opens a transfer of its pages that the bulk
// transfers after it carry.
struct NandBlock {
  std::vector<uint8_t> bytes = Pattern(kNandBlockBytes, 0x5C);
  NandFaults faults;
  uint32_t position = 0;
  uint32_t end = 0;
  bool firstTransfer = true;  // until the erase, every transfer belongs to the first read

  UsbAnswer operator()(const UsbCall& c) {
    if (c.kind == Kind::kBulkRead) return Read(c.length);
    if (c.kind == Kind::kBulkWrite) return Write(c.sent);
    switch (c.request) {
      case 0xE0:
      case 0xE1:
        position = Be32(&c.sent[13]) * kNandPageSize;
        end = position + Be32(&c.sent[9]) * kNandPageSize;
        return {!(firstTransfer && faults.failFirstSetup)};
      case 0xD1:
        firstTransfer = false;
        std::fill(bytes.begin(), bytes.end(), 0xFF);
        return {};
      case 0xD2:
        return {true, {faults.eraseStatus}};
      case 0xC5:
        return faults.verdict;
    }
    return {false};
  }

  UsbAnswer Read(uint32_t length) {
    const bool single = end - position == kNandPageSize;
    if (firstTransfer && faults.failFirstRead) return {false};
    if (single && position / kNandPageSize == faults.failReadBackOfPage) return {false};
    uint32_t n = std::min(length, end - position);
    if (firstTransfer)
      n = std::min(n, faults.firstReadBytes - std::min(faults.firstReadBytes, position));
    std::vector<uint8_t> data(bytes.begin() + position, bytes.begin() + position + n);
    const uint32_t flip = faults.flipOnReadBack;
    if (single && flip >= position && flip < position + n) data[flip - position] ^= 0x01;
    position += n;
    return {true, data};
  }

  UsbAnswer Write(const std::vector<uint8_t>& data) {
    const uint32_t n = std::min<uint32_t>(data.size(), end - position);
    std::copy(data.begin(), data.begin() + n, bytes.begin() + position);
    position += n;
    return {true, {}, n};
  }
};

struct RewriteTest : CommandsTest {
  RewriteTest() {
    usb.script = [this](const UsbCall& c) { return nand(c); };
  }

  NandBlock nand;
  std::vector<uint8_t> image = Pattern(kNandBootImageBytes, 0x11);
};

TEST_F(RewriteTest, ReadsErasesWritesEachPageReadsBackAndAsks) {
  ASSERT_TRUE(UsbRewriteNandBootBlock(link, NandBootImage(image.data(), 15360)));

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

// Each page written and each page read back is told once, in order, right after its transfer;
// the requests that go out are the same as without anyone listening.
TEST_F(RewriteTest, TellsEachPageWrittenAndEachPageReadBack) {
  ASSERT_TRUE(UsbRewriteNandBootBlock(link, NandBootImage(image.data(), 15360)));
  const std::vector<std::string> unheard = Describe(usb.log);
  usb.log.clear();
  nand = NandBlock{};

  std::vector<std::string> told;
  const auto progress = [&](ProgressStage stage, uint32_t done, uint32_t total) {
    const std::string last = Describe(usb.log).back();
    told.push_back(std::string(stage == ProgressStage::kWrite ? "write " : "check ") +
                   std::to_string(done) + "/" + std::to_string(total) + " after " + last);
  };
  ASSERT_TRUE(UsbRewriteNandBootBlock(link, NandBootImage(image.data(), 15360), progress));
  EXPECT_EQ(Describe(usb.log), unheard);

  std::vector<std::string> expected;
  for (uint32_t page = 1; page <= 64; ++page) {
    expected.push_back("write " + std::to_string(page) + "/64 after bulk-out pipe 1: 2112");
  }
  for (uint32_t page = 1; page <= 63; ++page) {
    expected.push_back("check " + std::to_string(page) + "/63 after bulk-in pipe 2: 2112");
  }
  EXPECT_EQ(told, expected);
}

// How far a rewrite gets: no erase at all, a read-back that does not match, the verdict.
enum class Reached { kNoErase, kNoVerdict, kVerdict };

struct RewriteCase {
  const char* name;
  NandFaults faults;
  bool expected;
  Reached reached;
};

class RewriteOutcome : public RewriteTest, public ::testing::WithParamInterface<RewriteCase> {};

// The image ends in erased padding, so a page that does not come back leaves bytes that would
// still compare equal.
TEST_P(RewriteOutcome, OnlyAWholeBlockReadAndAWholeMatchingImageGetAVerdict) {
  std::fill(image.begin() + 10752, image.end(), 0xFF);
  nand.faults = GetParam().faults;
  const Reached reached = GetParam().reached;
  const std::vector<uint8_t> before = nand.bytes;

  EXPECT_EQ(UsbRewriteNandBootBlock(link, NandBootImage(image.data(), 15360)), GetParam().expected);
  EXPECT_EQ(usb.Count(Kind::kVendor, 0xC5), reached == Reached::kVerdict ? 1u : 0u);
  const size_t pages = reached == Reached::kNoErase ? 0 : 64;
  EXPECT_EQ(usb.Count(Kind::kVendor, 0xD1), pages ? 1u : 0u);
  EXPECT_EQ(usb.Count(Kind::kVendor, 0xE1), pages);
  EXPECT_EQ(usb.Count(Kind::kBulkWrite), pages);
  if (pages) {
    EXPECT_EQ(usb.Count(Kind::kVendor, 0xE0), pages);
  } else {
    EXPECT_EQ(nand.bytes, before);
  }
}

constexpr uint32_t kLastImageByte = 8 * kNandPageSize + 575;

INSTANTIATE_TEST_SUITE_P(
    Faults, RewriteOutcome,
    ::testing::Values(
        RewriteCase{"VerdictZero", {.verdict = {true, {0}}}, false, Reached::kVerdict},
        RewriteCase{"VerdictOne", {}, true, Reached::kVerdict},
        RewriteCase{"VerdictHigh", {.verdict = {true, {0x80}}}, true, Reached::kVerdict},
        RewriteCase{"VerdictFails", {.verdict = {false}}, true, Reached::kVerdict},
        RewriteCase{"EraseStatusOne", {.eraseStatus = 1}, true, Reached::kVerdict},
        RewriteCase{
            "LastImageByte", {.flipOnReadBack = kLastImageByte}, false, Reached::kNoVerdict},
        RewriteCase{
            "FirstByteAfterImage", {.flipOnReadBack = kLastImageByte + 1}, true, Reached::kVerdict},
        RewriteCase{"LastImagePageMissing", {.failReadBackOfPage = 8}, false, Reached::kNoVerdict},
        RewriteCase{"PageAfterImageMissing", {.failReadBackOfPage = 9}, true, Reached::kVerdict},
        RewriteCase{
            "OneByteShort", {.firstReadBytes = kNandBlockBytes - 1}, false, Reached::kNoErase},
        RewriteCase{"OnlyPageZero", {.firstReadBytes = kNandPageSize}, false, Reached::kNoErase},
        RewriteCase{"NothingArrives", {.firstReadBytes = 0}, false, Reached::kNoErase},
        RewriteCase{"TransferFails", {.failFirstRead = true}, false, Reached::kNoErase},
        RewriteCase{"SetupFails", {.failFirstSetup = true}, false, Reached::kNoErase}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace omr72
