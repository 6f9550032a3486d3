// Shared by the image tests: resources served from memory, an independent scrambler to build
// stored payloads with, and test patterns.
#pragma once

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "images/image_store.h"

namespace omr72::test {

using Bytes = std::vector<uint8_t>;

// Keeps the ProgramModule contract: a missing or short resource is refused, never copied.
struct FakeProgramModule : ProgramModule {
  std::map<std::string, Bytes> resources;
  std::vector<std::string> requests;  // "path|name|size" per call

  std::string Path(const char* argv0) override { return argv0; }
  bool LoadRcData(const std::string& path, const char* name, uint8_t* out, size_t size) override {
    requests.push_back(path + "|" + name + "|" + std::to_string(size));
    auto found = resources.find(name);
    if (found == resources.end() || found->second.size() < size) return false;
    std::copy_n(found->second.begin(), size, out);
    return true;
  }
};

// The stored form of `plain`, worked out from the generator's definition, not with the code
// under test: the seed's own step is skipped, then byte i takes the low byte of step i + 2.
inline Bytes Scrambled(Bytes plain) {
  uint32_t state = ScrambleSeed * 22695477u + 1;
  for (size_t i = 0; i < kImageSize; ++i) {
    state = state * 22695477u + 1;
    plain[i] ^= static_cast<uint8_t>(state >> 16);
  }
  return plain;
}

// Bytes of different lanes (0..3) never match, and neighbouring offsets differ, so a byte
// taken from the wrong resource or offset shows.
inline Bytes LanePattern(uint8_t lane) {
  Bytes bytes(kResourceSize);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(((static_cast<uint32_t>(i + 1) * 2654435761u >> 13) & 0x3F) |
                                    (lane << 6));
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
