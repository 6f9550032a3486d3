#include "images/payload_check.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "images/samples/sample_payloads.h"

namespace omr72 {
namespace {

constexpr uint8_t kMaxMajor = 9;
constexpr uint8_t kMaxMinor = 99;
constexpr char kModelFamily[] = "R72";
// Bits per byte above which an image is taken for noise: random bytes over a whole image come
// to 7.99; machine code with its constants, tables and padding stays well below.
constexpr double kNoiseEntropy = 7.9;

double BitsPerByte(const uint8_t* image) {
  std::array<size_t, 256> counts{};
  for (size_t i = 0; i < kImageSize; ++i) ++counts[image[i]];
  double bits = 0;
  for (size_t count : counts) {
    if (count == 0) continue;
    const double p = static_cast<double>(count) / kImageSize;
    bits -= p * std::log2(p);
  }
  return bits;
}

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
  if (BitsPerByte(image) > kNoiseEntropy) {
    return {
        "it descrambles into random bytes, not code (a file of another kind, or stored "
        "unscrambled)"};
  }
  return {};
}

bool IsSamplePayload(const std::string& name, std::span<const uint8_t> stored) {
  static const SamplePayloads samples = MakeSamplePayloads();
  static const std::map<std::string, const std::vector<uint8_t>*> byName = {
      {"FWC", &samples.firmware}, {"BRC", &samples.bootLoader}, {"BRC20", &samples.bootLoader20}};
  auto found = byName.find(name);
  if (found == byName.end() || stored.size() < kImageSize) return false;
  return std::equal(stored.begin(), stored.begin() + kImageSize, found->second->begin());
}

}  // namespace omr72
