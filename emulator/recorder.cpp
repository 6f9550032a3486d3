#include "emulator/recorder.h"

#include <algorithm>
#include <cstring>

namespace omr72::emu {
namespace {

Face FaceOf(StartRoute route) {
  switch (route) {
    case StartRoute::kUsb:
      return Face::kUsb;
    case StartRoute::kDisk:
      return Face::kDisk;
    case StartRoute::kBoth:
      return Face::kBoth;
    case StartRoute::kNone:
      break;
  }
  return Face::kNone;
}

// The k-th restart's entry of a list, the last one once the list is used up.
int PickAfterRestart(const std::vector<int>& list, int restarts, int current) {
  if (list.empty()) return current;
  const size_t index = std::min(static_cast<size_t>(restarts - 1), list.size() - 1);
  return list[index];
}

}  // namespace

std::string VersionText(uint16_t version) {
  return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

Recorder::Recorder(const RecorderConfig& config, const KnownImages& images)
    : config_(config), images_(images), drive_(config.drive), usbName_(config.usbName) {
  bootLoaderVersion_ = config.bootLoaderVersion;
  firmwareVersion_ = config.firmwareVersion;
  const std::string serial = config.serial.substr(0, kSerialFlashBytes);
  std::memcpy(serial_.data(), serial.data(), serial.size());
  InitialiseFlash(config, images);
  InitialiseNand();
  std::memcpy(modelTag_.data(), &flash_[kModelTagAddress], modelTag_.size());

  // A recorder that is plugged in later, or never, starts out like one that is away.
  const Face start = FaceOf(config.route);
  if (start == Face::kNone) {
    arrival_.never = true;
  } else if (config.attachAfter > 0) {
    arrival_.face = start;
    arrival_.polls = config.attachAfter;
  } else {
    face_ = start;
  }
  lastFace_ = start;
}

// Flash as a recorder with older firmware holds it: the firmware's code, its identity record
// (version minor, major, model tag) at the end of the region that updates rewrite, and the
// serial number far above it; all else erased.
void Recorder::InitialiseFlash(const RecorderConfig& config, const KnownImages& images) {
  flash_.fill(0xFF);
  for (uint32_t i = 0; i < kVersionAddress; ++i) {
    flash_[i] = static_cast<uint8_t>((i * 37 + 0x11) ^ (i >> 9));
  }
  const uint16_t version = config.firmwareVersion.value_or(0xFFFF);
  StoreLe16(flash_, kVersionAddress, version);
  ModelTag tag;
  tag.fill(0xFF);
  if (config.modelTag) {
    tag = *config.modelTag;
  } else if (images.firmware.size() >= kFlashImageRegion) {
    std::copy_n(images.firmware.begin() + kModelTagAddress, tag.size(), tag.begin());
  }
  std::copy(tag.begin(), tag.end(), flash_.begin() + kModelTagAddress);
  std::fill_n(flash_.begin() + kSerialAddress, kSerialFlashBytes, 0x00);
  std::copy_n(serial_.begin(), kSerialFlashBytes, flash_.begin() + kSerialAddress);
}

// Page 0 of NAND block 0 is a boot header that a rewrite must carry over unchanged; pages 1 to
// 63 hold the old boot loader.
void Recorder::InitialiseNand() {
  nand_.assign(kNandBlockSize, 0xFF);
  static const char kHeader[] = "OMR72 BOOT HEADER";
  std::memcpy(nand_.data(), kHeader, sizeof kHeader - 1);
  for (uint32_t i = sizeof kHeader; i < kNandPageBytes; ++i) {
    nand_[i] = static_cast<uint8_t>(i * 11 + 3);
  }
  for (uint32_t i = kNandPageBytes; i < kNandBlockSize; ++i) {
    nand_[i] = static_cast<uint8_t>((i * 13 + 0x3C) ^ (i / kNandPageBytes));
  }
}

// --- Presence ---------------------------------------------------------------------------------

Face Recorder::returnFace() const {
  if (face_ != Face::kNone) return face_;
  return arrival_.never ? Face::kNone : arrival_.face;
}

void Recorder::NoteUsbOpen(int slot) {
  CheckDeadline();
  if (slot == 0) OnPoll();
  // Any look at the recorder's own name means someone is talking to it over USB: no re-plug.
  if (slot == usbName_) replugPolls_ = 0;
}

// A program that waits for a disk while the recorder sits in its USB boot loader would wait
// forever; a user re-plugs it then, which restarts it.
void Recorder::NoteDiskOpen(int drive) {
  CheckDeadline();
  if (drive == 0) DiskPoll();
}

void Recorder::NotePresencePoll() {
  CheckDeadline();
  DiskPoll();
}

void Recorder::DiskPoll() {
  const bool usbOnly = face_ == Face::kUsb;
  OnPoll();
  if (!usbOnly) return;
  if (++replugPolls_ >= kReplugPolls) Restart();
}

// Poll-timed arrivals: the recorder is still missing for `polls` presence polls, and the poll
// after those finds it.
void Recorder::OnPoll() {
  if (face_ != Face::kNone || arrival_.never || arrival_.deadline) return;
  if (arrival_.polls > 0) {
    --arrival_.polls;
    return;
  }
  Arrive();
}

void Recorder::CheckDeadline() {
  if (face_ != Face::kNone || arrival_.never || !arrival_.deadline) return;
  if (std::chrono::steady_clock::now() >= *arrival_.deadline) Arrive();
}

void Recorder::Arrive() {
  face_ = arrival_.face;
  lastFace_ = face_;
  arrival_ = Arrival{};
  replugPolls_ = 0;
  Changed();
}

// One rule for every restart (docs/RECORDER_MODEL.md, "Restarts"):
// - an erased guard page keeps the recorder in its boot loader, which comes back on the face
//   through which the restart was asked, or after a power cycle on the face it was on;
// - otherwise the firmware starts, and firmware is a disk;
// - what it will report once back is settled now, from what its flash holds.
void Recorder::Restart(RestartCause cause) {
  ++restarts_;
  ++epoch_;
  const Face from = face_ != Face::kNone ? face_ : lastFace_;
  face_ = Face::kNone;
  transfer_.reset();
  replugPolls_ = 0;

  const bool guardErased = PageErased(kBootGuardPage);
  arrival_ = Arrival{};
  arrival_.face = guardErased ? BootLoaderFace(cause, from) : Face::kDisk;
  DecideVersionsAtRestart(guardErased);

  if (config_.noReturn) {
    arrival_.never = true;
  } else if (config_.realisticLatency) {
    arrival_.deadline = std::chrono::steady_clock::now() + kRealisticRestart;
  } else {
    arrival_.polls = kRestartPolls;
  }
  drive_ = PickAfterRestart(config_.returnDrives, restarts_, drive_);
  usbName_ = PickAfterRestart(config_.returnUsbNames, restarts_, usbName_);
  Changed();
}

// A boot loader written into flash identifies itself by the version word at 0x1000 of its
// image. Firmware identifies itself by its identity record, but only once it can start, that
// is while the guard page is intact.
void Recorder::DecideVersionsAtRestart(bool guardErased) {
  for (const std::vector<uint8_t>& image : images_.bootLoaders) {
    if (image.size() < kFlashImageRegion) continue;
    if (std::equal(image.begin(), image.begin() + kFlashImageRegion, flash_.begin())) {
      bootLoaderVersion_ = LoadLe16(image, kBootLoaderVersionOffset);
      return;
    }
  }
  if (guardErased) return;
  const uint16_t version = LoadLe16(flash_, kVersionAddress);
  firmwareVersion_ = version == 0xFFFF ? std::nullopt : std::optional<uint16_t>(version);
  std::copy_n(flash_.begin() + kModelTagAddress, modelTag_.size(), modelTag_.begin());
}

void Recorder::Unplug() {
  if (face_ == Face::kNone) return;  // away already: there is nothing to pull out
  Restart(RestartCause::kPowerCycle);
  if (!arrival_.never) {
    arrival_.deadline.reset();
    arrival_.polls = config_.replugAfter;
  }
}

Face Recorder::BootLoaderFace(RestartCause cause, Face from) {
  switch (cause) {
    case RestartCause::kUsbRequest:
      return Face::kUsb;
    case RestartCause::kDiskRequest:
      return Face::kDisk;
    case RestartCause::kPowerCycle:
      break;
  }
  return from == Face::kNone ? Face::kUsb : from;
}

bool Recorder::PageErased(uint16_t address) const {
  const uint32_t base = address & ~(kMcuPageSize - 1);
  return std::all_of(flash_.begin() + base, flash_.begin() + base + kMcuPageSize,
                     [](uint8_t b) { return b == 0xFF; });
}

// --- Microcontroller flash --------------------------------------------------------------------

// Addresses are 16 bits wide and wrap.
void Recorder::ReadMcu(uint16_t address, uint8_t* out, size_t length) const {
  for (size_t i = 0; i < length; ++i) out[i] = flash_[(address + i) & (kMcuFlashSize - 1)];
}

// NOR flash: programming can only clear bits; only an erase sets them again.
void Recorder::ProgramMcu(uint16_t address, const uint8_t* data, size_t length) {
  for (size_t i = 0; i < length; ++i) flash_[(address + i) & (kMcuFlashSize - 1)] &= data[i];
}

// The whole 512-byte page that holds the address.
void Recorder::EraseMcuPage(uint16_t address) {
  const uint32_t base = address & ~(kMcuPageSize - 1);
  std::fill_n(flash_.begin() + base, kMcuPageSize, 0xFF);
}

// --- NAND block 0 -----------------------------------------------------------------------------

bool Recorder::OpenNandTransfer(bool write, uint32_t firstPage, uint32_t pageCount) {
  if (pageCount == 0 || firstPage >= kNandBlockPages) return false;
  if (pageCount > kNandBlockPages - firstPage) return false;
  NandTransfer transfer;
  transfer.write = write;
  transfer.firstPage = firstPage;
  const auto begin = nand_.begin() + firstPage * kNandPageBytes;
  if (write) {
    transfer.bytes.assign(pageCount * kNandPageBytes, 0xFF);
  } else {
    transfer.bytes.assign(begin, begin + pageCount * kNandPageBytes);
    // The fault a weak cell would cause: the last byte of the boot image, read on its own.
    if (config_.corruptReadback && pageCount == 1 && firstPage == 8) transfer.bytes[575] ^= 0xFF;
  }
  transfer_ = std::move(transfer);
  return true;
}

bool Recorder::NandRead(uint8_t* out, uint32_t maxLength, uint32_t& moved) {
  moved = 0;
  if (!transfer_ || transfer_->write) return false;
  const uint32_t left = static_cast<uint32_t>(transfer_->bytes.size()) - transfer_->done;
  moved = std::min(maxLength, left);
  std::memcpy(out, transfer_->bytes.data() + transfer_->done, moved);
  transfer_->done += moved;
  if (transfer_->done == transfer_->bytes.size()) transfer_.reset();
  return true;
}

// Pages are programmed (ANDed, like any NAND page) as soon as they have arrived whole.
bool Recorder::NandWrite(const uint8_t* data, uint32_t length, uint32_t& moved) {
  moved = 0;
  if (!transfer_ || !transfer_->write) return false;
  const uint32_t before = transfer_->done;
  const uint32_t left = static_cast<uint32_t>(transfer_->bytes.size()) - before;
  moved = std::min(length, left);
  std::memcpy(transfer_->bytes.data() + before, data, moved);
  transfer_->done += moved;
  for (uint32_t page = before / kNandPageBytes; (page + 1) * kNandPageBytes <= transfer_->done;
       ++page) {
    const uint8_t* source = transfer_->bytes.data() + page * kNandPageBytes;
    uint8_t* target = nand_.data() + (transfer_->firstPage + page) * kNandPageBytes;
    for (uint32_t i = 0; i < kNandPageBytes; ++i) target[i] &= source[i];
  }
  if (transfer_->done == transfer_->bytes.size()) transfer_.reset();
  return true;
}

// Only block 0 exists here. A forced status still lets the erase happen, so a flow that goes
// on regardless sees a clean block.
void Recorder::EraseNandBlock(uint32_t firstPage) {
  if (firstPage != 0) {
    nandEraseStatus_ = 1;
    return;
  }
  std::fill(nand_.begin(), nand_.end(), 0xFF);
  nandEraseStatus_ = config_.nandEraseStatus;
}

// Accepting, and a verdict whose answer is lost on the way, both leave the recorder running
// the new boot block: it restarts by itself. A rejection changes nothing.
std::optional<uint8_t> Recorder::BootBlockVerdict() {
  switch (config_.verdict) {
    case Verdict::kReject:
      return uint8_t{0};
    case Verdict::kAccept:
      TakeBootBlock();
      return uint8_t{1};
    case Verdict::kFail:
      TakeBootBlock();
      break;
  }
  return std::nullopt;
}

// The boot image starts at page 1; its version word sits at image offset 0x1000.
void Recorder::TakeBootBlock() {
  bootBlockAccepted_ = true;
  bootLoaderVersion_ = LoadLe16(nand_, kNandPageBytes + kBootLoaderVersionOffset);
  Restart(RestartCause::kUsbRequest);
}

// --- Disk pages -------------------------------------------------------------------------------

// Pages never written read as erased flash.
const uint8_t* Recorder::StoredDiskPage(uint32_t page) const {
  const auto it = diskBlocks_.find(page / kDiskBlockPages);
  if (it == diskBlocks_.end()) return nullptr;
  return it->second->data() + size_t{page % kDiskBlockPages} * kDiskPageSize;
}

void Recorder::ReadDiskPage(uint32_t page, uint32_t offset, uint8_t* out, size_t length) const {
  const uint8_t* stored = StoredDiskPage(page);
  if (stored == nullptr) {
    std::memset(out, 0xFF, length);
    return;
  }
  std::memcpy(out, stored + offset, length);
}

void Recorder::ReadDiskPages(uint32_t first, uint32_t count, uint8_t* out) const {
  const uint64_t end = uint64_t{first} + count;
  for (uint64_t page = first; page < end;) {
    // The pages from here to the end of the run or of this block, in one copy.
    const uint64_t blockEnd = (page / kDiskBlockPages + 1) * kDiskBlockPages;
    const size_t bytes = static_cast<size_t>(std::min(end, blockEnd) - page) * kDiskPageSize;
    const uint8_t* stored = StoredDiskPage(static_cast<uint32_t>(page));
    if (stored == nullptr) {
      std::memset(out, 0xFF, bytes);
    } else {
      std::memcpy(out, stored, bytes);
    }
    out += bytes;
    page = std::min(end, blockEnd);
  }
}

void Recorder::WriteDiskPage(uint32_t page, const uint8_t* data, size_t length) {
  std::unique_ptr<DiskBlock>& block = diskBlocks_[page / kDiskBlockPages];
  if (!block) {
    block = std::make_unique<DiskBlock>();
    block->fill(0xFF);
  }
  uint8_t* stored = block->data() + size_t{page % kDiskBlockPages} * kDiskPageSize;
  std::memcpy(stored, data, std::min<size_t>(length, kDiskPageSize));
}

// --- Identity ---------------------------------------------------------------------------------

std::optional<uint16_t> Recorder::BootLoaderVersionReply() const {
  if (config_.bootLoaderSilent) return std::nullopt;
  return bootLoaderVersion_;
}

// The serial record lives twice: the record itself and its copy in flash at 0xDE00, which is
// what a recorder without working firmware still shows.
void Recorder::ReplaceSerialRecord(const uint8_t* data, size_t length) {
  serial_.fill(0);
  std::memcpy(serial_.data(), data, std::min(length, serial_.size()));
  std::copy_n(serial_.begin(), kSerialFlashBytes, flash_.begin() + kSerialAddress);
}

FlashParamsRecord Recorder::FlashParams() const {
  FlashParamsRecord record{};
  record[0] = 0x01;
  StoreBe32(record, 1, kDiskPageCount);
  StoreBe16(record, 11, kDiskPagesPerBlock);
  StoreBe16(record, 14, static_cast<uint16_t>(kDiskPageSize));
  std::copy_n(serial_.begin(), kSerialFlashBytes, record.begin() + 17);
  const uint16_t version = firmwareVersion_.value_or(0);
  StoreLe16(record, 38, version);
  return record;
}

bool Recorder::FirmwareImageWritten() const {
  if (images_.firmware.size() < kFlashImageRegion) return false;
  return std::equal(images_.firmware.begin(), images_.firmware.begin() + kFlashImageRegion,
                    flash_.begin());
}

}  // namespace omr72::emu
