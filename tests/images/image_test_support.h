// Helpers shared by the image tests: a ProgramModule that serves resources from memory, an
// independent scrambler to build stored payloads with, and file reading.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "images/image_store.h"

namespace omr72::test {

using Bytes = std::vector<uint8_t>;

// Follows the ProgramModule contract: a missing or short resource is reported and not copied.
class FakeProgramModule : public ProgramModule {
 public:
  struct Call {
    std::string modulePath;
    std::string name;
    size_t size;
  };

  std::map<std::string, Bytes> resources;
  std::vector<Call> calls;

  std::string Path(const char* argv0) override { return argv0; }
  bool LoadRcData(const std::string& modulePath, const char* name, uint8_t* out,
                  size_t size) override {
    calls.push_back({modulePath, name, size});
    auto found = resources.find(name);
    if (found == resources.end() || found->second.size() < size) return false;
    std::copy_n(found->second.begin(), size, out);
    return true;
  }
};

// The stored form of `plain`, worked out step by step from the generator's definition rather
// than with the code under test.
inline Bytes Scrambled(Bytes plain) {
  uint32_t state = ScrambleSeed;
  state = state * 22695477u + 1;  // the step inside Seed, output unused
  for (size_t i = 0; i < kImageSize && i < plain.size(); ++i) {
    state = state * 22695477u + 1;
    plain[i] ^= static_cast<uint8_t>(state >> 16);
  }
  return plain;
}

// A resource-sized pattern whose bytes never equal those of another `lane` (0..3), and that
// changes from one offset to the next, so a byte from the wrong image or offset shows.
inline Bytes LanePattern(uint8_t lane, size_t size = kResourceSize) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    uint32_t mixed = static_cast<uint32_t>(i + 1) * 2654435761u;
    bytes[i] = static_cast<uint8_t>(((mixed >> 13) & 0x3F) | (lane << 6));
  }
  return bytes;
}

inline Bytes ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline Bytes ImageBytes(const uint8_t* image) {
  return Bytes(image, image + kImageSize);
}

}  // namespace omr72::test
