// Windows: the named mutex. Second processes are the second-instance script's work (it runs
// the updater twice under the same runner); here, the results the lock itself tells apart.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/native.h"

namespace omr72 {
namespace {

std::string UniqueName(const char* what) {
  return std::string("omr72-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}

// A name that exists already is reported as such, whoever holds it.
TEST(Win32InstanceLock, TakenOnceThenFoundTaken) {
  std::string name = UniqueName("held");
  EXPECT_EQ(NativePlatform::MakeInstanceLock()->Acquire(name.c_str()), LockResult::kAcquired);
  EXPECT_EQ(NativePlatform::MakeInstanceLock()->Acquire(name.c_str()), LockResult::kAlreadyExists);
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
