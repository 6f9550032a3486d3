// Linux: LinuxConsole, keys from a raw terminal or from scripted standard input.
//
// On a terminal, input is switched to unechoed, unbuffered mode the first time a key is asked
// for, so that output printed before that still runs through an untouched terminal. Signal
// generation (Ctrl-C) and output processing stay on: Ctrl-C ends the program as it does on
// Windows, and "\n" still starts a new line. The terminal is put back when the console goes,
// at exit, and on SIGINT, SIGTERM and SIGHUP, which are then delivered again with their
// default action; during a hold (HoldInterrupts) they wait for its end. Enter gives '\r', as
// on Windows.
//
// When standard input is not a terminal every byte is a key as it stands; at the end of the
// input no key is waiting and every read returns kEndOfInput at once.
#include "platform/linux/console.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>

#include <cstdlib>
#include <memory>

#include "platform/native.h"

namespace omr72 {
namespace {

constexpr int kEscapeWaitMs = 50;
constexpr size_t kMaxSequence = 16;

std::optional<uint8_t> LetterKey(uint8_t final) {
  switch (final) {
    case 'A':
      return kKeyUp;
    case 'B':
      return kKeyDown;
    case 'C':
      return kKeyRight;
    case 'D':
      return kKeyLeft;
    case 'H':
      return kKeyHome;
    case 'F':
      return kKeyEnd;
    case 'P':
      return kKeyF1;
    case 'Q':
      return kKeyF1 + 1;
    case 'R':
      return kKeyF1 + 2;
    case 'S':
      return kKeyF1 + 3;
    default:
      return std::nullopt;
  }
}

std::optional<uint8_t> TildeKey(unsigned number) {
  switch (number) {
    case 1:
    case 7:
      return kKeyHome;
    case 2:
      return kKeyInsert;
    case 3:
      return kKeyDelete;
    case 4:
    case 8:
      return kKeyEnd;
    case 5:
      return kKeyPageUp;
    case 6:
      return kKeyPageDown;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return static_cast<uint8_t>(kKeyF1 + (number - 11));
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return static_cast<uint8_t>(kKeyF1 + 5 + (number - 17));
    case 23:
      return kKeyF11;
    case 24:
      return kKeyF12;
    default:
      return std::nullopt;
  }
}

// `sequence` is "[" parameters final.
std::optional<uint8_t> CsiKey(const std::string& sequence) {
  uint8_t final = static_cast<uint8_t>(sequence.back());
  if (final != '~') return LetterKey(final);
  unsigned number = 0;
  size_t digits = 0;
  for (size_t i = 1; i < sequence.size() && sequence[i] >= '0' && sequence[i] <= '9'; ++i) {
    number = number * 10 + static_cast<unsigned>(sequence[i] - '0');
    ++digits;
  }
  if (digits == 0 || digits > 3) return std::nullopt;
  return TildeKey(number);
}

bool IsParameterByte(uint8_t b) {
  return b >= 0x20 && b <= 0x3F;
}
bool IsFinalByte(uint8_t b) {
  return b >= 0x40 && b <= 0x7E;
}

// The terminal state to put back, reachable from signal handlers and atexit.
struct SavedTerminal {
  volatile sig_atomic_t active = 0;
  int fd = -1;
  termios original{};
};
SavedTerminal g_saved;

// A hold of the end signals, and what the handler needs to show and later erase its notice.
struct Hold {
  volatile sig_atomic_t holding = 0;
  volatile sig_atomic_t pending = 0;  // the first signal that arrived during the hold
  volatile sig_atomic_t shown = 0;    // the notice is on the screen
  volatile sig_atomic_t column = 0;   // where the cursor stood on its line before the notice
  int outputFd = -1;                  // a terminal, or -1: no notice
  const char* notice = nullptr;
};
Hold g_hold;

void RestoreTerminal() {
  if (!g_saved.active) return;
  tcsetattr(g_saved.fd, TCSANOW, &g_saved.original);
  g_saved.active = 0;
}

// Only async-signal-safe calls from here on: these run in the signal handler.
void WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

void WriteText(int fd, const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  WriteAll(fd, text, length);
}

// "ESC [ n C": the cursor `column` places right, from the start of its line.
void MoveToColumn(int fd, int column) {
  WriteText(fd, "\r");
  if (column <= 0) return;
  char forward[16];
  size_t n = sizeof forward;
  forward[--n] = 'C';
  do {
    forward[--n] = static_cast<char>('0' + column % 10);
    column /= 10;
  } while (column > 0 && n > 2);
  forward[--n] = '[';
  forward[--n] = '\x1b';
  WriteAll(fd, forward + n, sizeof forward - n);
}

// The notice goes on the line below the cursor's, and the cursor comes back where it was, so
// that what the program still writes on its line (the progress of the write) stays there.
void ShowNotice() {
  if (g_hold.outputFd < 0 || g_hold.notice == nullptr) return;
  WriteText(g_hold.outputFd, "\r\n");
  WriteText(g_hold.outputFd, g_hold.notice);
  WriteText(g_hold.outputFd, "\x1b[A");
  MoveToColumn(g_hold.outputFd, g_hold.column);
  g_hold.shown = 1;
}

// Clears the notice's line below and comes back to where the cursor stood.
void EraseNotice() {
  if (!g_hold.shown) return;
  g_hold.shown = 0;
  WriteText(g_hold.outputFd, "\x1b[B\r\x1b[2K\x1b[A");
  MoveToColumn(g_hold.outputFd, g_hold.column);
}

void EndBy(int signal) {
  RestoreTerminal();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  // Inside the handler the signal is blocked until it returns; outside it, it acts at once.
  raise(signal);
}

void OnEndSignal(int signal) {
  if (!g_hold.holding) {
    EndBy(signal);
    return;
  }
  if (g_hold.pending) return;
  g_hold.pending = signal;
  ShowNotice();
}

// Installed once, over the default action only: a program that ignores these signals keeps
// them ignored.
void InstallHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(RestoreTerminal);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace

void TerminalKeyDecoder::Feed(uint8_t byte) {
  if (inSequence_) {
    FeedSequence(byte);
    return;
  }
  if (byte == kEscape) {
    inSequence_ = true;
    sequence_.clear();
    return;
  }
  keys_.push_back(byte);
}

void TerminalKeyDecoder::FeedSequence(uint8_t byte) {
  if (sequence_.empty()) {
    if (byte == '[' || byte == 'O') {
      sequence_.push_back(static_cast<char>(byte));
      return;
    }
    inSequence_ = false;
    keys_.push_back(kEscape);
    Feed(byte);
    return;
  }
  if (sequence_ == "[" && byte == '[') {
    sequence_.push_back('[');
    return;
  }
  if (sequence_ == "[[") {  // Linux console F1..F5: ESC [ [ A .. ESC [ [ E
    bool f1to5 = byte >= 'A' && byte <= 'E';
    Finish(f1to5 ? std::optional<uint8_t>(kKeyF1 + (byte - 'A')) : std::nullopt);
    return;
  }
  if (IsParameterByte(byte)) {
    sequence_.push_back(static_cast<char>(byte));
    if (sequence_.size() > kMaxSequence) Finish(std::nullopt);
    return;
  }
  if (IsFinalByte(byte)) {
    sequence_.push_back(static_cast<char>(byte));
    Finish(sequence_[0] == '[' ? CsiKey(sequence_) : LetterKey(byte));
    return;
  }
  // A control byte cannot be part of a sequence: the sequence is broken off and the byte
  // counts on its own (it may be the Esc of the next key).
  Finish(std::nullopt);
  Feed(byte);
}

void TerminalKeyDecoder::Pause() {
  if (!inSequence_) return;
  if (sequence_.empty()) {
    inSequence_ = false;
    keys_.push_back(kEscape);
    return;
  }
  Finish(std::nullopt);
}

void TerminalKeyDecoder::Finish(std::optional<uint8_t> code) {
  inSequence_ = false;
  sequence_.clear();
  keys_.push_back(0);
  keys_.push_back(code.value_or(kKeyUnknown));
}

int TerminalKeyDecoder::NextKey() {
  int key = keys_.front();
  keys_.pop_front();
  return key;
}

LinuxConsole::LinuxConsole(int inputFd, int outputFd)
    : input_(inputFd), output_(outputFd), terminal_(isatty(inputFd) == 1) {}

LinuxConsole::~LinuxConsole() {
  if (madeRaw_) RestoreTerminal();
}

void LinuxConsole::EnsureRaw() {
  if (!terminal_ || madeRaw_ || g_saved.active) return;
  termios original{};
  if (tcgetattr(input_, &original) != 0) return;
  termios raw = original;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_saved.fd = input_;
  g_saved.original = original;
  g_saved.active = 1;
  madeRaw_ = true;
  InstallHandlers();
  tcsetattr(input_, TCSANOW, &raw);
}

LinuxConsole::Read LinuxConsole::ReadByte(int timeoutMs, uint8_t& byte) {
  if (lookahead_) {
    byte = *lookahead_;
    lookahead_.reset();
    return Read::kByte;
  }
  if (endOfInput_) return Read::kEnd;
  for (;;) {
    pollfd p{input_, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Read::kTimeout;
    ssize_t n = read(input_, &byte, 1);
    if (n == 1) return Read::kByte;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (timeoutMs == 0) return Read::kTimeout;
      continue;
    }
    // End of input, or an input that can no longer be read: both end the keys for good.
    endOfInput_ = true;
    return Read::kEnd;
  }
}

bool LinuxConsole::KeyWaiting() {
  EnsureRaw();
  if (decoder_.HasKey() || lookahead_) return true;
  uint8_t byte = 0;
  if (ReadByte(0, byte) != Read::kByte) return false;
  lookahead_ = byte;
  return true;
}

int LinuxConsole::ReadRawKey() {
  if (!terminal_) {
    uint8_t byte = 0;
    return ReadByte(-1, byte) == Read::kByte ? scripted_.Next(byte) : kEndOfInput;
  }
  EnsureRaw();
  while (!decoder_.HasKey()) {
    uint8_t byte = 0;
    Read r = ReadByte(decoder_.InSequence() ? kEscapeWaitMs : -1, byte);
    if (r == Read::kByte) {
      decoder_.Feed(byte);
    } else if (decoder_.InSequence()) {
      decoder_.Pause();
    } else if (r == Read::kEnd) {
      return kEndOfInput;
    }
  }
  return decoder_.NextKey();
}

void LinuxConsole::Write(std::string_view text) {
  // Where the cursor will stand on its line, for the notice of a held signal.
  int column = g_hold.column;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      column = 0;
    } else if (c == '\b') {
      column = column > 0 ? column - 1 : 0;
    } else {
      ++column;
    }
  }
  g_hold.column = column;
  while (!text.empty()) {
    ssize_t n = write(output_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void LinuxConsole::HoldInterrupts(const char* notice) {
  InstallHandlers();
  g_hold.outputFd = isatty(output_) == 1 ? output_ : -1;
  g_hold.notice = notice;
  g_hold.pending = 0;
  g_hold.holding = 1;
}

void LinuxConsole::ReleaseInterrupts(std::string_view closingLine) {
  g_hold.holding = 0;
  const int signal = g_hold.pending;
  if (signal == 0) return;
  EraseNotice();
  // The line the write left open ends here, on the terminal only: a pipe keeps the transcript.
  if (g_hold.outputFd >= 0) WriteText(g_hold.outputFd, "\n");
  WriteAll(STDERR_FILENO, closingLine.data(), closingLine.size());
  EndBy(signal);
}

std::unique_ptr<Console> NativePlatform::MakeConsole() {
  return std::make_unique<LinuxConsole>();
}

}  // namespace omr72
