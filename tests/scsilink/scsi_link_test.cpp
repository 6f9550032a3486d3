// The disk link against a host whose nine drives the test lays out.
#include "scsilink/scsi_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace omr72 {
namespace {

struct Drive {
  std::vector<uint8_t> inquiry;  // what INQUIRY delivers
  bool completes = true;
  uint8_t status = 0;
};

struct Sent {
  int drive;
  ScsiRequest request;
};

class DriveHost : public ScsiPassThrough {
 public:
  std::array<std::optional<Drive>, 9> drives;
  std::vector<Sent> sent;
  std::vector<int> opened;

  std::unique_ptr<ScsiDrive> Open(const char* deviceName) override {
    const std::string name = deviceName;
    EXPECT_EQ(name.substr(0, 17), "\\\\.\\PHYSICALDRIVE") << name;
    const int digit = name.back() - '0';
    if (digit < 0 || digit > 8 || !drives[digit]) return nullptr;
    opened.push_back(digit);
    return std::make_unique<OpenDrive>(*this, digit);
  }

  std::vector<int> NonInquiryDrives() const {
    std::vector<int> out;
    for (const Sent& s : sent) {
      if (s.request.cdb[0] != 0x12) out.push_back(s.drive);
    }
    return out;
  }

 private:
  class OpenDrive : public ScsiDrive {
   public:
    OpenDrive(DriveHost& host, int digit) : host_(host), digit_(digit) {}
    bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
      host_.sent.push_back({digit_, request});
      const Drive& d = *host_.drives[digit_];
      if (!d.completes) return false;
      const ByteSpan in = request.data.in();
      if (request.cdb[0] == 0x12) {
        std::copy_n(d.inquiry.begin(), std::min(d.inquiry.size(), in.size()), in.begin());
      }
      scsiStatus = d.status;
      return true;
    }

   private:
    DriveHost& host_;
    int digit_;
  };
};

std::vector<uint8_t> RecorderInquiry(size_t length = 96) {
  std::vector<uint8_t> reply(length, 0x5A);
  static const uint8_t kStandard[36] = {0x00, 0x80, 0x05, 0x02, 0x20, 0x00, 0x80, 0x00, 'C',
                                        'o',  'o',  'l',  ' ',  0x00, ' ',  ' ',  'M',  'a',
                                        's',  's',  ' ',  'S',  't',  'o',  'r',  'a',  'g',
                                        'e',  ' ',  0x00, ' ',  ' ',  0x00, 0x00, 0x00, 0x01};
  for (size_t i = 0; i < sizeof kStandard && i < length; ++i) reply[i] = kStandard[i];
  return reply;
}

Drive Recorder() {
  return Drive{RecorderInquiry()};
}

Drive ForeignDisk() {
  std::vector<uint8_t> reply(36, ' ');
  reply[0] = 0;
  reply[4] = 0x1F;
  const char vendor[] = "ATA     SAMSUNG SSD 870 ";
  std::copy(vendor, vendor + 24, reply.begin() + 8);
  return Drive{reply};
}

Drive Altered(size_t index, uint8_t value) {
  Drive d = Recorder();
  d.inquiry[index] = value;
  return d;
}

TEST(ScsiLinkIdentify, InquiryTemplateMustMatchAllThirtySixBytes) {
  Drive fourSpaces = Recorder();
  std::fill(fourSpaces.inquiry.begin() + 12, fourSpaces.inquiry.begin() + 16, ' ');
  Drive cutShort = Recorder();
  cutShort.inquiry.resize(35);  // the final revision byte never arrives
  Drive checkCondition = Recorder();
  checkCondition.status = 2;
  Drive incomplete = Recorder();
  incomplete.completes = false;
  struct Case {
    const char* name;
    Drive drive;
    bool identified;
  };
  const std::vector<Case> cases = {
      {"the recorder, longer reply", Recorder(), true},
      {"exactly 36 bytes", Drive{RecorderInquiry(36)}, true},
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
    DriveHost host;
    host.drives[0] = c.drive;
    ScsiLink link(host);
    EXPECT_EQ(link.IsConnected(), c.identified);
  }
}

TEST(ScsiLinkIdentify, InquiryIsSixteenBytesWithZeroAllocationLength) {
  DriveHost host;
  host.drives[0] = Recorder();
  ScsiLink link(host);
  ASSERT_TRUE(link.IsConnected());
  ASSERT_EQ(host.sent.size(), 1u);
  const ScsiRequest& r = host.sent[0].request;
  EXPECT_EQ(r.cdb, (Cdb{0x12}));
  EXPECT_EQ(r.direction(), 1);
  EXPECT_EQ(r.length(), 2048u);
  EXPECT_EQ(r.timeoutSeconds, 2u);
  EXPECT_NE(r.data.in().data(), nullptr);
}

