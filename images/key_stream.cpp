// The descrambling generator shared by every image load.
#include "images/image_store.h"

namespace omr72 {

namespace {
constexpr uint32_t kMultiplier = 22695477;  // 0x015A4E35
constexpr uint32_t kIncrement = 1;
}  // namespace

void KeyStream::Seed(uint32_t seed) {
  state = seed;
  // The first step only mixes the seed; its output is never used.
  Next();
}

uint16_t KeyStream::Next() {
  state = state * kMultiplier + kIncrement;  // unsigned: wraps modulo 2^32
  return static_cast<uint16_t>((state >> 16) & 0x7FFF);
}

void ApplyKeyStream(KeyStream& keys, uint8_t* image) {
  keys.Seed(ScrambleSeed);
  for (size_t i = 0; i < kImageSize; ++i) {
    image[i] ^= static_cast<uint8_t>(keys.Next() & 0xFF);
  }
}

}  // namespace omr72
