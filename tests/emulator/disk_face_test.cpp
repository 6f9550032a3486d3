// The disk face: INQUIRY, the flash-parameter record, the service commands' shapes and the
// page store.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>

#include "emulator/emulated_pass_through.h"
#include "tests/emulator/emulator_fixture.h"
#include "tests/fakes/nine_devices.h"

namespace omr72::emu {
namespace {

using ::testing::_;
using ::testing::ElementsAre;

class DiskFace : public EmulatorTest {
 protected:
  void SetUp() override { Start(RecorderConfig{}); }
  // One raw command on the recorder's drive; the status, or -1 when it did not complete.
  int Raw(const Cdb& cdb, uint8_t dataIn, uint32_t length, uint8_t* buffer) {
    std::unique_ptr<ScsiDrive> drive = host().scsi().Open("\\\\.\\PHYSICALDRIVE1");
    uint8_t status = 0xEE;
    const ByteSpan bytes(buffer, length);
    const ScsiRequest request{.cdb = cdb,
                              .data = dataIn == 1 ? DataStage::In(bytes) : DataStage::Out(bytes)};
    return drive && drive->Execute(request, status) ? status : -1;
  }
};

TEST_F(DiskFace, InquiryMatchesTheTemplateAndGoesOnBeyondIt) {
  std::vector<uint8_t> reply(2048, 0xAA);
  ASSERT_EQ(Raw(Cdb{0x12}, kDataIn, 2048, reply.data()), 0);
  EXPECT_TRUE(
      std::equal(fakes::kRecorderInquiry.begin(), fakes::kRecorderInquiry.end(), reply.begin()));
  EXPECT_EQ(reply[kRecorderInquiryBytes - 1], 0x00);
  EXPECT_EQ(reply[kRecorderInquiryBytes], 0xAA);  // nothing past what the recorder sends
  EXPECT_TRUE(scsi().IsConnected());
  EXPECT_EQ(scsi().DriveDigit(), '1');
}

// The firmware answers INQUIRY by its CDB: standard data for EVPD 0 whatever the allocation
// length (the program sends 0), CHECK CONDITION for vital product data it does not have, so a
// program that sent another INQUIRY would not find the recorder.
TEST_F(DiskFace, InquiryIsAnsweredByItsCdb) {
  const struct {
    const char* name;
    uint8_t evpd;
    uint8_t page;
    uint16_t allocation;
    int status;
  } rows[] = {
      {"standard, allocation 0 as the program sends it", 0, 0, 0, 0},
      {"standard, allocation 36", 0, 0, 36, 0},
      {"standard, allocation 255", 0, 0, 255, 0},
      {"supported-pages list", 1, 0x00, 255, kCheckCondition},
      {"unit serial number page", 1, 0x80, 255, kCheckCondition},
      {"device identification page", 1, 0x83, 255, kCheckCondition},
      {"page code without EVPD", 0, 0x80, 255, kCheckCondition},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Cdb cdb = {0x12, row.evpd, row.page, static_cast<uint8_t>(row.allocation >> 8),
                     static_cast<uint8_t>(row.allocation)};
    std::vector<uint8_t> reply(2048, 0xAA);
    EXPECT_EQ(Raw(cdb, kDataIn, 2048, reply.data()), row.status);
    const bool standard =
        std::equal(wire::kInquiryTemplate.begin(), wire::kInquiryTemplate.end(), reply.begin());
    EXPECT_EQ(standard, row.status == 0);
  }
  EXPECT_TRUE(host().trace().empty());  // presence tests leave no line, answered or not
}

TEST_F(DiskFace, FlashParamsRecordByteForByte) {
  RecorderConfig config;
  config.serial = "ABCDEFGHIJKLMNOPQRST";
  config.firmwareVersion = 0x0105;
  Start(config);
  std::vector<uint8_t> record(40);
  ASSERT_EQ(Raw(BuildServiceCdb(3), kDataIn, 40, record.data()), 0);
  // Page count, pages per block and page size big-endian; the version minor byte first.
  EXPECT_THAT(std::vector<uint8_t>(record.begin() + 1, record.begin() + 5),
              ElementsAre(0x00, 0x04, 0x00, 0x00));
  EXPECT_THAT(std::vector<uint8_t>(record.begin() + 11, record.begin() + 16),
              ElementsAre(0x00, 0x40, _, 0x08, 0x00));
  EXPECT_EQ(std::string(record.begin() + 17, record.begin() + 37), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_THAT(std::vector<uint8_t>(record.begin() + 38, record.end()), ElementsAre(0x05, 0x01));
  ASSERT_TRUE(scsi().IsConnected());
  ASSERT_TRUE(ScsiGetFlashParams(scsi()));
  EXPECT_EQ(FlashParamsPageSize(scsi().flashParams), 2048);
}

// The commands the links send are accepted in every flow; here, the shapes that are refused.
TEST_F(DiskFace, CommandsNeedTheirDirectionAndLength) {
  struct Row {
    const char* name;
    Cdb cdb;
    uint8_t dataIn;
    uint32_t length;
    int status;
  };
  const Row rows[] = {
      {"read memory, out", BuildServiceAddressCdb(10, 0x29F9), kDataOut, 64, 2},
      {"read memory, 63 bytes", BuildServiceAddressCdb(10, 0x29F9), kDataIn, 63, 2},
      {"write chunk, in", BuildServiceAddressCdb(11, 0x2000), kDataIn, 64, 2},
      {"erase page, out", BuildServiceAddressCdb(9, 0x2000), kDataOut, 0, 2},
      {"flash params, 36 bytes", BuildServiceCdb(3), kDataIn, 36, 2},
      {"serial, 20 bytes", BuildServiceCdb(12), kDataOut, 20, 2},
      {"read pages, one page short", BuildReadPagesCdb(7, 2), kDataIn, 2048, 2},
      {"unknown sub-command", BuildServiceCdb(7), kDataIn, 0, 2},
      {"unknown opcode", Cdb{0x2A}, kDataOut, 0, 2},
  };
  std::vector<uint8_t> buffer(4096, 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Raw(row.cdb, row.dataIn, row.length, row.length ? buffer.data() : nullptr),
              row.status);
  }
  EXPECT_EQ(recorder().restarts(), 0);
}

TEST_F(DiskFace, PagesAndPartsOfPages) {
  ASSERT_TRUE(scsi().IsConnected());
  std::vector<uint8_t> pages(2 * kDiskPageSize);
  for (size_t i = 0; i < pages.size(); ++i) pages[i] = static_cast<uint8_t>(i / 7);
  ASSERT_TRUE(ScsiWritePages(scsi(), 0x3FFFE, 2, pages));

  std::vector<uint8_t> back(3 * kDiskPageSize);
  ASSERT_TRUE(ScsiReadPages(scsi(), 0x3FFFE, 3, back));
  EXPECT_TRUE(std::equal(pages.begin(), pages.end(), back.begin()));
  EXPECT_TRUE(std::all_of(back.begin() + pages.size(), back.end(),
                          [](uint8_t b) { return b == 0xFF; }));  // never written

  uint8_t parts[3 * 16];
  ASSERT_TRUE(ScsiReadPartsOfPages(scsi(), 0x3FFFD, 3, 16, 1, 100, parts));
  EXPECT_TRUE(std::all_of(parts, parts + 16, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(parts + 16, parts + 32, pages.begin() + 100));
  EXPECT_TRUE(std::equal(parts + 32, parts + 48, pages.begin() + kDiskPageSize + 100));
  EXPECT_FALSE(
      ScsiReadPartsOfPages(scsi(), 0, 1, 16, 1, 2040, ByteSpan(parts, 16)));  // past the page
}

TEST_F(DiskFace, SerialRecordReplacesFlashCopyToo) {
  ASSERT_TRUE(scsi().IsConnected());
  const uint8_t serial[21] = {'A', 'B', 'C', 'D', 'E', 'W', '1', '2', '3', '4', '5',
                              '6', '7', '8', '9', '0', 'A', 'B', 'C', 'D', 'E'};
  ASSERT_TRUE(ScsiWriteSerialNumber(scsi(), serial));
  EXPECT_TRUE(std::equal(serial, serial + 21, recorder().serialRecord().begin()));
  uint8_t block[64];
  ASSERT_TRUE(ScsiReadMemory(scsi(), 0xDE00, block));
  EXPECT_EQ(std::memcmp(block, serial, 20), 0);
  EXPECT_EQ(block[20], 0xFF);  // the flash copy holds 20 bytes
  ASSERT_TRUE(ScsiGetFlashParams(scsi()));
  EXPECT_EQ(std::memcmp(FlashParamsSerialNumber(scsi().flashParams).data(), serial, 20), 0);
}

}  // namespace
}  // namespace omr72::emu
