// Windows: the console on an attached console window or on redirected standard input.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "platform/console.h"

namespace omr72 {

// One key from the console as ReadRawKey reports it; `getch` and `kbhit` are _getch and _kbhit
// (parameters so that tests can stand in for the console).
int ReadConsoleKey(int (*getch)(), int (*kbhit)());

class Win32Console : public Console {
 public:
  explicit Win32Console(HANDLE input = GetStdHandle(STD_INPUT_HANDLE));

  bool KeyWaiting() override;
  int ReadRawKey() override;
  void Write(std::string_view text) override;
  void HoldInterrupts(const char* notice) override;
  void ReleaseInterrupts(std::string_view closingLine) override;
  bool IsTerminal() const override;

 private:
  bool ReadByte(uint8_t& byte);

  HANDLE input_;
  bool console_;
  bool endOfInput_ = false;
  std::optional<uint8_t> lookahead_;
  ScriptedKeyBytes scripted_;
};

}  // namespace omr72