TEST(ScsiLinkScan, ChoosesTheLowestRecorderDriveAndSendsLaterCommandsThere) {
  DriveHost host;
  host.drives[3] = Recorder();
  host.drives[5] = Recorder();
  host.drives[0] = ForeignDisk();
  ScsiLink link(host);
  ASSERT_TRUE(link.IsConnected());
  EXPECT_EQ(link.DriveDigit(), '3');
  EXPECT_EQ(host.opened, (std::vector<int>{0, 3}));
  Cdb cdb{0xC8, 0x0D};
  link.Execute(cdb, DataStage::In({}));
  EXPECT_EQ(host.NonInquiryDrives(), std::vector<int>{3});
}

TEST(ScsiLinkScan, NoRecorderProbesAllNineAndLeavesDigitEight) {
  DriveHost host;
  for (int d = 0; d < 9; ++d) host.drives[d] = ForeignDisk();
  ScsiLink link(host);
  EXPECT_FALSE(link.IsConnected());
  EXPECT_EQ(link.DriveDigit(), '8');
  EXPECT_EQ(host.opened, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// After a failed scan the name still points at drive 8, which is some other disk: commands
// must never reach it, nor any drive before the first scan.
TEST(ScsiLinkExecute, RefusedUnlessTheLastScanFoundTheRecorder) {
  DriveHost host;
  for (int d = 0; d < 9; ++d) host.drives[d] = ForeignDisk();
  ScsiLink link(host);
  uint8_t buffer[64] = {};
  const Cdb readMemory{0xC8, 0x0A, 0x29, 0xF9};
  EXPECT_EQ(link.DriveDigit(), 'x');
  EXPECT_FALSE(link.Execute(readMemory, DataStage::In(buffer)));
  EXPECT_TRUE(host.sent.empty());

  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.Execute(readMemory, DataStage::In(buffer)));
  EXPECT_TRUE(host.NonInquiryDrives().empty());

  host.drives[4] = Recorder();
  ASSERT_TRUE(link.IsConnected());
  host.drives[4].reset();  // unplugged, and a foreign disk takes over nothing
  EXPECT_FALSE(link.IsConnected());
  EXPECT_FALSE(link.Execute(readMemory, DataStage::In(buffer)));
  EXPECT_TRUE(host.NonInquiryDrives().empty());
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
    DriveHost host;
    host.drives[1] = Recorder();
    ScsiLink link(host);
    ASSERT_TRUE(link.IsConnected());
    host.drives[1]->completes = c.completes;
    host.drives[1]->status = c.status;
    uint8_t buffer[40] = {};
    EXPECT_EQ(link.Execute(Cdb{0xC8, 0x03}, DataStage::In(buffer)), c.expected);
  }
}

TEST(ScsiLinkExecute, PassesDirectionLengthBufferAndTimeOut) {
  DriveHost host;
  host.drives[6] = Recorder();
  ScsiLink link(host);
  ASSERT_TRUE(link.IsConnected());
  const uint8_t serial[21] = {'A'};
  EXPECT_TRUE(link.Execute(Cdb{0xC8, 0x0C}, DataStage::Out(serial)));
  EXPECT_TRUE(link.Execute(Cdb{0xC8, 0x06}, DataStage::Out({})));
  ASSERT_EQ(host.sent.size(), 3u);
  const ScsiRequest& write = host.sent[1].request;
  EXPECT_EQ(write.direction(), 0);
  EXPECT_EQ(write.length(), 21u);
  EXPECT_EQ(write.data.out().data(), serial) << "the caller's bytes go out as they are";
  EXPECT_EQ(write.timeoutSeconds, 2u);
  EXPECT_EQ(host.sent[2].request.direction(), 0) << "no data keeps its direction";
  EXPECT_TRUE(host.sent[2].request.data.empty());
}

TEST(ScsiLinkExecute, DriveThatCannotBeOpenedFails) {
  DriveHost host;
  host.drives[2] = Recorder();
  ScsiLink link(host);
  ASSERT_TRUE(link.IsConnected());
  host.drives[2].reset();
  EXPECT_FALSE(link.Execute(Cdb{0xC8, 0x0D}, DataStage::In({})));
}

}  // namespace
}  // namespace omr72
