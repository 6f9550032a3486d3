#pragma once

namespace omr72 {

// Whether standard input is an interactive terminal (or console) rather than a pipe or file.
bool StandardInputIsTerminal();

}  // namespace omr72
