// The recorder's state as one JSON object, for --state and for tests that check the end of a
// whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator/recorder.h"

namespace omr72::emu {

// Bytes as the contents of a JSON string: quote and backslash escaped, control and non-ASCII
// bytes as \u00XX, so any record the recorder holds gives valid JSON.
std::string JsonEscapeBytes(const uint8_t* bytes, size_t length);

std::string RecorderStateJson(const Recorder& recorder);

}  // namespace omr72::emu
