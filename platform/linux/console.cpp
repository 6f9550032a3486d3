// Linux: LinuxConsole, keys from a raw terminal or from scripted standard input.
//
// On a terminal, input is switched to unechoed, unbuffered mode the first time a key is asked
// for, so that output printed before that still runs through an untouched terminal. Signal
// generation (Ctrl-C) and output processing stay on: Ctrl-C ends the program as it does on
// Windows, and "\n" still starts a new line. The terminal is put back when the console goes,
// at exit, and on SIGINT, SIGTERM and SIGHUP, which are then delivered again with their
// default action. Enter gives '\r', as on Windows.
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

void RestoreTerminal() {
  if (!g_saved.active) return;
  tcsetattr(g_saved.fd, TCSANOW, &g_saved.original);
  g_saved.active = 0;
}

void RestoreAndDie(int signal) {
  RestoreTerminal();
  // The handler was installed with SA_RESETHAND: the default action follows on return.
  raise(signal);
}

void InstallRestorers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(RestoreTerminal);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RestoreAndDie;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
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
  InstallRestorers();
  termios raw = original;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_saved.fd = input_;
  g_saved.original = original;
  g_saved.active = 1;
  madeRaw_ = true;
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
  while (!text.empty()) {
    ssize_t n = write(output_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

std::unique_ptr<Console> NativePlatform::MakeConsole() {
  return std::make_unique<LinuxConsole>();
}

}  // namespace omr72
