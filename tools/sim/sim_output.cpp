#include "tools/sim/sim_output.h"

namespace omr72::sim {
namespace {

bool WriteStateFile(const std::string& path, const std::string& json) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << json << '\n';
  return static_cast<bool>(file);
}

}  // namespace

std::optional<std::string> SimOutput::Open() {
  if (!options_.traceFile) return std::nullopt;
  trace_.open(*options_.traceFile, std::ios::binary | std::ios::trunc);
  if (!trace_) return "cannot write the trace file " + *options_.traceFile;
  return std::nullopt;
}

void SimOutput::WriteState(const emu::EmulatedHost& host) {
  if (options_.stateFile) WriteStateFile(*options_.stateFile, host.StateJson());
}

void SimOutput::Attach(emu::EmulatedHost& host) {
  if (trace_.is_open() || options_.stateFile) {
    host.SetTraceSink([this, &host](const std::string& line) {
      if (trace_.is_open()) {
        trace_ << line << '\n';
        trace_.flush();
      }
      WriteState(host);
    });
  }
  if (options_.stateFile) host.SetStateChangeSink([this, &host] { WriteState(host); });
  WriteState(host);
}

std::optional<std::string> SimOutput::Finish(const emu::EmulatedHost& host) {
  if (!options_.stateFile || WriteStateFile(*options_.stateFile, host.StateJson())) {
    return std::nullopt;
  }
  return "cannot write the state file " + *options_.stateFile;
}

}  // namespace omr72::sim
