// The firmware and boot-loader images embedded in the program, scrambled, and the fields the
// update reads from them. Nothing here prints.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/program_module.h"

namespace omr72 {

constexpr size_t kImageSize = 0xFC00;      // bytes of a resource that are used
constexpr size_t kResourceSize = 0x10000;  // bytes stored per resource
constexpr uint32_t ScrambleSeed = 27413;

// The descrambling generator: a 32-bit linear congruential generator.
class KeyStream {
 public:
  void Seed(uint32_t seed);
  uint16_t Next();
  uint32_t state = 0;
};

using ModelTagBytes = std::array<uint8_t, 5>;
// The used bytes of a loaded image.
using ImageSpan = std::span<const uint8_t, kImageSize>;

// Seeds `keys` with ScrambleSeed and XORs the first kImageSize bytes of `image` with the key
// stream. Scrambling and descrambling are this same operation.
void ApplyKeyStream(KeyStream& keys, uint8_t* image);

// Fetch the first kImageSize bytes of resource `name` into `target` and descramble them in
// place. False, with `target` untouched, when the resource is missing or too short.
bool LoadScrambledResource(ProgramModule& module, const std::string& modulePath, KeyStream& keys,
                           const char* name, uint8_t* target);

class ImageStore {
 public:
  ImageStore(ProgramModule& module, std::string modulePath);

  // Both return false when their resource is missing or too short; nothing is then loaded.
  // LoadBootLoaderImage also refuses while no firmware image is loaded: its overlay would
  // otherwise be taken from an empty buffer.
  bool LoadFirmwareImage();
  bool LoadBootLoaderImage(uint16_t installedBootLoaderVersion);

  // "BRC20" for boot loaders 1.0 and later, "BRC" for older ones.
  static const char* BootLoaderResourceName(uint16_t installedBootLoaderVersion);

  const uint8_t* FirmwareImage() const { return firmware_.data(); }
  const uint8_t* BootLoaderImage() const { return bootLoader_.data(); }
  uint16_t NewFirmwareVersion() const { return newFirmwareVersion_; }
  uint16_t RequiredBootLoaderVersion() const { return requiredBootLoaderVersion_; }
  ModelTagBytes ModelTag() const;

 private:
  ProgramModule& module_;
  std::string modulePath_;
  KeyStream keys_;
  std::array<uint8_t, kImageSize> firmware_{};
  std::array<uint8_t, kImageSize> bootLoader_{};
  uint16_t newFirmwareVersion_ = 0;
  uint16_t requiredBootLoaderVersion_ = 0;
  bool firmwareLoaded_ = false;
};

}  // namespace omr72
