#include "platform/env.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/fault_injection_env.h"
#include "platform/file_util.h"
#include "platform/manual_clock_env.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

class EnvTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  Env* env_ = CurrentEnv();
};

TEST_F(EnvTest, RecordLocksConflictBetweenOpensOfOneFile) {
  std::string path = dir_ / "project.dat";
  testing::WriteFile(path, std::string(300, 'x'));
  int a = env_->Open(path, O_RDWR), b = env_->Open(path, O_RDWR);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_EQ(env_->Lock(a, 100, 50, LockMode::kExclusive, 0), 0);
  EXPECT_EQ(env_->Lock(b, 120, 10, LockMode::kExclusive, 50), -EAGAIN);  // waits, then gives up
  EXPECT_EQ(env_->Lock(b, 150, 50, LockMode::kExclusive, 0), 0);         // the next record is free
  bool locked = false;
  ASSERT_EQ(env_->TestLock(b, 100, 1, &locked), 0);
  EXPECT_TRUE(locked);
  ASSERT_EQ(env_->Lock(a, 100, 50, LockMode::kUnlock, 0), 0);
  EXPECT_EQ(env_->Lock(b, 120, 10, LockMode::kExclusive, 0), 0);
  env_->Close(a);
  env_->Close(b);
}

// A lock wait spends exactly its limit of the Env's clock (plus at most one
// poll step), however fast the machine runs.
TEST_F(EnvTest, LockWaitIsMeasuredOnTheEnvsClock) {
  std::string path = dir_ / "project.dat";
  testing::WriteFile(path, std::string(100, 'x'));
  int holder = env_->Open(path, O_RDWR);
  ASSERT_EQ(env_->Lock(holder, 0, 10, LockMode::kExclusive, 0), 0);
  for (int timeout : {0, 1, 250, 2000, 10000}) {
    ManualClockEnv clock;
    int fd = clock.Open(path, O_RDWR);
    EXPECT_EQ(clock.Lock(fd, 5, 1, LockMode::kShared, timeout), -EAGAIN);
    EXPECT_GE(clock.ElapsedMs(), timeout);
    EXPECT_LE(clock.ElapsedMs(), timeout + 50) << timeout;
    platform::CloseNothingPending(&clock, fd);
  }
  env_->Close(holder);
}

TEST_F(EnvTest, RecordLockOfADeadProcessIsReleased) {
  std::string path = dir_ / "project.dat";
  testing::WriteFile(path, std::string(100, 'x'));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = CurrentEnv()->Open(path, O_RDWR);
    CurrentEnv()->Lock(fd, 0, 10, LockMode::kExclusive, 0);
    if (::write(fds[1], "l", 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(fds[0], &c, 1), 1);
  int fd = env_->Open(path, O_RDWR);
  EXPECT_EQ(env_->Lock(fd, 0, 10, LockMode::kExclusive, 0), -EAGAIN);  // another process holds it
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(env_->Lock(fd, 0, 10, LockMode::kExclusive, 2000), 0);
  env_->Close(fd);
}

TEST_F(EnvTest, WholeFileReadsTakeOnlyRegularFilesWithinTheirLimit) {
  ASSERT_EQ(::mkfifo((dir_ / "prjinfo.dat").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir_ / "zero.prj").c_str()), 0);
  testing::WriteFile(dir_ / "big", std::string(5000, 'x'));
  struct Case { std::string name; uint64_t limit; int rc; size_t size; } cases[] = {
      {"prjinfo.dat", kSmallFileLimit, -EINVAL, 0},  // a FIFO: never waited for
      {"zero.prj", kSmallFileLimit, -EINVAL, 0},     // a device behind a link: endless
      {"", kSmallFileLimit, -EISDIR, 0},
      {"big", 4999, -EFBIG, 0},
      {"big", 5000, 0, 5000},
  };
  for (const Case& c : cases) {
    int rc = testing::RunBounded([&] {
      std::string text;
      const int read = ReadWholeFile(dir_ / c.name, &text, c.limit);
      return -read + (text.size() == c.size ? 0 : 100);
    }, 5000, 256 << 20);
    EXPECT_EQ(rc, -c.rc) << c.name;
  }
}

