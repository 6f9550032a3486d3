// The console side of a run: formatted output that reaches the screen at once, and key reads.
#pragma once

#include <cstdint>

#include "platform/console.h"

namespace omr72 {

constexpr uint16_t kKeyEsc = 27;

bool IsYesKey(uint16_t key);
bool IsConfirmKey(uint16_t key);

class Dialogue {
 public:
  explicit Dialogue(Console& console) : console_(console) {}

  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // One key press: a key without a character gives its key code shifted left by 8.
  uint16_t ReadKey();
  bool KeyWaiting() { return console_.KeyWaiting(); }
  // "Press any key to exit.\n" and one key.
  void ErrorEnding();
  // "Press any key to exit...\n" and one key.
  void FinalEnding();
  // Runs a write into the recorder's flash with requests to end the program held until it
  // returns: a write cut short leaves a recorder that may no longer start. Returns its result.
  template <typename Write>
  bool Uninterrupted(Write&& write) {
    Held held(console_);
    return write();
  }

 private:
  class Held {
   public:
    explicit Held(Console& console);
    ~Held() { console_.ReleaseInterrupts(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    Console& console_;
  };

  Console& console_;
};

}  // namespace omr72
