// Emulated host, any OS: the SCSI pass-through to drives that live in memory.
#include "emulator/emulated_pass_through.h"

#include <algorithm>
#include <cstring>

namespace omr72::emu {
namespace {

constexpr uint8_t kInquiry = wire::kInquiryOpcode;
constexpr uint8_t kRead10 = wire::kRead10Opcode;
constexpr uint8_t kService = wire::kServiceOpcode;

enum SubCommand : uint8_t {
  kWritePages = wire::kSubWritePages,
  kReadPartsOfPages = wire::kSubReadPartsOfPages,
  kFlashParams = wire::kSubGetFlashParams,
  kCommand6 = wire::kSubCommand6,
  kBootLoaderVersion = wire::kSubGetBootLoaderVersion,
  kErasePage = wire::kSubEraseFlashPage,
  kReadMemory = wire::kSubReadMemory,
  kWriteChunk = wire::kSubWriteFlashChunk,
  kWriteSerial = wire::kSubWriteSerialNumber,
  kRestart = wire::kSubRestart,
};

struct PageRange {
  uint32_t first;
  uint16_t count;
};

PageRange PagesOf(const Cdb& cdb) {
  return {LoadBe32(cdb, 2), LoadBe16(cdb, 7)};
}

uint32_t CommandCostMs(const ScsiRequest& request) {
  if (request.cdb[0] == kService && request.cdb[1] == kErasePage) return kEraseMs;
  if (request.cdb[0] == kService && request.cdb[1] == kWriteChunk) return kChunkMs;
  return kCommandMs + (request.length() > kMcuBlockSize ? TransferMs(request.length()) : 0);
}

// The recorder's disk face as one opened handle sees it; dead once the recorder has left.
class RecorderDrive : public ScsiDrive {
 public:
  RecorderDrive(HostContext& host, int drive)
      : host_(host), drive_(drive), epoch_(host.recorder.epoch()) {}

 private:
  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    if (!Alive()) return false;
    if (request.cdb[0] == kInquiry) return Inquiry(request, scsiStatus);
    const Fault fault = host_.trace.BeginCommand();
    const bool good = fault != Fault::kFail && Run(request, fault == Fault::kShort);
    scsiStatus = good ? kGoodStatus : kCheckCondition;
    host_.timing.Spend(CommandCostMs(request));
    host_.trace.Record(
        FormatScsiTrace(drive_, request.cdb, request.direction(), request.length(), good));
    return true;
  }

  bool Alive() const {
    const Recorder& r = host_.recorder;
    return r.OnDisk() && r.epoch() == epoch_ && r.drive() == drive_;
  }

  bool Inquiry(const ScsiRequest& request, uint8_t& scsiStatus) {
    if (!request.data.isIn()) {
      scsiStatus = kCheckCondition;
      return true;
    }
    const std::vector<uint8_t> data = BuildRecorderInquiry();
    std::copy_n(data.begin(), std::min<size_t>(request.length(), data.size()),
                request.data.in().begin());
    scsiStatus = kGoodStatus;
    return true;
  }

  bool Run(const ScsiRequest& request, bool shortData) {
    const std::optional<ServiceShape> shape = ShapeOfCommand(request.cdb);
    if (!shape || shape->dataIn != request.direction() || shape->length != request.length()) {
      return false;
    }
    const uint32_t moves = shortData ? request.length() / 2 : request.length();
    if (!request.data.isIn()) return TakeData(request.cdb, request.data.out().data(), moves);
    // Whole page reads, the bulk of page access, fill every byte of the caller's buffer and
    // fail before writing any: they go straight into it rather than through a copy.
    const bool pages = request.cdb[0] == kRead10 ||
                       (request.cdb[0] == kService && request.cdb[1] == kReadPartsOfPages);
    if (pages && moves == request.length()) return Answer(request.cdb, request.data.in().data());
    std::vector<uint8_t> reply(request.length(), 0);
    if (!Answer(request.cdb, reply.data())) return false;
    std::copy_n(reply.begin(), moves, request.data.in().begin());
    return true;
  }

  bool Answer(const Cdb& cdb, uint8_t* reply) {
    Recorder& r = host_.recorder;
    if (cdb[0] == kRead10) {
      const PageRange pages = PagesOf(cdb);
      r.ReadDiskPages(pages.first, pages.count, reply);
      return true;
    }
    switch (cdb[1]) {
      case kReadPartsOfPages:
        return ReadParts(cdb, reply);
      case kFlashParams: {
        // Without working firmware there is no record to hand out.
        if (!r.firmwareVersion()) return false;
        const FlashParamsRecord record = r.FlashParams();
        std::copy(record.begin(), record.end(), reply);
        return true;
      }
      case kBootLoaderVersion: {
        const std::optional<uint16_t> version = r.BootLoaderVersionReply();
        if (!version) return false;
        StoreLe16({reply, 2}, 0, *version);
        return true;
      }
      case kErasePage:
        r.EraseMcuPage(LoadBe16(cdb, 2));
        return true;
      case kReadMemory:
        r.ReadMcu(LoadBe16(cdb, 2), reply, kMcuBlockSize);
        return true;
      case kRestart:
        r.Restart();
        return true;
    }
    return false;
  }

  // Parts of pages first, first + step, ...: a part must lie inside its page.
  bool ReadParts(const Cdb& cdb, uint8_t* reply) {
    const PageRange pages = PagesOf(cdb);
    const uint16_t partSize = LoadBe16(cdb, 9);
    const uint16_t step = LoadBe16(cdb, 11);
    const uint16_t offset = LoadBe16(cdb, 13);
    if (uint32_t{offset} + partSize > kDiskPageSize) return false;
    for (uint32_t i = 0; i < pages.count; ++i) {
      host_.recorder.ReadDiskPage(pages.first + i * step, offset, reply + i * partSize, partSize);
    }
    return true;
  }

