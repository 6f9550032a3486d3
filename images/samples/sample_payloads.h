// Stand-in payloads for builds without the recorder's real ones. They carry the fields the
// update reads but are not recorder firmware: their model tag matches no real recorder.
#pragma once

#include <cstdint>
#include <vector>

namespace omr72 {

struct SamplePayloads {
  std::vector<uint8_t> firmware;      // "FWC"
  std::vector<uint8_t> bootLoader;    // "BRC"
  std::vector<uint8_t> bootLoader20;  // "BRC20"
};

// The three payloads as they are stored: scrambled, kResourceSize bytes each. Always the
// same bytes, on every host.
SamplePayloads MakeSamplePayloads();

}  // namespace omr72
