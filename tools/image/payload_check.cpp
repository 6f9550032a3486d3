#include "tools/image/payload_check.h"

#include <algorithm>

namespace omr72 {
namespace {

constexpr uint8_t kMaxMajor = 9;
constexpr uint8_t kMaxMinor = 99;
constexpr char kModelFamily[] = "R72";

std::string VersionText(uint16_t version) {
  return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

}  // namespace

bool PlausibleVersion(uint16_t version) {
  return version != 0 && (version >> 8) <= kMaxMajor && (version & 0xFF) <= kMaxMinor;
}

std::vector<std::string> FirmwareDoubts(const FirmwareFields& fields) {
  std::vector<std::string> doubts;
  if (!std::equal(kModelFamily, kModelFamily + 3, fields.modelTag.begin())) {
    doubts.push_back("the model tag does not start with \"R72\"");
  }
  if (!PlausibleVersion(fields.newFirmwareVersion)) {
    doubts.push_back("implausible firmware version " + VersionText(fields.newFirmwareVersion));
  }
  if (!PlausibleVersion(fields.requiredBootLoaderVersion)) {
    doubts.push_back("implausible required boot-loader version " +
                     VersionText(fields.requiredBootLoaderVersion));
  }
  return doubts;
}

std::vector<std::string> BootLoaderDoubts(const uint8_t* image) {
  // One value throughout is a blank or erased dump, not code.
  const bool uniform =
      std::all_of(image, image + kImageSize, [&](uint8_t b) { return b == image[0]; });
  if (uniform) return {"every byte is the same"};
  return {};
}

}  // namespace omr72
