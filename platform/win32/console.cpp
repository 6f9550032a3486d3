// Windows: Win32Console. With a console attached, keys come from _kbhit and _getch; with
// standard input redirected (scripted runs), every byte read from it is a key, and at its end
// no key is waiting and every read returns kEndOfInput at once. Ctrl+C and Ctrl+Break end the
// program at once, except during a hold (HoldInterrupts), whose end they wait for.
#include "platform/win32/console.h"

#include <conio.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

// _getch announces cursor keys with 0xE0 instead of 0; the key code follows either way.
constexpr int kExtendedKeyPrefix = 0xE0;

// What ends a console program that Ctrl+C or Ctrl+Break reached without a handler.
constexpr UINT kControlCExit = 0xC000013A;

// The hold of Ctrl+C and Ctrl+Break. Windows runs the control handler on a thread of its own,
// so the shared words are interlocked.
struct Hold {
  volatile LONG holding = 0;
  volatile LONG pending = 0;
  volatile LONG shown = 0;
  HANDLE output = nullptr;  // a console screen buffer, or nullptr: no notice
  const char* notice = nullptr;
};
Hold g_hold;

void WriteConsoleText(const char* text) {
  DWORD written = 0;
  WriteConsoleA(g_hold.output, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// The notice goes on the line below the cursor's, and the cursor comes back where it was, so
// that what the program still writes on its line (the progress of the write) stays there.
SHORT g_noticeLine = 0;

void ShowNotice() {
  if (!g_hold.output || !g_hold.notice) return;
  CONSOLE_SCREEN_BUFFER_INFO before{};
  if (!GetConsoleScreenBufferInfo(g_hold.output, &before)) return;
  WriteConsoleText("\r\n");
  WriteConsoleText(g_hold.notice);
  CONSOLE_SCREEN_BUFFER_INFO after{};
  if (!GetConsoleScreenBufferInfo(g_hold.output, &after)) return;
  // The notice may have scrolled the buffer by a line: the line above it is the one we left.
  g_noticeLine = after.dwCursorPosition.Y;
  const COORD back{before.dwCursorPosition.X,
                   static_cast<SHORT>(g_noticeLine > 0 ? g_noticeLine - 1 : 0)};
  SetConsoleCursorPosition(g_hold.output, back);
  InterlockedExchange(&g_hold.shown, 1);
}

// Blanks the notice's line; the cursor stays where the program left it.
void EraseNotice() {
  if (!InterlockedExchange(&g_hold.shown, 0)) return;
  CONSOLE_SCREEN_BUFFER_INFO now{};
  if (!GetConsoleScreenBufferInfo(g_hold.output, &now)) return;
  DWORD cleared = 0;
  FillConsoleOutputCharacterA(g_hold.output, ' ', static_cast<DWORD>(now.dwSize.X),
                              COORD{0, g_noticeLine}, &cleared);
}

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (!g_hold.holding) return FALSE;  // the default handler ends the program at once
  if (InterlockedCompareExchange(&g_hold.pending, 1, 0) == 0) ShowNotice();
  return TRUE;
}

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

void Win32Console::HoldInterrupts(const char* notice) {
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(OnControl, TRUE) != 0;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  g_hold.output =
      output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) ? output : nullptr;
  g_hold.notice = notice;
  InterlockedExchange(&g_hold.pending, 0);
  InterlockedExchange(&g_hold.holding, 1);
}

void Win32Console::ReleaseInterrupts(std::string_view closingLine) {
  InterlockedExchange(&g_hold.holding, 0);
  if (!InterlockedExchange(&g_hold.pending, 0)) return;
  EraseNotice();
  // The line the write left open ends here, on the console only: a pipe keeps the transcript.
  if (g_hold.output != nullptr) std::fputs("\n", stdout);
  std::fflush(stdout);
  std::fwrite(closingLine.data(), 1, closingLine.size(), stderr);
  std::fflush(stderr);
  ExitProcess(kControlCExit);
}

std::unique_ptr<Console> NativePlatform::MakeConsole() {
  return std::make_unique<Win32Console>();
}

}  // namespace omr72
