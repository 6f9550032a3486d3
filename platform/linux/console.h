// Linux: the console on a terminal or on scripted input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "platform/console.h"

namespace omr72 {

// Key codes of keys without a character, as the Windows console reports them after a 0.
constexpr uint8_t kKeyF1 = 0x3B;  // F1..F10 are 0x3B..0x44
constexpr uint8_t kKeyF11 = 0x85;
constexpr uint8_t kKeyF12 = 0x86;
constexpr uint8_t kKeyHome = 0x47;
constexpr uint8_t kKeyUp = 0x48;
constexpr uint8_t kKeyPageUp = 0x49;
constexpr uint8_t kKeyLeft = 0x4B;
constexpr uint8_t kKeyRight = 0x4D;
constexpr uint8_t kKeyEnd = 0x4F;
constexpr uint8_t kKeyDown = 0x50;
constexpr uint8_t kKeyPageDown = 0x51;
constexpr uint8_t kKeyInsert = 0x52;
constexpr uint8_t kKeyDelete = 0x53;
// Reported after a 0 for an escape sequence that names no key we know: no prompt accepts it,
// and unlike swallowing the sequence it lets a caller that saw a key waiting go on at once.
constexpr uint8_t kKeyUnknown = 0xFF;

constexpr uint8_t kEscape = 0x1B;

// Turns the bytes a terminal sends into the values _getch would give: characters as they are,
// cursor and function keys as 0 followed by the key code. Xterm and VT forms are understood
// (ESC [ A, ESC O P, ESC [ 1 5 ~, ESC [ 1 ; 5 A with the modifier ignored, and the Linux
// console's ESC [ [ A). An Esc followed by anything that cannot start a sequence is the Esc
// key followed by that byte.
class TerminalKeyDecoder {
 public:
  void Feed(uint8_t byte);
  // Nothing more arrived within the escape wait: an Esc on its own is the Esc key, a started
  // sequence is unknown.
  void Pause();
  bool InSequence() const { return inSequence_; }
  bool HasKey() const { return !keys_.empty(); }
  int NextKey();

 private:
  void FeedSequence(uint8_t byte);
  void Finish(std::optional<uint8_t> code);

  bool inSequence_ = false;
  std::string sequence_;  // the bytes after the Esc
  std::deque<int> keys_;
};

class LinuxConsole : public Console {
 public:
  explicit LinuxConsole(int inputFd = STDIN_FILENO, int outputFd = STDOUT_FILENO);
  ~LinuxConsole() override;
  LinuxConsole(const LinuxConsole&) = delete;
  LinuxConsole& operator=(const LinuxConsole&) = delete;

  bool KeyWaiting() override;
  int ReadRawKey() override;
  void Write(std::string_view text) override;
  void HoldInterrupts(const char* notice) override;
  void ReleaseInterrupts(std::string_view closingLine) override;
  bool IsTerminal() const override { return isatty(output_) == 1; }

 private:
  enum class Read { kByte, kTimeout, kEnd };
  Read ReadByte(int timeoutMs, uint8_t& byte);
  void EnsureRaw();

  int input_;
  int output_;
  bool terminal_;
  bool madeRaw_ = false;
  bool endOfInput_ = false;
  std::optional<uint8_t> lookahead_;
  ScriptedKeyBytes scripted_;
  TerminalKeyDecoder decoder_;
};

}  // namespace omr72
