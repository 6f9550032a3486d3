// Linux tool for release engineers preparing the payloads:
//   omr72-image info DIR              checks DIR/FWC.bin, BRC.bin, BRC20.bin and shows the
//                                     fields the update reads from them
//   omr72-image scramble IN OUT       scrambles a plain payload
//   omr72-image descramble IN OUT     descrambles a stored payload (the same operation)
// Exit codes: 0 done, 1 a file is missing, unreadable, of the wrong size or unwritable,
// 2 wrong command line.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "images/image_store.h"

namespace {

using omr72::kResourceSize;
using Bytes = std::vector<uint8_t>;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
const char* const kPayloadNames[] = {"FWC", "BRC", "BRC20"};

void Complain(const std::string& path, const std::string& problem) {
  std::fprintf(stderr, "omr72-image: %s: %s\n", path.c_str(), problem.c_str());
}

// The whole payload file, or false after saying what is wrong with it.
bool ReadPayload(const std::string& path, Bytes& bytes) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    Complain(path, "no such file");
    return false;
  }
  if (!std::filesystem::is_regular_file(path, error)) {
    Complain(path, "not a regular file");
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    Complain(path, "cannot be opened");
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    Complain(path, "cannot be read");
    return false;
  }
  if (bytes.size() != kResourceSize) {
    Complain(path, "holds " + std::to_string(bytes.size()) + " bytes; a payload holds exactly " +
                       std::to_string(kResourceSize));
    return false;
  }
  return true;
}

bool WritePayload(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (file) return true;
  Complain(path, "cannot be written");
  return false;
}

// The payloads of a folder, served the way the program's own resources are.
class FolderModule : public omr72::ProgramModule {
 public:
  explicit FolderModule(std::map<std::string, Bytes> payloads) : payloads_(std::move(payloads)) {}
  std::string Path(const char* argv0) override { return argv0 != nullptr ? argv0 : ""; }
  bool LoadRcData(const std::string&, const char* name, uint8_t* out, size_t size) override {
    auto found = payloads_.find(name);
    if (found == payloads_.end() || found->second.size() < size) return false;
    std::copy_n(found->second.begin(), size, out);
    return true;
  }

 private:
  std::map<std::string, Bytes> payloads_;
};

std::string VersionText(uint16_t version) {
  return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

std::string TagText(const omr72::ModelTagBytes& tag) {
  std::string text;
  for (uint8_t byte : tag) {
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += static_cast<char>(byte);
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    text += escaped;
  }
  return text;
}

int Info(const std::string& dir) {
  std::map<std::string, Bytes> payloads;
  bool ok = true;
  for (const char* name : kPayloadNames) {
    Bytes bytes;
    ok = ReadPayload(dir + "/" + name + ".bin", bytes) && ok;
    payloads[name] = std::move(bytes);
  }
  if (!ok) return kFailed;

  FolderModule module(std::move(payloads));
  omr72::ImageStore store(module, dir);
  if (!store.LoadFirmwareImage()) {
    Complain(dir + "/FWC.bin", "cannot be loaded");
    return kFailed;
  }
  std::printf("New firmware version: %s\n", VersionText(store.NewFirmwareVersion()).c_str());
  std::printf("Required boot loader version: %s\n",
              VersionText(store.RequiredBootLoaderVersion()).c_str());
  std::printf("Model tag: %s\n", TagText(store.ModelTag()).c_str());
  return 0;
}

int Transform(const std::string& in, const std::string& out) {
  Bytes bytes;
  if (!ReadPayload(in, bytes)) return kFailed;
  // Only the bytes the program descrambles are touched; the stored tail is never read.
  omr72::KeyStream keys;
  omr72::ApplyKeyStream(keys, bytes.data());
  return WritePayload(out, bytes) ? 0 : kFailed;
}

int Usage() {
  std::fprintf(stderr,
               "usage: omr72-image info DIR\n"
               "       omr72-image scramble IN OUT\n"
               "       omr72-image descramble IN OUT\n");
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "info") return Info(args[1]);
  if (args.size() == 3 && (args[0] == "scramble" || args[0] == "descramble")) {
    return Transform(args[1], args[2]);
  }
  return Usage();
}
