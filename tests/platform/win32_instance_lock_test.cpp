#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/native.h"

namespace omr72 {
namespace {

// The test program started again with this argument only tries the lock and exits with
// kChildExitBase + the result, before any test runs.
constexpr char kChildArgument[] = "--omr72-lock-child=";
constexpr UINT kChildExitBase = 10;

int RunAsLockChildWhenAsked() {
  std::string line = GetCommandLineA();
  size_t at = line.find(kChildArgument);
  if (at == std::string::npos) return 0;
  std::string name = line.substr(at + sizeof kChildArgument - 1);
  LockResult result = NativePlatform::MakeInstanceLock()->Acquire(name.c_str());
  ExitProcess(kChildExitBase + static_cast<UINT>(result));
}
const int kLockChild = RunAsLockChildWhenAsked();

std::string UniqueName(const char* what) {
  return std::string("omr72-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}

LockResult AcquireInChild(const std::string& name) {
  char exe[MAX_PATH];
  EXPECT_NE(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
  std::string command = std::string("\"") + exe + "\" " + kChildArgument + name;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "CreateProcessA failed: " << GetLastError();
    return LockResult::kFailed;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_GE(code, kChildExitBase);
  return static_cast<LockResult>(code - kChildExitBase);
}

TEST(Win32InstanceLock, SecondProcessFindsTheMutexTakenUntilTheHolderEnds) {
  EXPECT_EQ(kLockChild, 0);
  std::string name = UniqueName("held");
  auto lock = NativePlatform::MakeInstanceLock();
  ASSERT_EQ(lock->Acquire(name.c_str()), LockResult::kAcquired);
  EXPECT_EQ(AcquireInChild(name), LockResult::kAlreadyExists);
  EXPECT_EQ(lock->Acquire(name.c_str()), LockResult::kAlreadyExists);
  // A child that took a name of its own released it when it ended.
  std::string ended = UniqueName("ends");
  EXPECT_EQ(AcquireInChild(ended), LockResult::kAcquired);
  EXPECT_EQ(NativePlatform::MakeInstanceLock()->Acquire(ended.c_str()), LockResult::kAcquired);
}

TEST(Win32InstanceLock, ANameTakenByAnotherKindOfObjectFails) {
  std::string name = UniqueName("event");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(NativePlatform::MakeInstanceLock()->Acquire(name.c_str()), LockResult::kFailed);
  CloseHandle(event);
}

}  // namespace
}  // namespace omr72
