// omr72-sim as a process on a pseudo-terminal: the progress of each write and the hint of a
// restart wait that does not end reach the terminal, and a finished run reads on the screen
// exactly as its transcript.
#include "tests/updater/screen.h"
#include "tests/updater/sim_child.h"

namespace omr72::testing {
namespace {

// The same run's output into a pipe is its transcript, which the in-process runs check.
TEST(TerminalProcess, ShowsEachPageAndEndsAsTheTranscript) {
  SimChild run({"--latency", "none"}, "YLYq", Io::kRawTerminal);
  ASSERT_TRUE(run.Read()) << run.text;
  run.Wait();
  EXPECT_EQ(run.exitCode, 0);
  const size_t first = run.text.find("Replacing Boot Loader... 1 of 21 pages written");
  const size_t last = run.text.find("Replacing firmware...", first);
  ASSERT_NE(first, std::string::npos) << run.text;
  ASSERT_NE(last, std::string::npos) << run.text;
  EXPECT_NE(run.text.find(" 21 of 21 pages written", first), std::string::npos);
  EXPECT_NE(run.text.find(" 21 of 21 pages written", last), std::string::npos);
  SimChild pipe({"--latency", "none"}, "YLYq", Io::kPipes);
  ASSERT_TRUE(pipe.Read()) << pipe.text;
  pipe.Wait();
  EXPECT_EQ(pipe.text.find("pages"), std::string::npos);
  EXPECT_EQ(Screen(run.text), Screen(pipe.text));
}

// The recorder never comes back from the restart before the boot-loader pages: without
// latency the emulated seconds pass at once, and the hint takes turns on the same line.
TEST(TerminalProcess, AWaitThatDoesNotEndSaysWhatToDo) {
  SimChild run({"--latency", "none", "--no-return"}, "YLY", Io::kRawTerminal);
  ASSERT_FALSE(run.Read([](const std::string& output) {
    return output.find(" waited 16 s;") != std::string::npos;
  })) << run.text;
  run.Wait(true);
  EXPECT_NE(run.text.find(" waited 10 s; no write runs; Ctrl-C ends the wait"), std::string::npos);
  EXPECT_NE(run.text.find(" waited 15 s; not back? Replug it, the update goes on"),
            std::string::npos);
  const std::string screen = Screen(run.text);
  // Emulated seconds pass quickly, so the count may have moved on before the reading stopped.
  const std::string lastLine = "Replacing Boot Loader... waited 1";
  EXPECT_NE(screen.find("to version 2.0 or other key to exit.\n" + lastLine), std::string::npos)
      << screen;
  EXPECT_EQ(run.text.find(" waited 9 s"), std::string::npos);
}

}  // namespace
}  // namespace omr72::testing
