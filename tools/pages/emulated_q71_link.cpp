// The exports' link over an emulated recorder (default configuration: on drive 1, firmware
// 1.5, 2048-byte pages), for libomr72-emulated.so. Two environment variables shape it:
//   OMR72_EMULATED_TRACE=FILE   append every command that reaches a drive to FILE
//   OMR72_EMULATED_FAIL=N,M,... fail those commands, counted from 1 in the trace
//   OMR72_EMULATED_SERIAL=TEXT  the recorder's serial number (at most 20 bytes are kept)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_host.h"
#include "scsilink/exports/q71_link.h"

namespace omr72 {
namespace {

std::vector<int> ParseCommandNumbers(const char* text) {
  std::vector<int> numbers;
  while (text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text) break;
    if (n > 0) numbers.push_back(static_cast<int>(n));
    text = *end == ',' ? end + 1 : end;
  }
  return numbers;
}

void AppendLine(const std::string& path, const std::string& line) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "a"), &std::fclose);
  if (file) std::fprintf(file.get(), "%s\n", line.c_str());
}

std::unique_ptr<emu::EmulatedHost> MakeHost() {
  emu::RecorderConfig config;
  config.failCommands = ParseCommandNumbers(std::getenv("OMR72_EMULATED_FAIL"));
  if (const char* serial = std::getenv("OMR72_EMULATED_SERIAL")) {
    config.serial = std::string(serial).substr(0, 20);
  }
  auto host = std::make_unique<emu::EmulatedHost>(config, emu::KnownImages{});
  if (const char* trace = std::getenv("OMR72_EMULATED_TRACE")) {
    host->SetTraceSink(
        [path = std::string(trace)](const std::string& line) { AppendLine(path, line); });
  }
  return host;
}

}  // namespace

// Created on first use; released when the library is unloaded.
ScsiLink& Q71Link() {
  struct Owned {
    std::unique_ptr<emu::EmulatedHost> host = MakeHost();
    ScsiLink link{host->scsi()};
  };
  static Owned owned;
  return owned.link;
}

}  // namespace omr72
