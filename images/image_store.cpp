// Loads the embedded images, reads their fields and assembles the boot-loader image.
#include "images/image_store.h"

#include <algorithm>
#include <utility>

#include "wire/byte_order.h"
#include "wire/recorder_wire.h"

namespace omr72 {

namespace {

// Where the firmware image keeps what the update reads.
// The firmware image holds what the recorder later shows at the device-info address.
constexpr size_t kNewFirmwareVersionOffset = wire::kDeviceInfoAddress;  // minor, then major
constexpr size_t kModelTagOffset = wire::kDeviceInfoAddress + 2;
constexpr size_t kRequiredBootLoaderOffset = 0xE000;  // minor, then major
constexpr size_t kBootLoaderPayloadOffset = 0xE000;
constexpr size_t kBootLoaderPayloadSize = 0x1A00;

// Where the boot-loader image receives them.
constexpr size_t kHeadBytesTarget = 0x0F00;
constexpr size_t kPayloadTarget = 0x1000;
constexpr size_t kHeadByteSources[] = {0x0001, 0x0002, 0x0044, 0x0045};

}  // namespace

bool LoadScrambledResource(ProgramModule& module, const std::string& modulePath, KeyStream& keys,
                           const char* name, uint8_t* target) {
  if (!module.LoadRcData(modulePath, name, target, kImageSize)) return false;
  ApplyKeyStream(keys, target);
  return true;
}

ImageStore::ImageStore(ProgramModule& module, std::string modulePath)
    : module_(module), modulePath_(std::move(modulePath)) {}

bool ImageStore::LoadFirmwareImage() {
  if (!LoadScrambledResource(module_, modulePath_, keys_, "FWC", firmware_.data())) {
    return false;
  }
  newFirmwareVersion_ = LoadLe16(firmware_, kNewFirmwareVersionOffset);
  requiredBootLoaderVersion_ = LoadLe16(firmware_, kRequiredBootLoaderOffset);
  firmwareLoaded_ = true;
  return true;
}

bool ImageStore::LoadBootLoaderImage(uint16_t installedBootLoaderVersion) {
  if (!firmwareLoaded_) return false;
  const char* name = BootLoaderResourceName(installedBootLoaderVersion);
  if (!LoadScrambledResource(module_, modulePath_, keys_, name, bootLoader_.data())) {
    return false;
  }
  const uint8_t* payload = &firmware_[kBootLoaderPayloadOffset];
  std::copy(payload, payload + kBootLoaderPayloadSize, &bootLoader_[kPayloadTarget]);
  for (size_t i = 0; i < std::size(kHeadByteSources); ++i) {
    bootLoader_[kHeadBytesTarget + i] = firmware_[kHeadByteSources[i]];
  }
  return true;
}

const char* ImageStore::BootLoaderResourceName(uint16_t installedBootLoaderVersion) {
  return installedBootLoaderVersion >= wire::kBootLoaderOneZero ? "BRC20" : "BRC";
}

ModelTagBytes ImageStore::ModelTag() const {
  ModelTagBytes tag{};
  std::copy_n(&firmware_[kModelTagOffset], tag.size(), tag.begin());
  return tag;
}

}  // namespace omr72
