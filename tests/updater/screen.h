// What a terminal shows for a stream of console output: carriage returns and backspaces move
// the cursor, characters overwrite what they land on, trailing blanks are invisible.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace omr72::testing {

inline std::string Screen(std::string_view output) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (const char c : output) {
    std::string& line = lines.back();
    if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\b') {
      column -= column > 0;
    } else {
      if (line.size() <= column) line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  std::string screen;
  for (std::string& line : lines) {
    line.erase(line.find_last_not_of(' ') + 1);
    screen += line + '\n';
  }
  return screen;
}

}  // namespace omr72::testing
