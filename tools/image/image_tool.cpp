// Linux tool for release engineers preparing the payloads:
//   omr72-image info PATH             checks FWC.bin, BRC.bin, BRC20.bin in the folder PATH,
//                                     or the payloads the executable PATH carries, and shows
//                                     the fields the update reads from them, with any doubts
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
#include <memory>
#include <string>
#include <vector>

#include "images/image_store.h"
#include "images/payload_set.h"
#include "platform/native.h"
#include "tools/output/output_file.h"

namespace {

using omr72::kResourceSize;
using Bytes = std::vector<uint8_t>;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kImplausible = 3;

void Complain(const std::string& path, const std::string& problem) {
  std::fprintf(stderr, "omr72-image: %s: %s\n", path.c_str(), problem.c_str());
}

void Complain(const std::string& pathAndProblem) {
  std::fprintf(stderr, "omr72-image: %s\n", pathAndProblem.c_str());
}

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

// What the payloads hold, every doubt as "WARNING: FILE: doubt", and the samples named as such.
int Show(omr72::PayloadSet& set, const std::string& where) {
  const omr72::PayloadReport report = omr72::JudgePayloads(set);
  std::printf("New firmware version: %s\n", VersionText(report.fields.newFirmwareVersion).c_str());
  std::printf("Required boot loader version: %s\n",
              VersionText(report.fields.requiredBootLoaderVersion).c_str());
  std::printf("Model tag: %s\n", TagText(report.fields.modelTag).c_str());
  if (report.samples) {
    std::printf(
        "Samples: %s holds the sample payloads of this project, not recorder firmware; a "
        "program built or run with them refuses every real recorder.\n",
        where.c_str());
  }
  for (const omr72::PayloadProblem& doubt : report.doubts) {
    std::printf("WARNING: %s: %s\n", doubt.file.c_str(), doubt.reason.c_str());
  }
  if (report.doubts.empty()) return 0;
  std::printf(
      "WARNING: these payloads do not look like scrambled Orlo Mica R72 firmware; the build "
      "refuses them unless configured with -DOMR72_FORCE_PAYLOADS=ON, and omr72-updater "
      "--payloads refuses them.\n");
  return kImplausible;
}

// A folder or an executable, as omr72-updater --payloads takes them: the owner checks the
// maker's updater itself before giving it to the updater.
int Info(const std::string& path) {
  auto module = omr72::NativePlatform::MakeProgramModule();
  omr72::PayloadSet set;
  if (auto problem = omr72::ReadPayloadSet(*module, path, set)) {
    Complain(problem->file, problem->reason);
    return kFailed;
  }
  return Show(set, path);
}

int Extract(const std::string& exe, const std::string& dir) {
  // All three are found and checked before anything is written.
  auto module = omr72::NativePlatform::MakeProgramModule();
  omr72::PayloadSet set;
  std::error_code error;
  if (std::filesystem::is_directory(exe, error)) {
    Complain(exe, "a folder, not an executable");
    return kFailed;
  }
  if (auto problem = omr72::ReadPayloadSet(*module, exe, set)) {
    Complain(problem->file, problem->reason);
    return kFailed;
  }
  std::filesystem::create_directories(dir, error);
  if (error) {
    Complain(dir, error.message());
    return kFailed;
  }
  // Each is written beside its place and renamed in only once all three are complete.
  std::vector<std::unique_ptr<omr72::tools::OutputFile>> files;
  for (const char* name : omr72::kPayloadNames) {
    const std::vector<uint8_t>& bytes = set.payloads[name];
    auto file = std::make_unique<omr72::tools::OutputFile>();
    const std::string path = (std::filesystem::path(dir) / (std::string(name) + ".bin")).string();
    if (auto problem = file->Open(path)) {
      Complain(*problem);
      return kFailed;
    }
    if (auto problem = file->Write({reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
      Complain(*problem);
      return kFailed;
    }
    files.push_back(std::move(file));
  }
  for (auto& file : files) {
    if (auto problem = file->Commit()) {
      Complain(*problem);
      return kFailed;
    }
  }
  std::printf("Wrote FWC.bin, BRC.bin and BRC20.bin to %s\n", dir.c_str());
  for (const char* name : omr72::kPayloadNames) set.origins[name] = dir + "/" + name + ".bin";
  return Show(set, dir);
}

int Transform(const std::string& in, const std::string& out) {
  Bytes bytes;
  if (std::string problem = omr72::ReadPayloadFile(in, bytes); !problem.empty()) {
    Complain(in, problem);
    return kFailed;
  }
  // Only the bytes the program descrambles are touched; the stored tail is never read.
  omr72::KeyStream keys;
  omr72::ApplyKeyStream(keys, bytes.data());
  if (auto problem = omr72::tools::WriteWholeFile(
          out, {reinterpret_cast<const char*>(bytes.data()), bytes.size()})) {
    Complain(*problem);
    return kFailed;
  }
  return 0;
}

constexpr char kUsageText[] =
    "usage: omr72-image info PATH\n"
    "       omr72-image extract EXE DIR\n"
    "       omr72-image scramble IN OUT\n"
    "       omr72-image descramble IN OUT\n"
    "       omr72-image --help | --version\n"
    "info shows what the payloads FWC.bin, BRC.bin and BRC20.bin in the folder PATH, or the\n"
    "payloads the executable PATH carries, hold and warns about payloads that do not look\n"
    "like recorder firmware (exit code 3). extract writes the\n"
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
    return args.size() == 2 ? Info(args[1]) : Refuse("usage: omr72-image info PATH");
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
