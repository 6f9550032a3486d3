// Deterministic sample payloads. Every byte the tests look at is chosen so that a byte taken
// from the wrong image or the wrong offset shows: the two boot-loader payloads differ from
// each other everywhere, and from the firmware bytes that are laid over them.
#include "images/samples/sample_payloads.h"

#include <cstring>

#include "images/image_store.h"

namespace omr72 {

namespace {

constexpr uint8_t kSampleModelTag[] = {'R', '7', '2', 'S', 'M'};
constexpr uint8_t kHeadBytes[] = {0xA1, 0xB2, 0xC3, 0xD4};
constexpr size_t kHeadByteOffsets[] = {0x0001, 0x0002, 0x0044, 0x0045};

// xorshift32: portable, and unrelated to the key stream.
std::vector<uint8_t> Pattern(uint32_t seed) {
  std::vector<uint8_t> bytes(kResourceSize);
  uint32_t state = seed;
  for (uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

std::vector<uint8_t> PlainFirmware() {
  std::vector<uint8_t> image = Pattern(0x46574331);
  for (size_t i = 0; i < std::size(kHeadByteOffsets); ++i)
    image[kHeadByteOffsets[i]] = kHeadBytes[i];
  image[0x29F9] = 0x0A;  // new firmware 2.10: minor, major
  image[0x29FA] = 0x02;
  std::memcpy(&image[0x29FB], kSampleModelTag, sizeof kSampleModelTag);
  image[0xE000] = 0x00;  // requires boot loader 2.0: minor, major
  image[0xE001] = 0x02;
  return image;
}

// The firmware byte that the assembled boot-loader image holds at `offset`, or -1 where the
// boot-loader resource's own byte stays.
int OverlaidFirmwareByte(const std::vector<uint8_t>& firmware, size_t offset) {
  if (offset >= 0x0F00 && offset < 0x0F04) return firmware[kHeadByteOffsets[offset - 0x0F00]];
  if (offset >= 0x1000 && offset < 0x2A00) return firmware[offset - 0x1000 + 0xE000];
  return -1;
}

// Nudges `image` until it differs from `other` (if given) and from the overlaid firmware
// byte at every offset.
void MakeDistinct(std::vector<uint8_t>& image, const std::vector<uint8_t>* other,
                  const std::vector<uint8_t>& firmware) {
  for (size_t i = 0; i < image.size(); ++i) {
    int overlaid = OverlaidFirmwareByte(firmware, i);
    while ((other != nullptr && image[i] == (*other)[i]) || image[i] == overlaid) ++image[i];
  }
}

void Scramble(std::vector<uint8_t>& payload) {
  KeyStream keys;
  ApplyKeyStream(keys, payload.data());
}

}  // namespace

SamplePayloads MakeSamplePayloads() {
  SamplePayloads payloads;
  payloads.firmware = PlainFirmware();
  payloads.bootLoader = Pattern(0x42524331);
  payloads.bootLoader20 = Pattern(0x42524332);
  MakeDistinct(payloads.bootLoader, nullptr, payloads.firmware);
  MakeDistinct(payloads.bootLoader20, &payloads.bootLoader, payloads.firmware);
  Scramble(payloads.firmware);
  Scramble(payloads.bootLoader);
  Scramble(payloads.bootLoader20);
  return payloads;
}

}  // namespace omr72
