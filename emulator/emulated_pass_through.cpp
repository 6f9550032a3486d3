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

// INQUIRY as the recorder's firmware answers it: EVPD 0 with page code 0 gives the standard
// data whatever the allocation length says (the program sends 0 there); the recorder has no
// vital product data pages, so any EVPD request, or a page code without EVPD, is an error.
bool RecorderInquiry(const uint8_t* cdb, std::vector<uint8_t>& data) {
  if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return false;
  data = BuildRecorderInquiry();
  return true;
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
    host_.BeforeTracedRequest();
    if (!Alive()) return false;
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
    std::vector<uint8_t> data;
    if (!request.data.isIn() || !RecorderInquiry(request.cdb.data(), data)) {
      scsiStatus = kCheckCondition;
      return true;
    }
    // With reply fuzzing half of the answers keep the standard data, so that the disk is
    // still found and its later replies get fuzzed too.
    if (host_.fuzz.on()) {
      const size_t keep = (host_.fuzz.Next() & 1) ? kInquiryStandardBytes : 0;
      host_.fuzz.Fill(data.data() + keep, data.size() - keep);
    }
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
        host_.fuzz.Fill(reply, record.size());
        return true;
      }
      case kBootLoaderVersion: {
        const std::optional<uint16_t> version = r.BootLoaderVersionReply();
        if (!version) return false;
        StoreLe16({reply, 2}, 0, *version);
        host_.fuzz.Fill(reply, 2);
        return true;
      }
      case kErasePage:
        r.EraseMcuPage(LoadBe16(cdb, 2));
        return true;
      case kReadMemory:
        r.ReadMcu(LoadBe16(cdb, 2), reply, kMcuBlockSize);
        if (IsIdentificationAddress(LoadBe16(cdb, 2))) host_.fuzz.Fill(reply, kMcuBlockSize);
        return true;
      case kRestart:
        r.Restart(RestartCause::kDiskRequest);
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
        r.Restart(RestartCause::kDiskRequest);
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
    log_.Add({request.cdb, request.direction(), request.length()}, request.cdb[0] == kInquiry);
    const ByteSpan in = request.data.in();
    if (request.cdb[0] == kInquiry) {
      const ForeignInquiry data = BuildForeignInquiry();
      std::copy_n(data.begin(), std::min<size_t>(in.size(), data.size()), in.begin());
      scsiStatus = kGoodStatus;
      return true;
    }
    host_.BeforeTracedRequest();
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
  ForeignLog<ForeignDiskEntry>& log_;
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

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kPreventAllowRemoval = 0x1E;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kSynchronizeCache10 = 0x35;

// What a small read-only disk answers of the commands an OS sends by itself; nullopt for
// CHECK CONDITION. Only as much of a READ(10) as the data phase can hold is produced.
std::optional<std::vector<uint8_t>> SmallDiskReply(HostContext& host, bool recorder,
                                                   const HostCommand& command) {
  const uint8_t* cdb = command.cdb.data();
  switch (cdb[0]) {
    case kTestUnitReady:
    case kStartStopUnit:
    case kPreventAllowRemoval:
    case kSynchronizeCache10:
      return std::vector<uint8_t>{};
    case kRequestSense: {
      std::vector<uint8_t> sense(18, 0);
      sense[0] = 0x70;  // current error, fixed format: no sense
      sense[7] = 10;
      return sense;
    }
    case kInquiry: {
      std::vector<uint8_t> data;
      if (recorder) {
        if (!RecorderInquiry(cdb, data)) return std::nullopt;
        return data;
      }
      if ((cdb[1] & 0x01) != 0 || cdb[2] != 0) return std::nullopt;
      const ForeignInquiry foreign = BuildForeignInquiry();
      return std::vector<uint8_t>(foreign.begin(), foreign.end());
    }
    case kModeSense6:
      return std::vector<uint8_t>{3, 0, 0, 0};  // no block descriptors, not write-protected
    case kReadCapacity10: {
      std::vector<uint8_t> capacity(8, 0);
      StoreBe32(capacity, 0, kDiskPageCount - 1);
      StoreBe32(capacity, 4, kDiskPageSize);
      return capacity;
    }
    case kRead10: {
      if (command.cdbLength < 10) return std::nullopt;
      const PageRange pages = PagesOf(command.cdb);
      if (uint64_t{pages.first} + pages.count > kDiskPageCount) return std::nullopt;
      const uint32_t wanted = (command.length + kDiskPageSize - 1) / kDiskPageSize;
      const uint32_t count = std::min<uint32_t>(pages.count, wanted);
      std::vector<uint8_t> data(size_t{count} * kDiskPageSize, 0);
      for (uint32_t i = 0; recorder && i < count; ++i) {
        host.recorder.ReadDiskPage(pages.first + i, 0, data.data() + i * kDiskPageSize,
                                   kDiskPageSize);
      }
      return data;
    }
  }
  return std::nullopt;
}

}  // namespace

bool ExecuteHostCommand(HostContext& host, int drive, uint32_t epoch, const HostCommand& command,
                        uint8_t& scsiStatus, uint32_t& moved) {
  ++host.hostCommands;
  moved = 0;
  const Recorder& r = host.recorder;
  const bool recorderThere = r.OnDisk() && r.drive() == drive;
  const bool recorder = recorderThere && r.epoch() == epoch;
  const bool foreign = !recorderThere && host.foreignDisks.count(drive) > 0;
  if (!recorder && !foreign) return false;
  if (command.length > 0 && !command.buffer) return false;
  const std::optional<std::vector<uint8_t>> reply = SmallDiskReply(host, recorder, command);
  const bool good = reply && (reply->empty() || command.dataIn == kDataIn);
  scsiStatus = good ? kGoodStatus : kCheckCondition;
  if (!good) return true;
  moved = static_cast<uint32_t>(std::min<size_t>(command.length, reply->size()));
  std::copy_n(reply->begin(), moved, command.buffer);
  return true;
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
