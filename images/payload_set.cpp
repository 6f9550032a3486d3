#include "images/payload_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "images/image_store.h"

namespace omr72 {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string ReadPayloadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error) return error.message();
  if (!fs::is_regular_file(status)) return "not a regular file";
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::strerror(errno);
  // One byte more than a payload holds tells a longer file from a complete one.
  bytes.assign(kResourceSize + 1, 0);
  const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return std::strerror(errno);
  bytes.resize(got);
  if (got != kResourceSize) {
    // The size the file system reports says how long a longer file is.
    const uintmax_t size = got > kResourceSize ? fs::file_size(path, error) : got;
    return "holds " + std::to_string(size) + " bytes; a payload holds exactly " +
           std::to_string(kResourceSize);
  }
  return {};
}

bool PayloadSet::LoadRcData(const std::string&, const char* name, uint8_t* out, size_t size) {
  auto found = payloads.find(name != nullptr ? name : "");
  if (found == payloads.end() || found->second.size() < size) return false;
  std::copy_n(found->second.begin(), size, out);
  return true;
}

std::optional<PayloadProblem> ReadPayloadSet(ProgramModule& module, const std::string& path,
                                             PayloadSet& out) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return PayloadProblem{path, error.message()};
  const bool folder = std::filesystem::is_directory(status);
  for (const char* name : kPayloadNames) {
    std::vector<uint8_t> bytes;
    std::string origin;
    std::string problem;
    if (folder) {
      origin = (std::filesystem::path(path) / (std::string(name) + ".bin")).string();
      problem = ReadPayloadFile(origin, bytes);
    } else {
      origin = path + " (resource " + name + ")";
      problem = module.LoadFileRcData(path, name, bytes);
      if (problem.empty() && bytes.size() != kResourceSize) {
        problem = "holds " + std::to_string(bytes.size()) + " bytes; a payload holds exactly " +
                  std::to_string(kResourceSize);
      }
    }
    if (!problem.empty()) return PayloadProblem{folder ? origin : path, problem};
    out.payloads[name] = std::move(bytes);
    out.origins[name] = origin;
  }
  return std::nullopt;
}

PayloadReport JudgePayloads(PayloadSet& set) {
  PayloadReport report;
  report.samples =
      std::all_of(std::begin(kPayloadNames), std::end(kPayloadNames),
                  [&](const char* name) { return IsSamplePayload(name, set.payloads[name]); });
  ImageStore store(set, "");
  if (!store.LoadFirmwareImage()) {
    report.doubts.push_back({set.origins["FWC"], "cannot be loaded"});
    return report;
  }
  report.fields = {store.NewFirmwareVersion(), store.RequiredBootLoaderVersion(), store.ModelTag()};
  for (const std::string& doubt : FirmwareDoubts(report.fields)) {
    report.doubts.push_back({set.origins["FWC"], doubt});
  }
  // The samples' boot loaders are noise by design; they are named as samples instead.
  for (const char* name : {"BRC", "BRC20"}) {
    if (IsSamplePayload(name, set.payloads[name])) continue;
    std::vector<uint8_t> image = set.payloads[name];
    KeyStream keys;
    ApplyKeyStream(keys, image.data());
    for (const std::string& doubt : BootLoaderDoubts(image.data())) {
      report.doubts.push_back({set.origins[name], doubt});
    }
  }
  return report;
}

}  // namespace omr72
