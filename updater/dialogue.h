// The console side of a run: formatted output that reaches the screen at once, and key reads.
#pragma once

#include <cstdint>

#include "platform/console.h"
#include "updater/status_line.h"

namespace omr72 {

constexpr uint16_t kKeyEsc = 27;

bool IsYesKey(uint16_t key);
bool IsConfirmKey(uint16_t key);

class Dialogue {
 public:
  explicit Dialogue(Console& console) : console_(console), status_(console) {}

  // Takes back the status line first, so that what is printed follows the line as it was.
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // One key press: a key without a character gives its key code shifted left by 8.
  uint16_t ReadKey();
  bool KeyWaiting() { return console_.KeyWaiting(); }
  // "Press any key to exit.\n" and one key.
  void ErrorEnding();
  // "Press any key to exit...\n" and one key.
  void FinalEnding();
  // Live text after the current line, on a terminal only.
  StatusLine& Status() { return status_; }

 private:
  Console& console_;
  StatusLine status_;
};

}  // namespace omr72
