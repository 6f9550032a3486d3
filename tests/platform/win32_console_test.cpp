// Windows: the console on redirected standard input, a pipe or a file.
#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/win32/console.h"

namespace omr72 {
namespace {

// 0xE0 announces a key code like 0 does; the code after either comes back as it is.
const std::string kScript("y\x00\x3b\xe0\x48L\x00\xe0", 8);

void Send(HANDLE to, const std::string& bytes) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(to, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

void ExpectScriptKeys(Win32Console& console) {
  for (int key : std::initializer_list<int>{'y', 0, 0x3B, 0, 0x48, 'L', 0, 0xE0}) {
    EXPECT_TRUE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), key);
  }
}

void ExpectEnd(Win32Console& console) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), kEndOfInput);
  }
}

TEST(Win32ConsoleScripted, PipeBytesAreKeysNothingBlocksAndTheEndComesAtOnce) {
  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
  {
    Win32Console console(read);
    EXPECT_FALSE(console.KeyWaiting());  // writer still open, nothing sent
    Send(write, kScript);
    EXPECT_TRUE(console.KeyWaiting());  // asked twice for the same key: nothing lost
    ExpectScriptKeys(console);
    EXPECT_FALSE(console.KeyWaiting());
    CloseHandle(write);
    ExpectEnd(console);
  }
  CloseHandle(read);
}

TEST(Win32ConsoleScripted, FileBytesAreKeysUntilItsEnd) {
  char dir[MAX_PATH], path[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
  ASSERT_NE(GetTempFileNameA(dir, "omr", 0, path), 0u);
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Send(file, kScript);
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  {
    Win32Console console(file);
    ExpectScriptKeys(console);
    ExpectEnd(console);
  }
  CloseHandle(file);
}

// Text may be shown and taken back only on a console window: a pipe or file as standard output
// never gets any.
TEST(Win32ConsoleOutput, APipeOrAFileIsNoTerminal) {
  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
  HANDLE file = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  for (HANDLE standardOutput : {write, file}) {
    ASSERT_TRUE(SetStdHandle(STD_OUTPUT_HANDLE, standardOutput));
    EXPECT_FALSE(Win32Console(read).IsTerminal());
  }
  SetStdHandle(STD_OUTPUT_HANDLE, output);
  CloseHandle(file);
  CloseHandle(write);
  CloseHandle(read);
}

// Stand-ins for _getch and _kbhit: the keys the console has queued, in order.
std::deque<int> queuedKeys;

int QueuedGetch() {
  const int key = queuedKeys.front();
  queuedKeys.pop_front();
  return key;
}

int QueuedKbhit() {
  return queuedKeys.empty() ? 0 : 1;
}

TEST(Win32ConsoleKeys, AnE0IsAPrefixOnlyWithItsKeyCodeWaiting) {
  struct Case {
    const char* what;
    std::vector<int> queued;    // what _getch will return
    std::vector<int> expected;  // what ReadConsoleKey returns, one call each
  };
  const Case cases[] = {
      {"a lone 0xE0 is the character (CP866 'r' with a hook)", {0xE0}, {0xE0}},
      {"0xE0 with the cursor-up code queued behind it", {0xE0, 0x48}, {0, 0x48}},
      {"0 announces a function key", {0x00, 0x3B}, {0, 0x3B}},
      {"a plain character", {'Y'}, {'Y'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    queuedKeys.assign(c.queued.begin(), c.queued.end());
    for (int expected : c.expected) EXPECT_EQ(ReadConsoleKey(QueuedGetch, QueuedKbhit), expected);
    EXPECT_TRUE(queuedKeys.empty());
  }
}

}  // namespace
}  // namespace omr72
