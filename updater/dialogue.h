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
  // What the owner reads on standard error when a held request ends the program after a write:
  // where the update stopped and what to do next, for a write that succeeded and one that failed.
  struct StopLines {
    const char* afterSuccess;
    const char* afterFailure;
  };
  // Runs a write into the recorder's flash with requests to end the program held until it
  // returns: a write cut short leaves a recorder that may no longer start. Returns its result.
  template <typename Write>
  bool Uninterrupted(const StopLines& stop, Write&& write) {
    Held held(console_, status_);
    const bool written = write();
    held.closingLine = written ? stop.afterSuccess : stop.afterFailure;
    return written;
  }
  // Live text after the current line, on a terminal only.
  StatusLine& Status() { return status_; }

 private:
  class Held {
   public:
    Held(Console& console, StatusLine& status);
    // A signal held meanwhile ends the program here: the progress is taken back first.
    ~Held() {
      status_.Clear();
      console_.ReleaseInterrupts(closingLine);
    }
    const char* closingLine = "";
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    Console& console_;
    StatusLine& status_;
  };

  Console& console_;
  StatusLine status_;
};

}  // namespace omr72
