// The running CAD program is found by its program file's name in /proc.
#include "tree/running_cad_program.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

extern char** environ;

namespace dovrane::tree {
namespace {

// A child process running a copy of sleep under the given file name, with
// shown_as as its command name (argv[0]) when given.
class Child {
 public:
  Child(const std::string& program, const std::string& shown_as) {
    std::filesystem::copy_file("/bin/sleep", program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::string arg0 = shown_as.empty() ? program : shown_as, arg1 = "30";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ), 0);
  }
  ~Child() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// The exec is done once /proc shows the new program file (bounded poll).
bool FoundWithin(const std::string& word, std::string* name, int* pid) {
  for (int i = 0; i < 2000; ++i) {
    if (FindRunningCadProgram(word, name, pid) == 1) return true;
    ::usleep(1000);
  }
  return false;
}

TEST(RunningCadProgramTest, FoundByItsProgramFileInAnyLetterCase) {
  testing::TempDir dir;
  const std::string word = "pelomar" + std::to_string(::getpid());
  Child cad(dir.path() + "/Start-PELOMAR" + std::to_string(::getpid()) + "-Cad", "");
  std::string name;
  int pid = 0;
  ASSERT_TRUE(FoundWithin(word, &name, &pid));
  EXPECT_EQ(pid, cad.pid());
  EXPECT_EQ(name, "start-" + word + "-cad");
}

TEST(RunningCadProgramTest, ANameOnlyInTheCommandLineIsNotTheProgram) {
  testing::TempDir dir;
  const std::string word = "pelomarx" + std::to_string(::getpid());
  Child other(dir.path() + "/plain-sleep", word);
  Child marker(dir.path() + "/marker-" + std::to_string(::getpid()), "");
  std::string name;
  int pid = 0;
  ASSERT_TRUE(FoundWithin("marker-" + std::to_string(::getpid()), &name, &pid));  // both have started
  EXPECT_EQ(FindRunningCadProgram(word, &name, &pid), 0);
}

}  // namespace
}  // namespace dovrane::tree
