// Real signals sent to a real omr72-sim process that stopped itself at a chosen command
// (--pause-at): during a flash writer or the NAND rewrite they wait for its end, at any other
// moment they end the program at once; either way the terminal is put back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct Ended {
  int signal = 0;  // the signal that ended it; 0 when it exited
  int exitCode = -1;
  std::string output;
  std::string errors;  // standard error, when it was collected
  std::vector<std::string> trace;
};

// Named by the test process: the children write it.
const std::string& TracePath() {
  static const std::string path =
      testing::TempDir() + "omr72-signal-trace-" + std::to_string(getpid()) + ".txt";
  return path;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::string Drain(int fd) {
  std::string out;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;  // end of the pipe, or EIO once the pty's last user has gone
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

[[noreturn]] void ExecSim(const std::vector<std::string>& options, int pauseAt,
                          const std::string& trace) {
  std::vector<std::string> args = {OMR72_SIM_PATH,          "--latency", "none", "--pause-at",
                                   std::to_string(pauseAt), "--trace",   trace};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Sends `signal` while the process stands at command `pauseAt`, then lets it go on.
void Interrupt(pid_t pid, int signal) {
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << "the run ended before the chosen command";
  kill(pid, signal);
  kill(pid, SIGCONT);
}

Ended Collect(pid_t pid, int outputFd) {
  Ended ended;
  ended.output = Drain(outputFd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
  if (WIFEXITED(status)) ended.exitCode = WEXITSTATUS(status);
  ended.trace = ReadLines(TracePath());
  return ended;
}

Ended RunOnPipes(const std::vector<std::string>& options, int pauseAt, int signal) {
  int in[2];
  int out[2];
  int err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  const std::string& trace = TracePath();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(in[1]);
    close(out[0]);
    close(err[0]);
    ExecSim(options, pauseAt, trace);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  (void)!write(in[1], "YLY", 3);
  close(in[1]);
  Interrupt(pid, signal);
  Ended ended = Collect(pid, out[0]);
  ended.errors = Drain(err[0]);
  close(out[0]);
  close(err[0]);
  return ended;
}

// On a terminal: also what the terminal looks like afterwards.
Ended RunOnTerminal(const std::vector<std::string>& options, int pauseAt, int signal,
                    termios& before, termios& after) {
  int master = -1;
  const std::string& trace = TracePath();
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) ExecSim(options, pauseAt, trace);
  tcgetattr(master, &before);
  (void)!write(master, "YLY", 3);
  Interrupt(pid, signal);
  Ended ended = Collect(pid, master);
  tcgetattr(master, &after);
  close(master);
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
    const Ended ended = RunOnPipes(c.options, c.pauseAt, c.signal);
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
    const Ended ended = RunOnPipes(c.options, c.pauseAt, c.signal);
    EXPECT_EQ(ended.signal, c.signal);
    EXPECT_EQ(ended.trace.size(), static_cast<size_t>(c.pauseAt));
  }
}

TEST(RealSignals, OnATerminalTheNoticeComesAndGoesAndTheTerminalIsPutBack) {
  termios before{};
  termios after{};
  const Ended held = RunOnTerminal(kDiskUpgrade, 100, SIGINT, before, after);
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
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));

  // Keys have been read (raw mode) when the signal ends the run outside a write.
  const Ended atOnce = RunOnTerminal(kDiskUpgrade, 4, SIGTERM, before, after);
  EXPECT_EQ(atOnce.signal, SIGTERM);
  EXPECT_EQ(atOnce.trace.size(), 4u);
  EXPECT_EQ(atOnce.output.find("Finishing"), std::string::npos);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
}

}  // namespace
