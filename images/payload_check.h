// Whether a set of payloads looks like what the recorder's maker ships: scrambled, with an
// R72 model tag and believable versions. A payload that was stored unscrambled, or a file of
// something else, descrambles into noise, and these checks say so before it is embedded.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "images/image_store.h"

namespace omr72 {

// The fields of the firmware image that are judged.
struct FirmwareFields {
  uint16_t newFirmwareVersion = 0;
  uint16_t requiredBootLoaderVersion = 0;
  ModelTagBytes modelTag{};
};

// A version the recorder's maker could have released: not 0.0, major at most 9, minor at most
// 99 (versions print as "M.m" with plain decimals).
bool PlausibleVersion(uint16_t version);

// One line per doubt about the firmware payload; empty when it looks right.
std::vector<std::string> FirmwareDoubts(const FirmwareFields& fields);

// One line per doubt about a descrambled boot-loader payload; empty when it looks right. Code
// with its erased and padded stretches is far from uniform noise; a file of random bytes, or a
// payload stored unscrambled, descrambles into noise.
std::vector<std::string> BootLoaderDoubts(const uint8_t* image);

// Whether `stored` (a payload as stored, scrambled) begins with the kImageSize bytes the
// program uses of the sample payload `name` ("FWC", "BRC" or "BRC20").
bool IsSamplePayload(const std::string& name, std::span<const uint8_t> stored);

}  // namespace omr72