  bool TakeData(const Cdb& cdb, const uint8_t* data, uint32_t received) {
    Recorder& r = host_.recorder;
    switch (cdb[1]) {
      case kWritePages: {
        const PageRange pages = PagesOf(cdb);
        for (uint32_t done = 0, i = 0; done < received; done += kDiskPageSize, ++i) {
          r.WriteDiskPage(pages.first + i, data + done, std::min(kDiskPageSize, received - done));
        }
        return true;
      }
      case kCommand6:
        r.Restart();
        return true;
      case kWriteChunk:
        r.ProgramMcu(LoadBe16(cdb, 2), data, received);
        return true;
      case kWriteSerial:
        r.ReplaceSerialRecord(data, received);
        return true;
    }
    return false;
  }

  HostContext& host_;
  int drive_;
  uint32_t epoch_;
};

// A disk that is not the recorder: it answers INQUIRY as a plain disk, reads as zeros, and
// rejects every vendor command.
class ForeignDrive : public ScsiDrive {
 public:
  ForeignDrive(HostContext& host, int drive)
      : host_(host), drive_(drive), log_(host.foreignDisks[drive]) {}

 private:
  bool DoExecute(const ScsiRequest& request, uint8_t& scsiStatus) override {
    log_.push_back({request.cdb, request.direction(), request.length()});
    const ByteSpan in = request.data.in();
    if (request.cdb[0] == kInquiry) {
      const ForeignInquiry data = BuildForeignInquiry();
      std::copy_n(data.begin(), std::min<size_t>(in.size(), data.size()), in.begin());
      scsiStatus = kGoodStatus;
      return true;
    }
    const Fault fault = host_.trace.BeginCommand();
    const bool good = fault != Fault::kFail && request.cdb[0] == kRead10 && request.data.isIn();
    if (good) {
      const uint32_t moves = fault == Fault::kShort ? request.length() / 2 : request.length();
      std::fill_n(in.begin(), moves, 0);
    }
    scsiStatus = good ? kGoodStatus : kCheckCondition;
    host_.trace.Record(
        FormatScsiTrace(drive_, request.cdb, request.direction(), request.length(), good));
    return true;
  }

  HostContext& host_;
  int drive_;
  std::vector<ForeignDiskEntry>& log_;
};

}  // namespace

std::vector<uint8_t> BuildRecorderInquiry() {
  const wire::InquiryData& standard = wire::kInquiryTemplate;
  static const char kVendorSpecific[] = "OMR72 FLASH DISK";
  std::vector<uint8_t> data(kRecorderInquiryBytes, 0x00);
  std::copy(standard.begin(), standard.end(), data.begin());
  std::memcpy(data.data() + standard.size(), kVendorSpecific, sizeof kVendorSpecific - 1);
  return data;
}

ForeignInquiry BuildForeignInquiry() {
  ForeignInquiry data{};
  data[2] = 0x05;  // fixed disk, SPC-3
  data[3] = 0x02;
  data[4] = 31;
  std::memcpy(&data[8], "ATA     ", 8);
  std::memcpy(&data[16], "Generic SSD     ", 16);
  std::memcpy(&data[32], "1.00", 4);
  return data;
}

int ParseDriveNumber(const char* name) {
  static const char kPrefix[] = "\\\\.\\PHYSICALDRIVE";
  const size_t prefixLength = sizeof kPrefix - 1;
  if (!name || std::strncmp(name, kPrefix, prefixLength) != 0) return -1;
  const char digit = name[prefixLength];
  if (digit < '0' || digit > '8' || name[prefixLength + 1] != '\0') return -1;
  return digit - '0';
}

std::optional<ServiceShape> ShapeOfCommand(const Cdb& cdb) {
  const PageRange pages = PagesOf(cdb);
  if (cdb[0] == kRead10) return ServiceShape{kDataIn, pages.count * kDiskPageSize};
  if (cdb[0] != kService) return std::nullopt;
  switch (cdb[1]) {
    case kWritePages:
      return ServiceShape{kDataOut, pages.count * kDiskPageSize};
    case kReadPartsOfPages:
      return ServiceShape{kDataIn, uint32_t{pages.count} * LoadBe16(cdb, 9)};
    case kFlashParams:
      return ServiceShape{kDataIn, kFlashParamsBytes};
    case kCommand6:
      return ServiceShape{kDataOut, 0};
    case kBootLoaderVersion:
      return ServiceShape{kDataIn, 2};
    case kErasePage:
      return ServiceShape{kDataIn, 0};
    case kReadMemory:
      return ServiceShape{kDataIn, kMcuBlockSize};
    case kWriteChunk:
      return ServiceShape{kDataOut, kMcuBlockSize};
    case kWriteSerial:
      return ServiceShape{kDataOut, kSerialRecordSize};
    case kRestart:
      return ServiceShape{kDataIn, 0};
  }
  return std::nullopt;
}

// Every open is reported to the recorder first: it may be the poll that brings it back.
// The recorder hides a foreign disk configured at its own drive digit.
std::unique_ptr<ScsiDrive> EmulatedPassThrough::Open(const char* deviceName) {
  const int drive = ParseDriveNumber(deviceName);
  if (drive < 0) return nullptr;
  host_.recorder.NoteDiskOpen(drive);
  if (host_.recorder.OnDisk() && host_.recorder.drive() == drive) {
    return std::make_unique<RecorderDrive>(host_, drive);
  }
  if (host_.foreignDisks.count(drive)) return std::make_unique<ForeignDrive>(host_, drive);
  return nullptr;
}

}  // namespace omr72::emu
