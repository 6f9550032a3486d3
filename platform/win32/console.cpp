// Windows: Win32Console. With a console attached, keys come from _kbhit and _getch; with
// standard input redirected (scripted runs), every byte read from it is a key, and at its end
// no key is waiting and every read returns kEndOfInput at once.
#include "platform/win32/console.h"

#include <conio.h>

#include <cstdio>
#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

// _getch announces cursor keys with 0xE0 instead of 0; the key code follows either way.
constexpr int kExtendedKeyPrefix = 0xE0;

}  // namespace

// 0xE0 is also a character: 'р' in code page 866, the console's code page for the Russian
// texts. Only when the key code is already waiting behind it (as _getch queues it with the
// prefix) is it the prefix of a key without a character.
int ReadConsoleKey(int (*getch)(), int (*kbhit)()) {
  const int key = getch();
  if (key == kExtendedKeyPrefix) return kbhit() != 0 ? 0 : key;
  return key;
}

Win32Console::Win32Console(HANDLE input) : input_(input), console_(false) {
  DWORD mode = 0;
  console_ = input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode);
}

bool Win32Console::ReadByte(uint8_t& byte) {
  if (lookahead_) {
    byte = *lookahead_;
    lookahead_.reset();
    return true;
  }
  if (endOfInput_) return false;
  DWORD read = 0;
  if (!ReadFile(input_, &byte, 1, &read, nullptr) || read != 1) {
    endOfInput_ = true;
    return false;
  }
  return true;
}

bool Win32Console::KeyWaiting() {
  if (console_) return _kbhit() != 0;
  if (lookahead_) return true;
  if (endOfInput_) return false;
  if (GetFileType(input_) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr)) return available > 0;
    // The writer has gone and nothing is left to read.
    if (GetLastError() == ERROR_BROKEN_PIPE) {
      endOfInput_ = true;
      return false;
    }
    // A pipe that cannot be peeked (wine hands a Unix pipe over as one) is read ahead like a
    // file; that waits for the next byte, so scripts for such hosts send their keys at once.
  }
  // A file never blocks: read ahead to tell a byte from its end.
  uint8_t byte = 0;
  if (!ReadByte(byte)) return false;
  lookahead_ = byte;
  return true;
}

int Win32Console::ReadRawKey() {
  if (console_) return ReadConsoleKey(_getch, _kbhit);
  uint8_t byte = 0;
  return ReadByte(byte) ? scripted_.Next(byte) : kEndOfInput;
}

void Win32Console::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// A console screen buffer has a console mode; a pipe or file has none.
bool Win32Console::IsTerminal() const {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::unique_ptr<Console> NativePlatform::MakeConsole() {
  return std::make_unique<Win32Console>();
}

}  // namespace omr72
