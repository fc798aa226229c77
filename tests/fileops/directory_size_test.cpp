#include "fileops/directory_size.h"

#include <unistd.h>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "fileops_test_support.h"
#include "platform/path_map.h"
#include "support/stopping_progress.h"

namespace dovrane::fileops {
namespace {

using testing::WriteFile;

class DirectorySizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "tree";
    WriteFile(root_ + "/a.txt", std::string(10, 'a'));
    WriteFile(root_ + "/b.dat", std::string(20, 'b'));
    WriteFile(root_ + "/.hidden", std::string(1000, 'h'));
    WriteFile(root_ + "/.git/e", std::string(500, 'e'));
    WriteFile(root_ + "/sub/c.txt", std::string(30, 'c'));
    WriteFile(root_ + "/sub/deeper/d.dat", std::string(40, 'd'));
    WriteFile(root_ + "/x.prj/f.txt", std::string(50, 'f'));
    WriteFile(dir_ / "outside/big", std::string(7000, 'o'));
    ::symlink((root_ + "/a.txt").c_str(), (root_ + "/lnk").c_str());          // counts a.txt
    ::symlink((dir_ / "outside").c_str(), (root_ + "/outlink").c_str());      // never entered
  }
  testing::TempDir dir_;
  std::string root_;
};

TEST_F(DirectorySizeTest, SumsMatchingFilesSkippingDotNames) {
  struct Case {
    const char* pattern;
    int recurse;
    int64_t expected;
  } cases[] = {
      {"*.*", 1, 10 + 20 + 30 + 40 + 50 + 10},
      {"*", 1, 10 + 20 + 30 + 40 + 50 + 10},
      {"*.*", 0, 10 + 20 + 10},
      {"*.TXT", 1, 10},     // subfolders are found through the pattern too
      {"*.prj", 1, 0},      // x.prj is entered, f.txt does not match
      {"?.dat", 0, 20},
      {"nothing*", 1, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SumDirectorySize(extlib::DefaultContext(), root_, c.pattern, c.recurse), c.expected) << c.pattern;
}

TEST_F(DirectorySizeTest, MissingOrEmptyFolderIsZero) {
  std::filesystem::create_directories(dir_ / "empty");
  EXPECT_EQ(SumDirectorySize(extlib::DefaultContext(), dir_ / "empty", "*.*", 1), 0);
  EXPECT_EQ(SumDirectorySize(extlib::DefaultContext(), dir_ / "missing", "*.*", 1), 0);
  EXPECT_EQ(SumDirectorySize(extlib::DefaultContext(), root_ + "/a.txt", "*.*", 1), 0);  // a file is no folder
}

TEST_F(DirectorySizeTest, NetworkPathAndSizesAbove4GB) {
  platform::PathMap& map = platform::PathMap::Instance();
  const std::string old_root = map.UncRoot();
  map.SetUncRoot(dir_.path());
  const int64_t big = (int64_t{5} << 30) + 7;  // a 32-bit count would see 7
  ASSERT_EQ(::truncate((root_ + "/sub/deeper/d.dat").c_str(), big), 0);
  EXPECT_EQ(SumDirectorySize(extlib::DefaultContext(), "\\\\TREE\\SUB", "*.*", 1), 30 + big);  // letter case as SMB
  map.SetUncRoot(old_root);
}

// The cancel is asked before every entry (c.txt, deeper, d.dat); a stop at
// any of them is an interrupted sum, not a smaller size.
TEST_F(DirectorySizeTest, CancelBeforeAnyEntryInterruptsTheSum) {
  testing::StoppingProgress never;
  extlib::OperationContext whole(extlib::ProcessInstallation(), nullptr, &never);
  const int64_t full = SumDirectorySize(whole, root_ + "/sub", "*.*", 1);
  EXPECT_GT(full, 0);
  EXPECT_EQ(never.polls, 3);
  for (int at = 1; at <= 3; ++at) {
    testing::StoppingProgress person(at);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &person);
    EXPECT_EQ(SumDirectorySize(ctx, root_ + "/sub", "*.*", 1), extlib::kPrjInterrupted) << at;
  }
}

}  // namespace
}  // namespace dovrane::fileops
