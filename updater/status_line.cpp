#include "updater/status_line.h"

#include <cstdio>

namespace omr72 {

void StatusLine::Show(std::string_view text) {
  if (!terminal_ || text == text_) return;
  // Back to where the text started, the new text over the old, and blanks over what is left
  // of a longer old text.
  std::string out(text_.size(), '\b');
  out.append(text);
  if (text.size() < text_.size()) {
    const size_t rest = text_.size() - text.size();
    out.append(rest, ' ');
    out.append(rest, '\b');
  }
  text_.assign(text);
  console_.Write(out);
}

void StatusLine::Clear() {
  if (text_.empty()) return;
  std::string out(text_.size(), '\b');
  out.append(text_.size(), ' ');
  out.append(text_.size(), '\b');
  text_.clear();
  console_.Write(out);
}

ProgressCallback ShowProgress(StatusLine& status) {
  return [&status](ProgressStage stage, uint32_t done, uint32_t total) {
    char text[48];
    std::snprintf(text, sizeof text, " %u of %u pages %s", static_cast<unsigned>(done),
                  static_cast<unsigned>(total),
                  stage == ProgressStage::kWrite ? "written" : "checked");
    status.Show(text);
  };
}

std::string RestartWaitText(uint64_t waitedMs) {
  const unsigned long long seconds = waitedMs / 1000;
  // Said while no write runs: unplugging now harms nothing, and Ctrl-C ends the program.
  const char* advice = (seconds / 5) % 2 == 0 ? "no write runs; Ctrl-C ends the wait"
                                              : "not back? Replug it, the update goes on";
  char text[80];
  std::snprintf(text, sizeof text, " waited %llu s; %s", seconds, advice);
  return text;
}

void RestartWait::Wait(const std::function<bool()>& gone, const std::function<bool()>& back) {
  status_.Clear();  // what a write left there
  const uint64_t startMs = clock_.NowMs();
  shownSecond_ = kNothingShown;
  while (gone()) Tick(startMs);
  while (!back()) Tick(startMs);
  status_.Clear();
}

// Shows the wait once it has lasted long enough, and then only when its second changes.
void RestartWait::Tick(uint64_t startMs) {
  sleeper_.SleepMs(1);
  const uint64_t waitedMs = clock_.NowMs() - startMs;
  if (waitedMs <= hintAfterMs_ || waitedMs / 1000 == shownSecond_) return;
  shownSecond_ = waitedMs / 1000;
  status_.Show(RestartWaitText(waitedMs));
}

}  // namespace omr72
