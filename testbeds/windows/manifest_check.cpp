// Reads a Windows build of the updater from Linux and checks its application manifest
// (RT_MANIFEST, id 1): that it is there, asks for elevation (requireAdministrator) and names
// the Windows versions from Vista to 10/11 as supported.
// Usage: omr72-manifest-check EXE. Exit code 0 when all holds, 1 otherwise (the reason on
// standard output), 2 for a wrong command line.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/pe_resources.h"

namespace {

constexpr uint32_t kApplicationManifestId = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID

struct SupportedOs {
  const char* name;
  const char* id;
};

constexpr SupportedOs kSupported[] = {
    {"Windows Vista", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"},
    {"Windows 7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
    {"Windows 8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
    {"Windows 8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
    {"Windows 10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: omr72-manifest-check EXE\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                   std::istreambuf_iterator<char>()};
  if (bytes.empty()) {
    std::printf("FAILED: %s cannot be read\n", argv[1]);
    return 1;
  }
  const omr72::pe::ResourceResult found =
      omr72::pe::FindResourceById(bytes, omr72::pe::kManifestType, kApplicationManifestId);
  if (!found.bytes) {
    std::printf("FAILED: %s has no application manifest: %s\n", argv[1], found.problem.c_str());
    return 1;
  }
  const std::string manifest(found.bytes->begin(), found.bytes->end());
  int failures = 0;
  const auto check = [&failures](bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) ++failures;
  };
  check(manifest.rfind("<?xml", 0) == 0, "the manifest starts with its XML declaration");
  // Exactly one execution level, and it is the elevated one.
  const std::regex level(R"re(<requestedExecutionLevel\s[^>]*level\s*=\s*"([A-Za-z]+)")re");
  const auto levels = std::sregex_iterator(manifest.begin(), manifest.end(), level);
  const long count = std::distance(levels, std::sregex_iterator());
  check(count == 1 && (*levels)[1] == "requireAdministrator",
        "requestedExecutionLevel level=\"requireAdministrator\", once");
  for (const SupportedOs& os : kSupported) {
    check(manifest.find(std::string("<supportedOS Id=\"") + os.id + "\"") != std::string::npos,
          std::string("supportedOS ") + os.name);
  }
  if (failures) std::printf("The manifest:\n%s\n", manifest.c_str());
  return failures ? 1 : 0;
}
