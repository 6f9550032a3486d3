// Linux tool for release engineers preparing the payloads:
//   omr72-image info DIR              checks DIR/FWC.bin, BRC.bin, BRC20.bin and shows the
//                                     fields the update reads from them, with any doubts
//   omr72-image extract EXE DIR       writes the payloads a Windows build of the updater
//                                     carries into DIR, then shows them as info does
//   omr72-image scramble IN OUT       scrambles a plain payload
//   omr72-image descramble IN OUT     descrambles a stored payload (the same operation)
//   omr72-image --help | --version
// Exit codes: 0 done, 1 a file is missing, unreadable, malformed, of the wrong size or
// unwritable, 2 wrong command line, 3 the payloads do not look like recorder firmware.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "images/image_store.h"
#include "tools/image/payload_check.h"
#include "tools/image/pe_resources.h"

namespace {

using omr72::kResourceSize;
using Bytes = std::vector<uint8_t>;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kImplausible = 3;
constexpr uintmax_t kMaxExecutableSize = uintmax_t{256} << 20;
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

bool ReadPayloads(const std::string& dir, std::map<std::string, Bytes>& payloads) {
  bool ok = true;
  for (const char* name : kPayloadNames) {
    Bytes bytes;
    ok = ReadPayload(dir + "/" + name + ".bin", bytes) && ok;
    payloads[name] = std::move(bytes);
  }
  return ok;
}

// Each doubt as "WARNING: FILE: doubt"; whether there was none.
bool ShowDoubts(const std::string& path, const std::vector<std::string>& doubts) {
  for (const std::string& doubt : doubts)
    std::printf("WARNING: %s: %s\n", path.c_str(), doubt.c_str());
  return doubts.empty();
}

int Info(const std::string& dir) {
  std::map<std::string, Bytes> payloads;
  if (!ReadPayloads(dir, payloads)) return kFailed;

  FolderModule module(payloads);
  omr72::ImageStore store(module, dir);
  if (!store.LoadFirmwareImage()) {
    Complain(dir + "/FWC.bin", "cannot be loaded");
    return kFailed;
  }
  std::printf("New firmware version: %s\n", VersionText(store.NewFirmwareVersion()).c_str());
  std::printf("Required boot loader version: %s\n",
              VersionText(store.RequiredBootLoaderVersion()).c_str());
  std::printf("Model tag: %s\n", TagText(store.ModelTag()).c_str());

  bool plausible =
      ShowDoubts(dir + "/FWC.bin",
                 omr72::FirmwareDoubts({store.NewFirmwareVersion(),
                                        store.RequiredBootLoaderVersion(), store.ModelTag()}));
  for (const char* name : {"BRC", "BRC20"}) {
    Bytes image = payloads[name];
    omr72::KeyStream keys;
    omr72::ApplyKeyStream(keys, image.data());
    plausible =
        ShowDoubts(dir + "/" + name + ".bin", omr72::BootLoaderDoubts(image.data())) && plausible;
  }
  if (plausible) return 0;
  std::printf(
      "WARNING: these payloads do not look like scrambled Orlo Mica R72 firmware; the build "
      "refuses them unless configured with -DOMR72_FORCE_PAYLOADS=ON.\n");
  return kImplausible;
}

// The whole executable, or false after saying what is wrong with it.
bool ReadExecutable(const std::string& path, Bytes& bytes) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error || !std::filesystem::is_regular_file(path, error)) {
    Complain(path, "no such file");
    return false;
  }
  if (size > kMaxExecutableSize) {
    Complain(path, "too large for a build of the updater");
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    Complain(path, "cannot be read");
    return false;
  }
  return true;
}

int Extract(const std::string& exe, const std::string& dir) {
  Bytes file;
  if (!ReadExecutable(exe, file)) return kFailed;
  // All three are found and checked before anything is written.
  std::map<std::string, Bytes> payloads;
  for (const char* name : kPayloadNames) {
    omr72::pe::ResourceResult found = omr72::pe::FindRcData(file, name);
    if (!found.bytes) {
      Complain(exe, found.problem);
      return kFailed;
    }
    if (found.bytes->size() != kResourceSize) {
      Complain(exe, std::string("resource ") + name + " holds " +
                        std::to_string(found.bytes->size()) + " bytes; a payload holds exactly " +
                        std::to_string(kResourceSize));
      return kFailed;
    }
    payloads[name] = std::move(*found.bytes);
  }
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  for (const auto& [name, bytes] : payloads) {
    if (!WritePayload(dir + "/" + name + ".bin", bytes)) return kFailed;
  }
  std::printf("Wrote FWC.bin, BRC.bin and BRC20.bin to %s\n", dir.c_str());
  return Info(dir);
}

int Transform(const std::string& in, const std::string& out) {
  Bytes bytes;
  if (!ReadPayload(in, bytes)) return kFailed;
  // Only the bytes the program descrambles are touched; the stored tail is never read.
  omr72::KeyStream keys;
  omr72::ApplyKeyStream(keys, bytes.data());
  return WritePayload(out, bytes) ? 0 : kFailed;
}

constexpr char kUsageText[] =
    "usage: omr72-image info DIR\n"
    "       omr72-image extract EXE DIR\n"
    "       omr72-image scramble IN OUT\n"
    "       omr72-image descramble IN OUT\n"
    "       omr72-image --help | --version\n"
    "info shows what the payloads FWC.bin, BRC.bin and BRC20.bin in DIR hold and warns about\n"
    "payloads that do not look like recorder firmware (exit code 3). extract writes the\n"
    "payloads that a Windows build of the updater (OMR72_FW_Updater.exe) carries into DIR.\n";

// A refused command line: one line on stderr, exit code 2.
int Refuse(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Refuse("omr72-image: no command (see --help)");
  const std::string& command = args[0];
  if (command == "--help" && args.size() == 1) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (command == "--version" && args.size() == 1) {
    std::printf("omr72-image %s\n", OMR72_VERSION);
    return 0;
  }
  if (command == "info") {
    return args.size() == 2 ? Info(args[1]) : Refuse("usage: omr72-image info DIR");
  }
  if (command == "extract") {
    return args.size() == 3 ? Extract(args[1], args[2])
                            : Refuse("usage: omr72-image extract EXE DIR");
  }
  if (command == "scramble" || command == "descramble") {
    return args.size() == 3 ? Transform(args[1], args[2])
                            : Refuse("usage: omr72-image " + command + " IN OUT");
  }
  return Refuse("omr72-image: unknown command '" + command + "' (see --help)");
}
