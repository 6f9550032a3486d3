#include "tools/sim/sim_output.h"

namespace omr72::sim {

void SimOutput::Note(std::optional<std::string> problem) {
  if (problem && !problem_) problem_ = std::move(problem);
}

std::optional<std::string> SimOutput::Open() {
  if (options_.stateFile) {
    // A trial of the new file beside it: the folder takes it and the path is a regular file.
    tools::OutputFile trial;
    if (auto problem = trial.Open(*options_.stateFile)) return problem;
  }
  if (!options_.traceFile) return std::nullopt;
  return trace_.Open(*options_.traceFile);
}

void SimOutput::WriteState(const emu::EmulatedHost& host) {
  if (options_.stateFile) Note(tools::WriteWholeFile(*options_.stateFile, host.StateJson() + "\n"));
}

void SimOutput::Attach(emu::EmulatedHost& host) {
  if (trace_.IsOpen() || options_.stateFile) {
    host.SetTraceSink([this, &host](const std::string& line) {
      if (trace_.IsOpen()) Note(trace_.AppendLine(line));
      WriteState(host);
    });
  }
  if (options_.stateFile) host.SetStateChangeSink([this, &host] { WriteState(host); });
  WriteState(host);
}

std::optional<std::string> SimOutput::Finish(const emu::EmulatedHost& host) {
  if (trace_.IsOpen()) Note(trace_.Finish());
  WriteState(host);
  return problem_;
}

}  // namespace omr72::sim
