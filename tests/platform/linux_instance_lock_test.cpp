#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/native.h"

namespace omr72 {
namespace {

std::string UniqueName(const char* what) {
  return std::string("omr72-test-") + what + "-" + std::to_string(getpid());
}

// Another process's view of a taken name is the next test's; the name alone decides.
TEST(LinuxInstanceLock, TheNameDecidesAndNamesTheSocketCannotCarryFail) {
  std::string name = UniqueName("held");
  ASSERT_EQ(NativePlatform::MakeInstanceLock()->Acquire(name.c_str()), LockResult::kAcquired);
  EXPECT_EQ(NativePlatform::MakeInstanceLock()->Acquire(name.c_str()), LockResult::kAlreadyExists);
  EXPECT_EQ(NativePlatform::MakeInstanceLock()->Acquire(UniqueName("other").c_str()),
            LockResult::kAcquired);
  auto lock = NativePlatform::MakeInstanceLock();
  EXPECT_EQ(lock->Acquire(""), LockResult::kFailed);
  EXPECT_EQ(lock->Acquire(std::string(200, 'n').c_str()), LockResult::kFailed);
  EXPECT_EQ(lock->Acquire(nullptr), LockResult::kFailed);
}

TEST(LinuxInstanceLock, HeldUntilTheHolderDies) {
  std::string name = UniqueName("dies");
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    close(release[1]);
    char result = static_cast<char>(NativePlatform::MakeInstanceLock()->Acquire(name.c_str()));
    (void)!write(ready[1], &result, 1);
    char ignored;
    (void)!read(release[0], &ignored, 1);  // until the parent closes its end
    _exit(0);
  }
  close(ready[1]);
  close(release[0]);
  char result = -1;
  ASSERT_EQ(read(ready[0], &result, 1), 1);
  EXPECT_EQ(static_cast<LockResult>(result), LockResult::kAcquired);
  auto lock = NativePlatform::MakeInstanceLock();
  EXPECT_EQ(lock->Acquire(name.c_str()), LockResult::kAlreadyExists);
  close(release[1]);
  waitpid(pid, nullptr, 0);
  close(ready[0]);
  EXPECT_EQ(lock->Acquire(name.c_str()), LockResult::kAcquired);
}

}  // namespace
}  // namespace omr72
