// Live text after the current line of a terminal: the progress of a long write, or how long a
// restart wait has lasted. It is written only when standard output is a terminal, and taken
// back character by character (backspace, blank, backspace) so that the line reads exactly
// as it did before; a pipe or file never sees any of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mcuflash/progress.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/sleeper.h"

namespace omr72 {

class StatusLine {
 public:
  explicit StatusLine(Console& console) : console_(console), terminal_(console.IsTerminal()) {}

  bool Shown() const { return !text_.empty(); }
  // Replaces the text shown (if any) with `text`, which must fit the line: the backspaces
  // that take it back cannot climb into a line above.
  void Show(std::string_view text);
  // Takes back everything shown.
  void Clear();

 private:
  Console& console_;
  bool terminal_;
  std::string text_;
};

// A progress callback that shows the pages written (and, for a block that is read back, the
// pages checked) on `status`.
ProgressCallback ShowProgress(StatusLine& status);

// What a long restart wait shows: the seconds waited and, taking turns every five seconds,
// the two things to know. Short enough for an 80-column line after "Replacing Boot Loader...".
std::string RestartWaitText(uint64_t waitedMs);

// The restart waits of a run: polls, a millisecond apart, until the recorder has gone and then
// until it is back, however long that takes. A wait that lasts longer than `hintAfterMs`
// shows on the status line how long it has lasted and what to do. The status line is taken
// back when a wait starts and when it ends.
class RestartWait {
 public:
  static constexpr uint64_t kHintAfterMs = 10000;

  RestartWait(Sleeper& sleeper, Clock& clock, StatusLine& status,
              uint64_t hintAfterMs = kHintAfterMs)
      : sleeper_(sleeper), clock_(clock), status_(status), hintAfterMs_(hintAfterMs) {}

  void Wait(const std::function<bool()>& gone, const std::function<bool()>& back);

 private:
  void Tick(uint64_t startMs);

  Sleeper& sleeper_;
  Clock& clock_;
  StatusLine& status_;
  uint64_t hintAfterMs_;
  static constexpr uint64_t kNothingShown = UINT64_MAX;
  uint64_t shownSecond_ = kNothingShown;
};

}  // namespace omr72
