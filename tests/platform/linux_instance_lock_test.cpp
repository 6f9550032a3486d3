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

// Acquires `name` in a child process and returns the result it got.
LockResult AcquireInChild(const std::string& name) {
  pid_t pid = fork();
  if (pid == 0) _exit(static_cast<int>(NativePlatform::MakeInstanceLock()->Acquire(name.c_str())));
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return static_cast<LockResult>(WEXITSTATUS(status));
}

// Names that the socket cannot carry fail rather than lock nothing.
TEST(LinuxInstanceLock, SecondProcessFindsTheNameTakenAndBadNamesFail) {
  std::string name = UniqueName("held");
  auto lock = NativePlatform::MakeInstanceLock();
  ASSERT_EQ(lock->Acquire(name.c_str()), LockResult::kAcquired);
  EXPECT_EQ(AcquireInChild(name), LockResult::kAlreadyExists);
  EXPECT_EQ(lock->Acquire(name.c_str()), LockResult::kAlreadyExists);
  EXPECT_EQ(AcquireInChild(UniqueName("other")), LockResult::kAcquired);
  auto fresh = NativePlatform::MakeInstanceLock();
  EXPECT_EQ(fresh->Acquire(""), LockResult::kFailed);
  EXPECT_EQ(fresh->Acquire(std::string(200, 'n').c_str()), LockResult::kFailed);
  EXPECT_EQ(fresh->Acquire(nullptr), LockResult::kFailed);
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
