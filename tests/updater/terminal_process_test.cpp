// omr72-sim as a process on a pseudo-terminal: the progress of each write and the hint of a
// restart wait that does not end reach the terminal, and a finished run reads on the screen
// exactly as its transcript.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/updater/screen.h"

namespace omr72::testing {
namespace {

struct TerminalRun {
  std::string output;
  bool exited = false;
  int exitCode = -1;
};

// Runs omr72-sim with `arguments` on a fresh raw 80x24 pseudo-terminal, the keys typed ahead,
// until it ends or `enough` says the output has shown what was wanted (then it is stopped).
// Standard error goes elsewhere, so the terminal holds only what the updater prints.
TerminalRun RunOnTerminal(const std::vector<std::string>& arguments, const std::string& keys,
                          const std::function<bool(const std::string&)>& enough) {
  TerminalRun run;
  termios raw{};
  cfmakeraw(&raw);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, &raw, &size) != 0) {
    ADD_FAILURE() << "openpty";
    return run;
  }
  std::vector<char*> argv = {const_cast<char*>(OMR72_SIM)};
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(master);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(slave);
  EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  // A bound on how long a broken run may hang the test, not a measurement: polls of 100 ms.
  bool ended = false;
  for (int polls = 0; polls < 1200 && !ended; ++polls) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    ended = n <= 0;  // the child's side of the terminal has closed: it is ending
    if (n > 0) run.output.append(buffer, static_cast<size_t>(n));
    if (enough && enough(run.output)) break;
  }
  if (!ended) kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
  run.exited = ended && WIFEXITED(status);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  close(master);
  return run;
}

const char kUpdateTranscript[] =
    "Orlo Mica R72 Firmware Updater version 1.1\n\nDevice is connected.\n"
    "Current Boot Loader version: 1.0\nCurrent firmware version: 1.5\n"
    "Serial number: ABCDE12345\n"
    "Press 'Y' to load firmware version 2.10 or other key to exit.\n"
    "\r\nWARNING: Loading firmware will erase ALL data on this recorder.\r\n"
    "Press 'L' to confirm load or other key to exit.\n"
    "\nIt is necessary to upgrade Boot Loader before firmware loading.\n"
    "Press 'Y' to upgrade Boot Loader 1.0 to version 2.0 or other key to exit.\n"
    "Replacing Boot Loader...OK\nReplacing firmware...OK\nPress any key to exit...\n";

TEST(TerminalProcess, ShowsEachPageAndEndsAsTheTranscript) {
  const TerminalRun run = RunOnTerminal({"--latency", "none"}, "YLYq", nullptr);
  ASSERT_TRUE(run.exited) << run.output;
  EXPECT_EQ(run.exitCode, 0);
  const size_t first = run.output.find("Replacing Boot Loader... 1 of 21 pages written");
  const size_t last = run.output.find("Replacing firmware...", first);
  ASSERT_NE(first, std::string::npos) << run.output;
  ASSERT_NE(last, std::string::npos) << run.output;
  EXPECT_NE(run.output.find(" 21 of 21 pages written", first), std::string::npos);
  EXPECT_NE(run.output.find(" 21 of 21 pages written", last), std::string::npos);
  EXPECT_EQ(Screen(run.output), Screen(kUpdateTranscript));
}

// The recorder never comes back from the restart before the boot-loader pages: without
// latency the emulated seconds pass at once, and the hint takes turns on the same line.
TEST(TerminalProcess, AWaitThatDoesNotEndSaysWhatToDo) {
  const TerminalRun run = RunOnTerminal(
      {"--latency", "none", "--no-return"}, "YLY",
      [](const std::string& output) { return output.find(" waited 16 s;") != std::string::npos; });
  ASSERT_FALSE(run.exited) << run.output;
  EXPECT_NE(run.output.find(" waited 10 s; no write runs; Ctrl-C ends the wait"),
            std::string::npos);
  EXPECT_NE(run.output.find(" waited 15 s; not back? Replug it, the update goes on"),
            std::string::npos);
  const std::string screen = Screen(run.output);
  // Emulated seconds pass quickly, so the count may have moved on before the reading stopped.
  const std::string lastLine = "Replacing Boot Loader... waited 1";
  EXPECT_NE(screen.find("to version 2.0 or other key to exit.\n" + lastLine), std::string::npos)
      << screen;
  EXPECT_EQ(run.output.find(" waited 9 s"), std::string::npos);
}

}  // namespace
}  // namespace omr72::testing
