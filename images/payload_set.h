// The three payloads taken at run time instead of the embedded ones: from a folder holding
// FWC.bin, BRC.bin and BRC20.bin, or from a Windows build of the updater (the maker's, say)
// that carries them as RCDATA resources. They are read and judged whole before anything
// starts, and then served to ImageStore exactly as the program's own resources would be.
// Nothing here prints.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "images/payload_check.h"
#include "platform/program_module.h"

namespace omr72 {

inline constexpr const char* kPayloadNames[] = {"FWC", "BRC", "BRC20"};

// What is wrong, and with which file: "DIR/BRC.bin" or "EXE (resource BRC)".
struct PayloadProblem {
  std::string file;
  std::string reason;
};

class PayloadSet : public ProgramModule {
 public:
  std::string Path(const char* argv0) override { return argv0 != nullptr ? argv0 : ""; }
  bool LoadRcData(const std::string& modulePath, const char* name, uint8_t* out,
                  size_t size) override;

  // The stored payload by name, as it was read.
  std::map<std::string, std::vector<uint8_t>> payloads;
  // Where each came from, for messages.
  std::map<std::string, std::string> origins;
};

// One stored payload file, whole: an empty text, or why it cannot be used (the system's
// reason, or its size when that is not kResourceSize).
std::string ReadPayloadFile(const std::string& path, std::vector<uint8_t>& bytes);

// Reads the three payloads from `path`: a folder, or an executable read through `module`
// (as data; it is never run). Each must hold exactly kResourceSize bytes.
std::optional<PayloadProblem> ReadPayloadSet(ProgramModule& module, const std::string& path,
                                             PayloadSet& out);

// What the payloads hold and what is doubtful about them: the fields the update reads, the
// plausibility rules, and whether all three are the sample payloads.
struct PayloadReport {
  FirmwareFields fields;
  std::vector<PayloadProblem> doubts;
  bool samples = false;
};
PayloadReport JudgePayloads(PayloadSet& set);

}  // namespace omr72
