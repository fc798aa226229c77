// The properties command's measurement against the system's own figures.
#include "tree/measure_directory.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "extlib/installation/installation.h"
#include "support/stopping_progress.h"
#include "support/temp_dir.h"

namespace dovrane::tree {
namespace {

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  char buf[256];
  while (p && std::fgets(buf, sizeof buf, p)) out += buf;
  if (p) ::pclose(p);
  return out;
}

class MeasureDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("a.txt", std::string(1000, 'a'));
    dir_.Write("sub/b.dat", std::string(70000, 'b'));
    dir_.Write("sub/deeper/.hidden", "hh");  // a file beginning with "." counts
    dir_.Write(".svn/skip.txt", "not counted");  // a folder beginning with "." does not
    std::filesystem::create_symlink(dir_ / "a.txt", dir_ / "link-to-file");
    std::filesystem::create_symlink(dir_ / "sub", dir_ / "link-to-folder");
  }
  testing::TempDir dir_;
};

TEST_F(MeasureDirectoryTest, CountsAsFindAndDuOfTheSameFiles) {
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  const DirectoryMeasure m = MeasureDirectory(ctx, dir_.path());
  // find's files outside the dot folder, plus the link to a file, which counts that file.
  const std::string cmd = "find -L " + dir_.path() + " -path '*/.svn' -prune -o -path '*/link-to-folder' -prune -o -type f ";
  EXPECT_EQ(m.files, std::stoll(Shell(cmd + "-print | wc -l")));
  EXPECT_EQ(m.bytes, std::stoull(Shell(cmd + "-printf '%s\\n' | awk '{s+=$1} END {print s}'")));
  EXPECT_EQ(m.bytes, 1000u + 70000u + 2u + 1000u);
}

TEST_F(MeasureDirectoryTest, CancelAndUnlistableFolders) {
  testing::StoppingProgress progress(2);
  extlib::OperationContext cancelled(extlib::ProcessInstallation(), nullptr, &progress);
  const DirectoryMeasure m = MeasureDirectory(cancelled, dir_.path());
  EXPECT_EQ(m.files, -1);
  EXPECT_EQ(m.bytes, 0u);
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  const DirectoryMeasure none = MeasureDirectory(ctx, dir_ / "missing");
  EXPECT_EQ(none.files, 0);
  EXPECT_EQ(none.unlisted, -ENOENT);
  EXPECT_EQ(none.unlisted_dir, dir_ / "missing");
}

}  // namespace
}  // namespace dovrane::tree
