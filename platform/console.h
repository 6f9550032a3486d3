// The console: key input without echo and output that reaches the screen at once.
//
// Backend contract:
// - KeyWaiting() returns at once: true when ReadRawKey() would not block.
// - ReadRawKey() blocks for one key and returns it like _getch(): a character key gives its
//   code; a key without a character gives 0 (or 0xE0) and the next call gives its key code.
//   At the end of scripted input it returns kEndOfInput at once, every time.
// - Write() puts the text on standard output and flushes it.
#pragma once

#include <string_view>

namespace omr72 {

constexpr int kEndOfInput = -1;

class Console {
 public:
  virtual ~Console() = default;
  virtual bool KeyWaiting() = 0;
  virtual int ReadRawKey() = 0;
  virtual void Write(std::string_view text) = 0;
};

}  // namespace omr72
