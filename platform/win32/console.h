// Windows: the console on an attached console window or on redirected standard input.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "platform/console.h"

namespace omr72 {

class Win32Console : public Console {
 public:
  explicit Win32Console(HANDLE input = GetStdHandle(STD_INPUT_HANDLE));

  bool KeyWaiting() override;
  int ReadRawKey() override;
  void Write(std::string_view text) override;
  void HoldInterrupts(const char* notice) override;
  void ReleaseInterrupts() override;

 private:
  bool ReadByte(uint8_t& byte);

  HANDLE input_;
  bool console_;
  bool endOfInput_ = false;
  std::optional<uint8_t> lookahead_;
  ScriptedKeyBytes scripted_;
};

}  // namespace omr72
