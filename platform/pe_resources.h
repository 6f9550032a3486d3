// Reads named RCDATA resources out of a Windows executable file (PE32 or PE32+), without
// loading it: the way a release engineer gets the payloads back out of a Windows build.
//
// Every offset, count and size read from the file is checked against the file and against the
// resource section before it is used; anything that does not add up is refused with a reason,
// never read past.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace omr72::pe {

constexpr uint32_t kRcDataType = 10;    // RT_RCDATA
constexpr uint32_t kManifestType = 24;  // RT_MANIFEST

struct ResourceResult {
  std::optional<std::vector<uint8_t>> bytes;  // set when found
  std::string problem;                        // why not, when not
};

// The data of the resource of type RT_RCDATA named `name` (ASCII, compared without regard to
// case as FindResourceA does), in the first language it is stored under.
ResourceResult FindRcData(std::span<const uint8_t> file, const std::string& name);

// The data of the resource of `type` with the numeric id `id` (an RT_MANIFEST's 1, say), in the
// first language it is stored under.
ResourceResult FindResourceById(std::span<const uint8_t> file, uint32_t type, uint32_t id);

}  // namespace omr72::pe
