#include "updater/dialogue.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "updater/messages.h"

namespace omr72 {

bool IsYesKey(uint16_t key) {
  return key == 'Y' || key == 'y';
}
bool IsConfirmKey(uint16_t key) {
  return key == 'L' || key == 'l';
}

void Dialogue::Print(const char* format, ...) {
  status_.Clear();
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    console_.Write(text);
  }
  va_end(args);
}

// Keys without a character arrive as 0 followed by their key code; shifting the code into the
// high byte keeps it from ever equalling a character code.
uint16_t Dialogue::ReadKey() {
  const uint16_t first = static_cast<uint16_t>(console_.ReadRawKey());
  if (first != 0) return first;
  return static_cast<uint16_t>(console_.ReadRawKey() << 8);
}

void Dialogue::ErrorEnding() {
  Print("%s", messages::kPressAnyKeyToExit);
  ReadKey();
}

void Dialogue::FinalEnding() {
  Print("%s", messages::kPressAnyKeyToExitFinal);
  ReadKey();
}

}  // namespace omr72
