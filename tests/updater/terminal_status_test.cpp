// What the updater shows beside its transcript when standard output is a terminal: the pages a
// write has got to and how long a restart wait has lasted, all taken back so that the screen
// reads exactly as the transcript a pipe receives, which itself never changes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/scripted_console.h"
#include "tests/updater/run_scenario.h"
#include "tests/updater/screen.h"
#include "updater/updater.h"

namespace omr72::testing {
namespace {

// Time that passes only when the wait pauses.
class PausedClock : public Sleeper, public Clock {
 public:
  explicit PausedClock(uint64_t msPerPause) : msPerPause_(msPerPause) {}
  void SleepMs(uint32_t) override { nowMs_ += msPerPause_; }
  uint64_t NowMs() override { return nowMs_; }

 private:
  uint64_t msPerPause_;
  uint64_t nowMs_ = 5000;  // not zero: the wait measures from its own start
};

size_t Count(const std::string& text, const std::string& fragment) {
  size_t n = 0;
  for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
    ++n;
  return n;
}

TEST(StatusLine, TakesItsTextBackWithoutTouchingTheLine) {
  TerminalConsole console;
  StatusLine status(console);
  console.Write("Replacing firmware...");
  status.Show(" 1 of 21 pages written");
  status.Show(" 12 of 21 pages written");
  EXPECT_EQ(Screen(console.output()), "Replacing firmware... 12 of 21 pages written\n");
  status.Show(" short");
  EXPECT_EQ(Screen(console.output()), "Replacing firmware... short\n");
  status.Clear();
  EXPECT_FALSE(status.Shown());
  console.Write("OK\n");
  EXPECT_EQ(Screen(console.output()), "Replacing firmware...OK\n\n");
}

TEST(StatusLine, WritesNothingWhenNotATerminal) {
  emu::ScriptedConsole console;
  Dialogue dialogue(console);
  dialogue.Print("Replacing firmware...");
  ShowProgress(dialogue.Status())(ProgressStage::kWrite, 3, 21);
  dialogue.Status().Clear();
  dialogue.Print("OK\n");
  EXPECT_EQ(console.output(), "Replacing firmware...OK\n");
}

TEST(StatusLine, PrintTakesTheStatusBackFirst) {
  TerminalConsole console;
  Dialogue dialogue(console);
  dialogue.Print("Replacing Boot Loader...");
  ShowProgress(dialogue.Status())(ProgressStage::kVerify, 7, 63);
  EXPECT_NE(console.output().find(" 7 of 63 pages checked"), std::string::npos);
  dialogue.Print("Failed\n");
  EXPECT_EQ(Screen(console.output()), "Replacing Boot Loader...Failed\n\n");
}

TEST(RestartWait, ShowsALongWaitOnATerminalOnlyAndTakesItBack) {
  struct Case {
    const char* name;
    bool terminal;
    uint64_t hintAfterMs;
    uint64_t msPerPause;
    int pausesGone;                  // polls until the recorder has gone
    int pausesBack;                  // polls after that until it is back
    std::vector<std::string> shown;  // texts shown, in order; empty: nothing written at all
  };
  const std::string never = " no write runs; Ctrl-C ends the wait";
  const std::string replug = " not back? Replug it, the update goes on";
  // clang-format off
  const std::vector<Case> cases = {
      {"short", true, 10000, 1, 3, 9000, {}},
      {"exactly the threshold", true, 10000, 1, 0, 10000, {}},
      {"long, once a second", true, 10000, 1, 2, 16500,
       {" waited 10 s;" + never, " waited 11 s;" + never, " waited 12 s;" + never,
        " waited 13 s;" + never, " waited 14 s;" + never, " waited 15 s;" + replug,
        " waited 16 s;" + replug}},
      {"long while it goes away", true, 10000, 1, 11500, 0,
       {" waited 10 s;" + never, " waited 11 s;" + never}},
      {"slow polls skip seconds", true, 10000, 2500, 0, 8,
       {" waited 12 s;" + never, " waited 15 s;" + replug, " waited 17 s;" + replug,
        " waited 20 s;" + never}},
      {"a threshold of its own", true, 2000, 1, 0, 3500,
       {" waited 2 s;" + never, " waited 3 s;" + never}},
      {"long, into a pipe", false, 10000, 1, 0, 20000, {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<emu::ScriptedConsole> console =
        c.terminal ? std::make_unique<TerminalConsole>() : std::make_unique<emu::ScriptedConsole>();
    Dialogue dialogue(*console);
    PausedClock time(c.msPerPause);
    RestartWait wait(time, time, dialogue.Status(), c.hintAfterMs);
    dialogue.Print("Replacing firmware...");
    const std::string before = console->output();

    int gone = c.pausesGone;
    int back = c.pausesBack;
    wait.Wait([&] { return gone-- > 0; }, [&] { return back-- <= 0; });

    const std::string shown = console->output().substr(before.size());
    EXPECT_EQ(Count(shown, " waited "), c.shown.size()) << shown;
    size_t at = 0;
    for (const std::string& text : c.shown) {
      at = shown.find(text, at);
      ASSERT_NE(at, std::string::npos) << text;
    }
    if (c.shown.empty()) {
      EXPECT_EQ(shown, "");
    }
    EXPECT_EQ(Screen(console->output()), "Replacing firmware...\n");
    EXPECT_FALSE(dialogue.Status().Shown());
  }
}

// The backspaces cannot climb into the line above, so the longest hint must fit an 80-column
// line after the longest text it follows, with the cursor still inside the line.
TEST(RestartWait, TextsFitTheLine) {
  const size_t prefix = std::string("Replacing Boot Loader...").size();
  for (uint64_t seconds : {10, 14, 15, 99, 100, 999, 1000, 9999}) {
    SCOPED_TRACE(seconds);
    EXPECT_LE(prefix + RestartWaitText(seconds * 1000).size(), 79u);
    EXPECT_LE(prefix + RestartWaitText(seconds * 1000 + 5000).size(), 79u);
  }
}

// A whole run on a terminal shows every page of each write, and ends up on screen exactly as
// the same run's transcript in a pipe; the recorder receives the same requests either way.
TEST(TerminalRun, ShowsEachWriteAndReadsAsThePipeTranscript) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> progress;
    std::string lastLines;
  };
  const std::string firmwareOk = "Replacing firmware...OK\nPress any key to exit...\n";
  const std::vector<Case> cases = {
      {"boot loader and firmware by pages",
       {"--route", "disk"},
       {" 1 of 21 pages written", " 21 of 21 pages written", " 1 of 21 pages written",
        " 21 of 21 pages written"},
       "Replacing Boot Loader...OK\n" + firmwareOk},
      {"by pages on the USB route",
       {"--route", "usb"},
       {" 21 of 21 pages written", " 21 of 21 pages written"},
       "Replacing Boot Loader...OK\n" + firmwareOk},
      {"NAND boot block",
       {"--route", "usb", "--boot-loader", "0.5"},
       {" 1 of 64 pages written", " 64 of 64 pages written", " 1 of 63 pages checked",
        " 63 of 63 pages checked", " 21 of 21 pages written"},
       "Replacing Boot Loader...OK\n" + firmwareOk},
      {"NAND read-back differs",
       {"--route", "usb", "--boot-loader", "0.5", "--corrupt-readback"},
       {" 64 of 64 pages written", " 63 of 63 pages checked"},
       "Replacing Boot Loader...Failed\nPress any key to exit.\n"},
      {"firmware only",
       {"--boot-loader", "2.0"},
       {" 1 of 21 pages written", " 21 of 21 pages written"},
       firmwareOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScenarioResult pipe = RunScenario(c.arguments, "YLYq");
    const ScenarioResult terminal =
        RunScenario(c.arguments, "YLYq", LockResult::kAcquired, nullptr, true);
    EXPECT_EQ(terminal.exitCode, 0);

    ASSERT_GE(pipe.output.size(), c.lastLines.size());
    EXPECT_EQ(pipe.output.substr(pipe.output.size() - c.lastLines.size()), c.lastLines);
    EXPECT_EQ(pipe.output.find_first_of('\b'), std::string::npos);
    EXPECT_EQ(pipe.output.find("pages"), std::string::npos);

    size_t at = 0;
    for (const std::string& text : c.progress) {
      at = terminal.output.find(text, at);
      ASSERT_NE(at, std::string::npos) << text;
    }
    EXPECT_EQ(Screen(terminal.output), Screen(pipe.output));
    EXPECT_EQ(terminal.trace, pipe.trace);
  }
}

}  // namespace
}  // namespace omr72::testing
