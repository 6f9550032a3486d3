// omr72-sim as a child process, on pipes or on a pseudo-terminal of its own: the one harness of
// the process tests (terminal_process_test, signal_test). OMR72_SIM names the program.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace omr72::testing {

// kRawTerminal: 80x24, raw, so that keys typed ahead are not echoed and output is not
// translated; kCookedTerminal: as a shell leaves it, to see that it is put back.
enum class Io { kPipes, kRawTerminal, kCookedTerminal };

struct SimChild {
  pid_t pid = -1;
  int output = -1;  // the pipe's read end or the terminal's master side
  std::string text;
  int signal = 0;  // the signal that ended it; 0 when it exited
  int exitCode = -1;

  // Starts omr72-sim with `arguments`, standard error to the file `errors`; `keys` are typed
  // ahead, and on pipes the input then ends.
  SimChild(const std::vector<std::string>& arguments, const std::string& keys, Io io,
           const std::string& errors = "/dev/null") {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, master = -1, slave = -1;
    termios raw{};
    cfmakeraw(&raw);
    winsize size{.ws_row = 24, .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
    const bool ready = io == Io::kPipes
                           ? pipe(in) == 0 && pipe(out) == 0
                           : openpty(&master, &slave, nullptr,
                                     io == Io::kRawTerminal ? &raw : nullptr, &size) == 0;
    if (!ready) {
      ADD_FAILURE() << "no pipe or pseudo-terminal";
      return;
    }
    std::vector<std::string> args = {OMR72_SIM};
    args.insert(args.end(), arguments.begin(), arguments.end());
    pid = fork();
    if (pid == 0) {
      if (io == Io::kPipes) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
      } else {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, STDIN_FILENO);
        dup2(slave, STDOUT_FILENO);
      }
      dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    const int keyboard = io == Io::kPipes ? in[1] : master;
    EXPECT_EQ(write(keyboard, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    for (int fd : {in[0], in[1], out[1], slave}) {
      if (fd >= 0) close(fd);
    }
    output = io == Io::kPipes ? out[0] : master;
  }
  ~SimChild() {
    if (output >= 0) close(output);
  }

  // Reads the output until the child's side closes (true) or `enough` says it has shown what
  // was wanted. Polls of 100 ms, at most two minutes: a bound on how long a broken run may
  // hang the test, not a measurement.
  bool Read(const std::function<bool(const std::string&)>& enough = nullptr) {
    for (int polls = 0; polls < 1200; ++polls) {
      pollfd p{output, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(output, buffer, sizeof buffer);
      if (n <= 0) return true;  // end of the pipe, or EIO once the terminal's last user has gone
      text.append(buffer, static_cast<size_t>(n));
      if (enough && enough(text)) return false;
    }
    return false;
  }

  // Waits for the end (after SIGTERM when it still runs) and notes how it came.
  void Wait(bool stillRunning = false) {
    if (stillRunning) kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) signal = WTERMSIG(status);
    if (WIFEXITED(status)) exitCode = WEXITSTATUS(status);
  }

  termios Terminal() const {
    termios t{};
    tcgetattr(output, &t);
    return t;
  }
};

}  // namespace omr72::testing
