#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/linux/console.h"

namespace omr72 {
namespace {

// A pipe whose ends close when it goes, or earlier on request.
struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    Close(0);
    Close(1);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Close(int end) {
    if (fds[end] >= 0) close(fds[end]);
    fds[end] = -1;
  }
  int fds[2] = {-1, -1};
};

TEST(LinuxConsoleScripted, EveryByteIsAKeyNothingBlocksAndTheEndComesAtOnce) {
  Pipe in;
  LinuxConsole console(in.fds[0], STDOUT_FILENO);
  EXPECT_FALSE(console.KeyWaiting());  // writer still open, nothing sent
  // 0xE0 announces a key code like 0 does; the code after either comes back as it is.
  in.Send(std::string("y\x00\x3b\xe0\x48L\x1b[A\x00\xe0", 11));
  EXPECT_TRUE(console.KeyWaiting());  // asked twice for the same key: nothing lost
  for (int key : std::initializer_list<int>{'y', 0, 0x3B, 0, 0x48, 'L', 0x1B, '[', 'A', 0, 0xE0}) {
    EXPECT_TRUE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), key);
  }
  EXPECT_FALSE(console.KeyWaiting());
  in.Close(1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), kEndOfInput);
  }
}

// A signal that lands while a read waits (a timer here, any handler without SA_RESTART in the
// program) is no key and no end of input: the wait goes on until the key comes.
TEST(LinuxConsoleScripted, SignalsDuringAWaitAreNeitherKeysNorTheEnd) {
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGALRM, &quiet, &previous), 0);
  itimerval every2ms{{0, 2000}, {0, 2000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every2ms, nullptr), 0);
  Pipe in;
  LinuxConsole console(in.fds[0], STDOUT_FILENO);
  // The typist blocks the signal (it inherits the mask), so that every one lands in the read.
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
  std::thread typist([&in] {
    usleep(100000);
    in.Send("y");
  });
  pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr);
  const int key = console.ReadRawKey();
  typist.join();
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_EQ(key, 'y');
}

// A pseudo-terminal stands in for the user's terminal.
class Terminal : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
    ASSERT_EQ(tcgetattr(slave_, &cooked_), 0);
    ASSERT_TRUE(cooked_.c_lflag & ECHO);
    ASSERT_TRUE(cooked_.c_lflag & ICANON);
  }
  void TearDown() override {
    close(slave_);
    close(master_);
  }
  void Type(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  tcflag_t LocalFlags() {
    termios t{};
    EXPECT_EQ(tcgetattr(slave_, &t), 0);
    return t.c_lflag & (ECHO | ICANON | ISIG);
  }

  int master_ = -1, slave_ = -1;
  termios cooked_{};
};

// Output on the terminal may show text and take it back; output into a pipe or file may not,
// whatever the input is.
TEST_F(Terminal, OnlyOutputOnATerminalIsOne) {
  Pipe pipe;
  const int file = open("/dev/null", O_WRONLY);
  ASSERT_GE(file, 0);
  EXPECT_TRUE(LinuxConsole(slave_, slave_).IsTerminal());
  EXPECT_TRUE(LinuxConsole(pipe.fds[0], slave_).IsTerminal());
  EXPECT_FALSE(LinuxConsole(slave_, pipe.fds[1]).IsTerminal());
  EXPECT_FALSE(LinuxConsole(slave_, file).IsTerminal());
  close(file);
}

// Keys come from a terminal only when the input is one: with the output on a terminal and the
// input redirected, every byte is a key and the terminal is left as it is.
TEST_F(Terminal, RedirectedInputIsReadByteByByteWhateverTheOutput) {
  Pipe in;
  LinuxConsole console(in.fds[0], slave_);
  in.Send("\x1b[A\x1b[A");  // twice: decoded as one key, a run would not end in a wait
  for (int key : {0x1B, int{'['}, int{'A'}}) EXPECT_EQ(console.ReadRawKey(), key);
  EXPECT_EQ(LocalFlags(), cooked_.c_lflag & (ECHO | ICANON | ISIG));
}

TEST_F(Terminal, RawWhileKeysAreReadAndRestoredAfterwards) {
  const tcflag_t cooked = cooked_.c_lflag & (ECHO | ICANON | ISIG);
  {
    LinuxConsole console(slave_, slave_);
    console.Write("banner\n");
    EXPECT_EQ(LocalFlags(), cooked) << "untouched until a key is asked for";
    EXPECT_FALSE(console.KeyWaiting());
    EXPECT_EQ(LocalFlags(), static_cast<tcflag_t>(ISIG)) << "unechoed, unbuffered, Ctrl-C kept";
    Type(
        "\x1b[A"
        "y"
        "\x1b[21~"
        "\r");
    const int expected[] = {0, 0x48, 'y', 0, 0x44, '\r'};
    for (int key : expected) {
      EXPECT_TRUE(console.KeyWaiting());
      EXPECT_EQ(console.ReadRawKey(), key);
    }
    EXPECT_FALSE(console.KeyWaiting());
    Type("\x1b");
    EXPECT_EQ(console.ReadRawKey(), 27);
  }
  EXPECT_EQ(LocalFlags(), cooked);
}

// Runs `body` in a child process that puts the terminal in raw mode first; returns its
// wait status.
template <typename Body>
int InChild(int slave, Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    auto* console = new LinuxConsole(slave, slave);  // never destroyed: exit must restore
    console->KeyWaiting();
    body();
    _exit(99);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(Terminal, RestoredWhenTheProgramExitsOrASignalEndsIt) {
  for (int signal : {0, SIGINT, SIGTERM, SIGHUP}) {
    int status = InChild(slave_, [signal] { signal == 0 ? std::exit(0) : (void)raise(signal); });
    if (signal == 0) {
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
      ASSERT_TRUE(WIFSIGNALED(status)) << signal;
      EXPECT_EQ(WTERMSIG(status), signal);
    }
    EXPECT_EQ(LocalFlags(), cooked_.c_lflag & (ECHO | ICANON | ISIG)) << signal;
  }
}

}  // namespace
}  // namespace omr72
