// omr72-recorder as a process, driven over its socket by the real updater code: the four main
// flows leave the same trace, state and console transcript as omr72-sim with the same options
// and keys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/scripted_console.h"
#include "platform/native.h"
#include "tests/recorder/remote_host.h"
#include "updater/updater.h"

extern char** environ;

namespace omr72::testing {
namespace {

namespace fs = std::filesystem;
using emu::protocol::Message;
using emu::protocol::Reader;
using emu::protocol::Writer;

class NoSleep : public Sleeper {
 public:
  void SleepMs(uint32_t) override {}
};

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Starts `program` with `arguments`; standard input from `input` (or /dev/null), standard
// output to `output` (or /dev/null). Returns the process id, or -1.
pid_t Start(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& input, const std::string& output) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY,
                                   0);
  posix_spawn_file_actions_addopen(&files, 1, output.empty() ? "/dev/null" : output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all = {program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  return error == 0 ? pid : -1;
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class RecorderProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/omr72-recorder-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

struct Flow {
  const char* name;
  std::vector<std::string> options;
  std::string keys;
};

TEST_F(RecorderProcess, MainFlowsMatchTheSimulator) {
  const Flow flows[] = {
      {"disk route with upgrade", {}, "YLY"},
      {"USB 1.x", {"--route", "usb"}, "YLY"},
      {"USB 0.x NAND", {"--route", "usb", "--boot-loader", "0.5"}, "YLY"},
      {"disk route without upgrade", {"--boot-loader", "2.0"}, "YL"},
  };
  for (const Flow& flow : flows) {
    SCOPED_TRACE(flow.name);
    const fs::path keys = dir_ / "keys";
    std::ofstream(keys, std::ios::binary) << flow.keys << 'q';

    std::vector<std::string> sim = flow.options;
    sim.insert(sim.end(),
               {"--latency", "none", "--trace", dir_ / "sim.trace", "--state", dir_ / "sim.state"});
    const pid_t simPid = Start(OMR72_SIM_PATH, sim, keys, dir_ / "sim.out");
    ASSERT_GT(simPid, 0);
    ASSERT_EQ(Wait(simPid), 0);

    const fs::path socketPath = dir_ / "socket";
    std::vector<std::string> served = flow.options;
    served.insert(served.end(), {"--socket", socketPath, "--trace", dir_ / "recorder.trace",
                                 "--state", dir_ / "recorder.state"});
    const pid_t recorderPid = Start(OMR72_RECORDER_PATH, served, "", "");
    ASSERT_GT(recorderPid, 0);
    const int fd = ConnectToRecorder(socketPath, 500);
    if (fd < 0) kill(recorderPid, SIGTERM);
    ASSERT_GE(fd, 0);
    std::string transcript;
    {
      RecorderClient client(fd);
      const Message hello = client.Call(Writer(emu::protocol::kHello).U16(1).Done());
      ASSERT_EQ(hello.type, 0x81);
      EXPECT_EQ(hello.payload, (std::vector<uint8_t>{1, 0}));

      RemoteUsbDriver usb(client);
      RemotePassThrough scsi(client);
      emu::ScriptedConsole console(flow.keys + "q");
      emu::EmulatedLock lock;
      NoSleep sleeper;
      std::unique_ptr<ProgramModule> module = NativePlatform::MakeProgramModule();
      SteadyClock clock;
      Platform platform{usb, scsi, lock, console, sleeper, *module, clock};
      char name[] = "omr72-sim";
      char* argv[] = {name, nullptr};
      EXPECT_EQ(RunProgram(platform, 1, argv), 0);
      transcript = console.output();
      EXPECT_EQ(client.Call(Writer(emu::protocol::kShutdown).Done()).type, 0xBF);
      EXPECT_EQ(client.errors(), 0);
    }
    EXPECT_EQ(Wait(recorderPid), 0);
    EXPECT_FALSE(fs::exists(socketPath));

    const std::string trace = ReadFile(dir_ / "recorder.trace");
    EXPECT_GT(trace.size(), 1000u);
    EXPECT_EQ(trace, ReadFile(dir_ / "sim.trace"));
    EXPECT_EQ(ReadFile(dir_ / "recorder.state"), ReadFile(dir_ / "sim.state"));
    EXPECT_NE(ReadFile(dir_ / "recorder.state").find("\"firmwareImageWritten\":true"),
              std::string::npos);
    EXPECT_EQ(transcript, ReadFile(dir_ / "sim.out"));
  }
}

// Standard input and output carry the same messages, one client, until end of input.
TEST_F(RecorderProcess, ServesStandardInputAndOutput) {
  const fs::path requests = dir_ / "requests";
  {
    std::ofstream file(requests, std::ios::binary);
    for (const Message& m :
         {Writer(emu::protocol::kHello).U16(1).Done(), Writer(emu::protocol::kStatus).Done(),
          Writer(emu::protocol::kDiskOpen).U8(1).Done(), Writer(0x55).Done()}) {
      const std::vector<uint8_t> bytes = emu::protocol::Encode(m);
      file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
  }
  const pid_t pid = Start(OMR72_RECORDER_PATH, {"--stdio", "--state", dir_ / "state"}, requests,
                          dir_ / "replies");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(Wait(pid), 0);
  const std::string replies = ReadFile(dir_ / "replies");
  std::string expected;
  for (const Message& m :
       {Writer(0x81).U16(1).Done(), Writer(0x82).U8(0xFF).U8(1).U32(0).U16(0).U16(0).Done(),
        Writer(0xA0).U32(1).Done()}) {
    const std::vector<uint8_t> bytes = emu::protocol::Encode(m);
    expected.append(bytes.begin(), bytes.end());
  }
  ASSERT_GT(replies.size(), expected.size() + 5);
  EXPECT_EQ(replies.substr(0, expected.size()), expected);
  EXPECT_EQ(static_cast<uint8_t>(replies[expected.size() + 4]), 0xFF);  // unknown request
  EXPECT_NE(ReadFile(dir_ / "state").find("\"route\":\"disk\""), std::string::npos);
}

// A signal ends the serving; the socket goes away and the state is the model's last one.
TEST_F(RecorderProcess, ASignalEndsServingWithTheStateWritten) {
  const fs::path socketPath = dir_ / "socket";
  const pid_t pid =
      Start(OMR72_RECORDER_PATH,
            {"--socket", socketPath, "--route", "usb", "--state", dir_ / "state"}, "", "");
  ASSERT_GT(pid, 0);
  const int fd = ConnectToRecorder(socketPath, 500);
  if (fd < 0) kill(pid, SIGTERM);
  ASSERT_GE(fd, 0);
  {
    RecorderClient client(fd);
    // Five STATUS polls are five disk polls: the user re-plugs the recorder stuck on USB.
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(client.Call(Writer(emu::protocol::kStatus).Done()).type, 0x82);
    EXPECT_EQ(client.errors(), 0);
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid), 0);
  }
  EXPECT_FALSE(fs::exists(socketPath));
  const std::string state = ReadFile(dir_ / "state");
  EXPECT_NE(state.find("\"route\":\"away\""), std::string::npos) << state;
  EXPECT_NE(state.find("\"restarts\":1"), std::string::npos) << state;
}

TEST_F(RecorderProcess, RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                   // no transport
      {"--stdio", "--socket", dir_ / "s"},  // both
      {"--stdio", "diag"},                  // no program to pass it to
      {"--stdio", "--route", "sideways"},   // omr72-sim's own checks
      {"--socket"},                         // no path
  };
  for (const std::vector<std::string>& arguments : bad) {
    const pid_t pid = Start(OMR72_RECORDER_PATH, arguments, "", "");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Wait(pid), 2) << (arguments.empty() ? "(none)" : arguments.back());
  }
}

}  // namespace
}  // namespace omr72::testing
