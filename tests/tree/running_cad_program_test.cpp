// The running CAD program is found by its program file's name in /proc.
#include "tree/running_cad_program.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

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
    Spawn(program, {shown_as.empty() ? program : shown_as, "30"});
  }
  // Runs file (no copy) with these arguments.
  explicit Child(const std::string& file, std::vector<std::string> args) { Spawn(file, std::move(args)); }
  ~Child() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }

 private:
  void Spawn(const std::string& file, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, file.c_str(), nullptr, nullptr, argv.data(), environ), 0);
  }
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

// Started through a link (the program file has another name) or run by an
// interpreter, the CAD program is still found; a file another program merely
// names on its command line is not the CAD program.
TEST(RunningCadProgramTest, FoundThroughALinkOrAnInterpreterButNotAsAnArgument) {
  testing::TempDir dir;
  const std::string id = std::to_string(::getpid());
  std::string name;
  int pid = 0;
  {
    std::filesystem::copy_file("/bin/sleep", dir / "cadmain");
    std::filesystem::create_symlink(dir / "cadmain", dir / ("pelomarl" + id));
    Child linked(dir / ("pelomarl" + id), {dir / ("pelomarl" + id), "30"});
    ASSERT_TRUE(FoundWithin("pelomarl" + id, &name, &pid));
    EXPECT_EQ(pid, linked.pid());
    EXPECT_EQ(name, "pelomarl" + id);
  }
  {
    const std::string script = dir / ("pelomars" + id + ".sh");
    std::ofstream(script) << "sleep 30\nexit 0\n";
    Child interpreted("/bin/sh", {"sh", script});
    ASSERT_TRUE(FoundWithin("pelomars" + id, &name, &pid));
    EXPECT_EQ(pid, interpreted.pid());
    EXPECT_EQ(name, "pelomars" + id + ".sh");
  }
  {
    // A program that is no interpreter by name, given a file of that name.
    const std::string script = dir / ("pelomara" + id + ".txt");
    std::ofstream(script) << "sleep 30\nexit 0\n";
    std::filesystem::copy_file("/bin/sh", dir / "viewer");
    Child other(dir / "viewer", {"viewer", script});
    Child marker(dir.path() + "/marker-" + id, "");
    ASSERT_TRUE(FoundWithin("marker-" + id, &name, &pid));  // both have started
    EXPECT_EQ(FindRunningCadProgram("pelomara" + id, &name, &pid), 0) << name;
  }
}

}  // namespace
}  // namespace dovrane::tree
