// What a thread left to end on its own may still use: its own error text,
// and a process that ends without destroying statics under it.
#include "platform/threads_at_large.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/system_error.h"
#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

// A copy worker reports its error while the window's thread asks for
// another: each keeps the text it asked for.
TEST(SystemErrorTextTest, EachThreadKeepsItsOwnText) {
  const char* mine = SystemErrorText(ENOENT);
  const std::string expected = mine;
  std::string theirs;
  std::thread([&theirs] { theirs = SystemErrorText(EACCES); }).join();
  EXPECT_EQ(std::string(mine), expected);
  EXPECT_NE(theirs, expected);
  EXPECT_EQ(std::string(SystemErrorText(-99999)), "Windows Error Message: 99999");
}

// A child that registers an exit handler, maybe leaves a thread at large,
// and ends through EndProcess: its status, and whether the handler ran.
std::pair<int, bool> EndInChild(bool at_large) {
  testing::TempDir dir;
  const std::string marker = dir.path() + "/destroyed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    static std::string path;
    path = marker;
    std::atexit([] { testing::WriteFile(path, "statics destroyed"); });
    if (at_large) {
      ThreadAtLargeStarts();
      std::thread([] { ::pause(); }).detach();  // stuck, as on a hanging share
    }
    EndProcess(3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::Exists(marker)};
}

TEST(ThreadsAtLargeTest, AProcessWithAThreadAtLargeEndsWithoutDestroyingItsStatics) {
  EXPECT_EQ(EndInChild(false), std::make_pair(3, true));
  EXPECT_EQ(EndInChild(true), std::make_pair(3, false));
  // Counted out again, the next end is the ordinary one.
  ThreadAtLargeStarts();
  ThreadAtLargeEnds();
  EXPECT_EQ(ThreadsAtLarge(), 0);
}

}  // namespace
}  // namespace dovrane::platform
