#include "platform/fault_injection_env.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

TEST(FaultInjectionEnvTest, FailsExactlyTheChosenCallAndLeavesATornWrite) {
  testing::TempDir dir;
  FaultInjectionEnv env;
  env.Arm(FaultPoint::kWrite, 2, ENOSPC);
  int fd = env.Open(dir / "f", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(env.Write(fd, "first", 5), 5);
  EXPECT_EQ(env.Write(fd, "second", 6), -ENOSPC);
  EXPECT_TRUE(env.Fired());
  EXPECT_EQ(env.Write(fd, "!", 1), 1);  // only the chosen call fails
  EXPECT_EQ(env.Close(fd), 0);
  EXPECT_EQ(testing::ReadFile(dir / "f"), "firstsec!");
  EXPECT_EQ(env.Calls(FaultPoint::kWrite), 3);
}

// "write:2+:ENOSPC": a volume that is full from the second write on stays full.
TEST(FaultInjectionEnvTest, ALastingFaultFailsEveryCallFromTheChosenOne) {
  testing::TempDir dir;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("DOVRANE_FAULT", "write:2+:ENOSPC", 1);
    InstallFaultInjectionFromEnvironment();
    int fd = CurrentEnv()->Open(dir / "f", O_WRONLY | O_CREAT, 0644);
    const bool ok = CurrentEnv()->Write(fd, "a", 1) == 1 && CurrentEnv()->Write(fd, "b", 1) == -ENOSPC &&
                    CurrentEnv()->Write(fd, "c", 1) == -ENOSPC && CurrentEnv()->Sync(fd) == 0;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(testing::ReadFile(dir / "f"), "a");
}

// A computer with a wrong clock: the wall clock is off by the given seconds,
// with or without a fault armed beside it; the waits' clock stays true.
TEST(FaultInjectionEnvTest, TheClockOffsetMovesTheWallClockOnly) {
  for (const char* fault : {"", "write:5:ENOSPC"}) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("DOVRANE_FAULT", fault, 1);
      ::setenv("DOVRANE_CLOCK_OFFSET", "-315360000", 1);  // ten years back
      const bool installed = InstallFaultInjectionFromEnvironment() != nullptr;
      const int64_t truth = static_cast<int64_t>(::time(nullptr));
      const int64_t seen = CurrentEnv()->NowSeconds();
      const int64_t before = CurrentEnv()->MonotonicMs();
      const bool steady = Env().MonotonicMs() - before < 60000;
      ::_exit(installed && seen - (truth - 315360000) >= -5 && seen - (truth - 315360000) <= 5 && steady ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << fault;
  }
  // Garbage is no offset: nothing is installed for it.
  pid_t pid = ::fork();
  if (pid == 0) {
    ::unsetenv("DOVRANE_FAULT");
    ::setenv("DOVRANE_CLOCK_OFFSET", "soon", 1);
    ::_exit(InstallFaultInjectionFromEnvironment() == nullptr ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FaultInjectionEnvTest, EnvironmentVariableArmsACrashAtTheChosenCall) {
  testing::TempDir dir;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("DOVRANE_FAULT", "rename:1:KILL", 1);
    ::setenv("DOVRANE_FAULT_LOG", (dir / "log").c_str(), 1);
    InstallFaultInjectionFromEnvironment();
    int fd = CurrentEnv()->Open(dir / "a", O_WRONLY | O_CREAT, 0644);
    CurrentEnv()->Close(fd);
    CurrentEnv()->Rename(dir / "a", dir / "b");
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(testing::ReadFile(dir / "log"), "fired\n");
  EXPECT_TRUE(testing::Exists(dir / "a"));  // killed before the rename
}

}  // namespace
}  // namespace dovrane::platform
