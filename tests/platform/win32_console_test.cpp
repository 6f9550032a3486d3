#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/console.h"

namespace omr72 {
namespace {

class AnonymousPipe {
 public:
  AnonymousPipe() { EXPECT_TRUE(CreatePipe(&read_, &write_, nullptr, 0)); }
  ~AnonymousPipe() {
    CloseRead();
    CloseWrite();
  }
  HANDLE read() const { return read_; }
  void Send(const std::string& bytes) {
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(write_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
  }
  void CloseRead() { Close(read_); }
  void CloseWrite() { Close(write_); }

 private:
  static void Close(HANDLE& h) {
    if (h != nullptr) CloseHandle(h);
    h = nullptr;
  }
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

// 0xE0 announces a key code like 0 does; the code after either comes back as it is.
const std::string kScript("y\x00\x3b\xe0\x48L\x00\xe0", 8);
const int kScriptKeys[] = {'y', 0, 0x3B, 0, 0x48, 'L', 0, 0xE0};

TEST(Win32ConsoleScripted, PipeBytesAreKeysAndTheEndComesAtOnce) {
  AnonymousPipe in;
  in.Send(kScript);
  in.CloseWrite();
  Win32Console console(in.read());
  for (int key : kScriptKeys) {
    EXPECT_TRUE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), key);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), kEndOfInput);
  }
}

TEST(Win32ConsoleScripted, KeyWaitingOnAnOpenPipeDoesNotBlock) {
  AnonymousPipe in;
  Win32Console console(in.read());
  EXPECT_FALSE(console.KeyWaiting());
  in.Send("q");
  EXPECT_TRUE(console.KeyWaiting());
  EXPECT_EQ(console.ReadRawKey(), 'q');
  EXPECT_FALSE(console.KeyWaiting());
  in.CloseWrite();
  EXPECT_FALSE(console.KeyWaiting());
  EXPECT_EQ(console.ReadRawKey(), kEndOfInput);
}

TEST(Win32ConsoleScripted, FileBytesAreKeysUntilItsEnd) {
  char dir[MAX_PATH], path[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, dir), 0u);
  ASSERT_NE(GetTempFileNameA(dir, "omr", 0, path), 0u);
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(
      WriteFile(file, kScript.data(), static_cast<DWORD>(kScript.size()), &written, nullptr));
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  {
    Win32Console console(file);
    for (int key : kScriptKeys) {
      EXPECT_TRUE(console.KeyWaiting());
      EXPECT_EQ(console.ReadRawKey(), key);
    }
    EXPECT_FALSE(console.KeyWaiting());
    EXPECT_EQ(console.ReadRawKey(), kEndOfInput);
    EXPECT_EQ(console.ReadRawKey(), kEndOfInput);
  }
  CloseHandle(file);
}

}  // namespace
}  // namespace omr72
