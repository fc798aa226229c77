#include "platform/mapped_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/crash_signals.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

// A file cut short by another program while it is mapped: the pages past its
// new end read as zeros instead of ending the process, and the mapping says
// so. Another mapping of the same moment is not marked.
TEST(MappedFileTest, PagesCutOffUnderAMappingReadAsZerosAndAreNoted) {
  testing::TempDir dir;
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::string text(static_cast<size_t>(4 * page), 'x');
  const std::string cut = dir.Write("cut.dat", text), kept = dir.Write("kept.dat", text);
  const int fd = ::open(cut.c_str(), O_RDONLY), other = ::open(kept.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_GE(other, 0);
  {
    MappedFile file(fd, text.size()), untouched(other, text.size());
    ASSERT_NE(file.data(), nullptr);
    ASSERT_NE(untouched.data(), nullptr);
    EXPECT_EQ(std::string(file.data(), file.size()), text);
    EXPECT_FALSE(file.Cut());
    ASSERT_EQ(::truncate(cut.c_str(), page + 10), 0);
    // Still there, the kernel's zeros after the end within the last page.
    EXPECT_EQ(file.data()[page + 9], 'x');
    EXPECT_EQ(file.data()[page + 10], '\0');
    EXPECT_FALSE(file.Cut());
    // Gone: zeros, to the mapping's end.
    EXPECT_EQ(file.data()[3 * page + 5], '\0');
    EXPECT_EQ(file.data()[2 * page], '\0');
    EXPECT_TRUE(file.Cut());
    EXPECT_FALSE(untouched.Cut());
    EXPECT_EQ(untouched.data()[3 * page + 5], 'x');
  }
  ::close(fd);
  ::close(other);
  // Not a regular file: nothing mapped, for the caller to read it the ordinary way.
  const int null = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  EXPECT_EQ(MappedFile(null, 4096).data(), nullptr);
  ::close(null);
}

// The crash report installed while a file is mapped (the window's program
// installs its handlers again) leaves the guard in front of it.
TEST(MappedFileTest, ACrashReportInstalledMeanwhileKeepsTheGuard) {
  testing::TempDir dir;
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::string path = dir.Write("cut.dat", std::string(static_cast<size_t>(4 * page), 'x'));
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const int status = testing::RunBounded([&] {
    MappedFile file(fd, static_cast<size_t>(4 * page));
    if (!file.data()) return 2;
    InstallCrashHandlers([](const CrashInfo&) { return 0; });
    if (::truncate(path.c_str(), page) != 0) return 3;
    return file.data()[3 * page] == '\0' && file.Cut() ? 0 : 4;
  });
  ::close(fd);
  EXPECT_EQ(status, 0);
}

// A bus error anywhere else is no business of the guard: it goes on to what
// handled it before (here the default, which ends the process).
TEST(MappedFileTest, OtherBusErrorsStillEndTheProcess) {
  testing::TempDir dir;
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::string path = dir.Write("plain.dat", std::string(static_cast<size_t>(4 * page), 'x'));
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  MappedFile guarded(fd, static_cast<size_t>(4 * page));  // the guard is in place
  ASSERT_NE(guarded.data(), nullptr);
  void* raw = ::mmap(nullptr, static_cast<size_t>(4 * page), PROT_READ, MAP_PRIVATE, fd, 0);
  ASSERT_NE(raw, MAP_FAILED);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::truncate(path.c_str(), page) != 0) ::_exit(3);
    volatile char c = static_cast<const char*>(raw)[3 * page];
    (void)c;
    ::_exit(0);  // survived: the guard swallowed a fault that was not its own
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // Ended by the signal, or by a sanitizer's report of it.
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  ::munmap(raw, static_cast<size_t>(4 * page));
  ::close(fd);
}

}  // namespace
}  // namespace dovrane::platform