TEST_F(EnvTest, AtomicRewriteLeavesOldFileWholeAtEveryFailure) {
  const FaultPoint points[] = {FaultPoint::kOpen, FaultPoint::kWrite, FaultPoint::kSync, FaultPoint::kClose,
                               FaultPoint::kRename};
  std::string path = dir_ / "data.cfg";
  for (FaultPoint point : points) {
    testing::WriteFile(path, "old contents\n");
    FaultInjectionEnv faulty;
    faulty.Arm(point, 1, ENOSPC);
    Env* previous = SetCurrentEnv(&faulty);
    int rc = WriteFileAtomic(path, "new contents, longer than before\n");
    SetCurrentEnv(previous);
    EXPECT_EQ(rc, -ENOSPC) << static_cast<int>(point);
    EXPECT_EQ(testing::ReadFile(path), "old contents\n") << static_cast<int>(point);
    std::vector<DirEntry> entries;
    ASSERT_EQ(env_->ListDir(dir_.path(), &entries), 0);
    EXPECT_EQ(entries.size(), 1u) << "a temporary file was left behind";
  }
  ASSERT_EQ(WriteFileAtomic(path, "new\n"), 0);
  EXPECT_EQ(testing::ReadFile(path), "new\n");
}

// Anyone who may write the share can guess the work name (the process id):
// a link there is not written through, and a link at the file itself is
// replaced by the new file, not written into. Writers of shared files that
// open a link as the file get -ELOOP.
TEST_F(EnvTest, NoWriterOfASharedFileWritesThroughALink) {
  testing::TempDir outside;
  const std::string target = outside.Write("victim.txt", "outside\n");
  const std::string path = dir_ / "data.cfg";
  testing::WriteFile(path, "old contents\n");
  ASSERT_EQ(::symlink(target.c_str(), (path + ".new~" + std::to_string(::getpid())).c_str()), 0);
  EXPECT_EQ(WriteFileAtomic(path, "new\n"), -ELOOP);
  EXPECT_EQ(testing::ReadFile(target), "outside\n");
  EXPECT_EQ(testing::ReadFile(path), "old contents\n");

  const std::string linked = dir_ / "users.dat";
  ASSERT_EQ(::symlink(target.c_str(), linked.c_str()), 0);
  ASSERT_EQ(WriteFileAtomic(linked, "new\n"), 0);
  EXPECT_EQ(testing::ReadFile(target), "outside\n");
  EXPECT_EQ(testing::ReadFile(linked), "new\n");

  const std::string record_file = dir_ / "project.dat";
  ASSERT_EQ(::symlink(target.c_str(), record_file.c_str()), 0);
  EXPECT_EQ(OpenRegularFile(record_file, O_RDWR), -ELOOP);
  const int reader = OpenRegularFile(record_file, O_RDONLY);
  EXPECT_GE(reader, 0) << "a reader follows the link";
  if (reader >= 0) env_->Close(reader);
}

TEST_F(EnvTest, ListingTellsTypesAndTimesKeepNanoseconds) {
  testing::WriteFile(dir_ / "a/file", "1");
  std::vector<DirEntry> entries;
  ASSERT_EQ(env_->ListDir(dir_.path(), &entries), 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "a");
  EXPECT_EQ(entries[0].type, EntryType::kDirectory);
  FileTime t{1600000000, 123456789};
  ASSERT_EQ(env_->SetTimes(dir_ / "a/file", t, t), 0);
  FileInfo info;
  ASSERT_EQ(env_->Stat(dir_ / "a/file", &info), 0);
  EXPECT_EQ(info.modified, t);
  EXPECT_EQ(info.size, 1u);
}

}  // namespace
}  // namespace dovrane::platform
