// Real signals sent to a real omr72-sim process that stopped itself at a chosen command
// (--pause-at): during a flash writer or the NAND rewrite they wait for its end, at any other
// moment they end the program at once; either way the terminal is put back.
#include <signal.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/updater/sim_child.h"

namespace omr72::testing {
namespace {

struct Ended {
  int signal = 0;  // the signal that ended it; 0 when it exited
  std::string output;
  std::string errors;  // standard error
  std::vector<std::string> trace;
  termios before{}, after{};  // the terminal's, on a terminal
};

// Runs omr72-sim until it stops itself at command `pauseAt`, sends `signal`, lets it go on and
// collects its end.
Ended Interrupted(const std::vector<std::string>& options, int pauseAt, int signal, Io io) {
  const std::string trace =
      ::testing::TempDir() + "omr72-signal-trace-" + std::to_string(getpid()) + ".txt";
  std::vector<std::string> args = {"--latency", "none", "--pause-at", std::to_string(pauseAt),
                                   "--trace",   trace};
  const std::string errorsPath = trace + ".errors";
  args.insert(args.end(), options.begin(), options.end());
  SimChild sim(args, "YLY", io, errorsPath);
  Ended ended;
  ended.before = sim.Terminal();
  int status = 0;
  EXPECT_EQ(waitpid(sim.pid, &status, WUNTRACED), sim.pid);
  EXPECT_TRUE(WIFSTOPPED(status)) << "the run ended before the chosen command";
  kill(sim.pid, signal);
  kill(sim.pid, SIGCONT);
  sim.Read();
  sim.Wait();
  ended.after = sim.Terminal();
  ended.signal = sim.signal;
  ended.output = sim.text;
  std::ifstream file(trace);
  for (std::string line; std::getline(file, line);) ended.trace.push_back(line);
  std::ifstream errors(errorsPath);
  ended.errors.assign(std::istreambuf_iterator<char>(errors), {});
  return ended;
}

size_t Count(const std::vector<std::string>& trace, const std::string& fragment) {
  size_t n = 0;
  for (const std::string& line : trace) n += line.find(fragment) != std::string::npos;
  return n;
}

const std::vector<std::string> kDiskUpgrade = {};
const std::vector<std::string> kDiskNoUpgrade = {"--boot-loader", "2.0"};
const std::vector<std::string> kNandRewrite = {"--route", "usb", "--boot-loader", "0.5"};
const std::vector<std::string> kUsbUpgrade = {"--route", "usb"};

TEST(RealSignals, HeldUntilTheWriteEnds) {
  const struct {
    const char* name;
    std::vector<std::string> options;
    int pauseAt;
    int signal;
    size_t commands;       // all the run sends: the routine to its end, nothing after it
    std::string lastLine;  // the routine's last request
    std::string piece;     // one kind of the routine's requests, and how many it sends
    size_t pieces;
    std::string stop;  // the closing line on stderr says where the update stopped
  } cases[] = {
      {"boot loader over the disk route", kDiskUpgrade, 100, SIGINT, 194, "cdb=C80B29C0",
       "cdb=C80B", 168, "after the new boot loader was written; the firmware was not"},
      {"boot loader over USB, first request", kUsbUpgrade, 7, SIGTERM, 195, "req=0x21 value=0x29C0",
       "req=0x21", 168, "after the new boot loader was written; the firmware was not"},
      {"firmware, last request but one", kDiskNoUpgrade, 193, SIGHUP, 194, "cdb=C80B29C0",
       "cdb=C80B", 168, "after the firmware was written"},
      {"NAND rewrite", kNandRewrite, 60, SIGINT, 271, "req=0xC5", "req=0xE1", 64,
       "after the new boot loader was written; the firmware was not"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Ended ended = Interrupted(c.options, c.pauseAt, c.signal, Io::kPipes);
    EXPECT_EQ(ended.signal, c.signal);
    EXPECT_EQ(ended.trace.size(), c.commands);
    ASSERT_FALSE(ended.trace.empty());
    EXPECT_NE(ended.trace.back().find(c.lastLine), std::string::npos) << ended.trace.back();
    EXPECT_EQ(Count(ended.trace, c.piece), c.pieces);
    // Not a terminal: the transcript is what it would be without the signal, up to the end.
    EXPECT_TRUE(ended.output.ends_with("Replacing Boot Loader...") ||
                ended.output.ends_with("Replacing firmware..."))
        << ended.output;
    EXPECT_EQ(ended.output.find("Finishing"), std::string::npos);
    EXPECT_NE(ended.errors.find("Stopped on request " + c.stop), std::string::npos) << ended.errors;
    EXPECT_TRUE(ended.errors.ends_with("Run the updater again to load it (replug the recorder if "
                                       "it is not found).\n") ||
                ended.errors.ends_with("Run the updater again to finish the update.\n"))
        << ended.errors;
  }
}

TEST(RealSignals, EndTheProgramAtOnceOutsideAWrite) {
  const struct {
    const char* name;
    std::vector<std::string> options;
    int pauseAt;
    int signal;
  } cases[] = {
      {"identification", kDiskUpgrade, 2, SIGTERM},
      {"restart before the writer", kDiskUpgrade, 5, SIGINT},
      {"restart after the boot loader", kUsbUpgrade, 196, SIGHUP},
      {"serial-number repair", kDiskNoUpgrade, 197, SIGINT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Ended ended = Interrupted(c.options, c.pauseAt, c.signal, Io::kPipes);
    EXPECT_EQ(ended.signal, c.signal);
    EXPECT_EQ(ended.trace.size(), static_cast<size_t>(c.pauseAt));
  }
}

TEST(RealSignals, OnATerminalTheNoticeComesAndGoesAndTheTerminalIsPutBack) {
  const Ended held = Interrupted(kDiskUpgrade, 100, SIGINT, Io::kCookedTerminal);
  EXPECT_EQ(held.signal, SIGINT);
  EXPECT_EQ(held.trace.size(), 194u);
  const size_t notice = held.output.find("\r\nFinishing the write to the recorder first");
  ASSERT_NE(notice, std::string::npos) << held.output;
  EXPECT_EQ(held.output.find("Finishing", notice + 3), std::string::npos);  // once
  // The cursor goes back up to its line at once, where the progress goes on.
  EXPECT_EQ(held.output.find("\x1b[A\r\x1b[", notice), held.output.find("\x1b[", notice + 2));
  // Erased: the progress taken back, the notice's line cleared, the cursor back at the end of
  // "Replacing Boot Loader...".
  EXPECT_NE(held.output.find("\x1b[B\r\x1b[2K\x1b[A\r\x1b[24C", notice), std::string::npos);
  EXPECT_EQ(held.after.c_lflag & (ICANON | ECHO), held.before.c_lflag & (ICANON | ECHO));

  // Keys have been read (raw mode) when the signal ends the run outside a write.
  const Ended atOnce = Interrupted(kDiskUpgrade, 4, SIGTERM, Io::kCookedTerminal);
  EXPECT_EQ(atOnce.signal, SIGTERM);
  EXPECT_EQ(atOnce.trace.size(), 4u);
  EXPECT_EQ(atOnce.output.find("Finishing"), std::string::npos);
  EXPECT_EQ(atOnce.after.c_lflag & (ICANON | ECHO), atOnce.before.c_lflag & (ICANON | ECHO));
}

}  // namespace
}  // namespace omr72::testing
