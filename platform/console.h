// The console: key input without echo and output that reaches the screen at once.
//
// Backend contract:
// - KeyWaiting() returns at once: true when ReadRawKey() would not block.
// - ReadRawKey() blocks for one key and returns it like _getch(): a character key gives its
//   code; a key without a character gives 0 (or 0xE0) and the next call gives its key code.
//   At the end of scripted input it returns kEndOfInput at once, every time.
// - Write() puts the text on standard output and flushes it.
// - IsTerminal() tells whether standard output is a terminal (or console window) a person
//   watches, rather than a pipe or file; only then may text be written and taken back.
#pragma once

#include <cstdint>
#include <string_view>

namespace omr72 {

constexpr int kEndOfInput = -1;

// Scripted input, one byte per key, as the Windows console reports keys: a 0x00 or 0xE0 byte
// announces a key without a character and reads as 0; the byte after it is that key's code and
// reads as it is, whatever its value.
class ScriptedKeyBytes {
 public:
  int Next(uint8_t byte) {
    if (codeNext_) {
      codeNext_ = false;
      return byte;
    }
    if (byte == 0x00 || byte == 0xE0) {
      codeNext_ = true;
      return 0;
    }
    return byte;
  }

 private:
  bool codeNext_ = false;
};

class Console {
 public:
  virtual ~Console() = default;
  virtual bool KeyWaiting() = 0;
  virtual int ReadRawKey() = 0;
  virtual void Write(std::string_view text) = 0;
  virtual bool IsTerminal() const { return false; }

  // Between these two calls a request to end the program (SIGINT, SIGTERM or SIGHUP; Ctrl+C or
  // Ctrl+Break on Windows) is held: the first one shows `notice` once on a line of its own when
  // the output is a terminal, and ReleaseInterrupts erases it, writes `closingLine` (a whole
  // line) on standard error, after a line end on the terminal so that it stands on a line of
  // its own, puts the terminal back and ends the program as that request would have. Outside a
  // hold such a request ends the program at once. Holds do not nest. Consoles without such
  // requests (scripted ones) ignore both calls.
  virtual void HoldInterrupts(const char* notice) { (void)notice; }
  virtual void ReleaseInterrupts(std::string_view closingLine) { (void)closingLine; }
};

}  // namespace omr72
