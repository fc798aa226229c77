#include "fileops/directory_delete.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "fileops_test_support.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "services/ui_text_test_env.h"
#include "support/stopping_progress.h"

namespace dovrane::fileops {
namespace {

using platform::kIdCancel;
using platform::kIdRetry;
using testing::Exists;
using testing::WriteFile;

// Refuses to remove entries called `name` (`times` times, -1: always), and can
// hide the entry types from the listing as some file systems do.
class StubbornEnv : public platform::Env {
 public:
  std::string name;
  int times = -1;
  int error = EACCES;
  bool hide_types = false;
  int UnlinkAt(int dirfd, const std::string& n, bool directory) override {
    if (n == name || (n.size() > name.size() && n.compare(n.size() - name.size() - 1, std::string::npos, "/" + name) == 0)) {
      if (times != 0) {
        if (times > 0) --times;
        return -error;
      }
    }
    return Env::UnlinkAt(dirfd, n, directory);
  }
  int ListDirFd(int dirfd, std::vector<platform::DirEntry>* entries) override {
    int rc = Env::ListDirFd(dirfd, entries);
    if (hide_types)
      for (auto& e : *entries) e.type = platform::EntryType::kUnknown;
    return rc;
  }
};

class DirectoryDeleteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "tree";
    WriteFile(root_ + "/a.txt", "a");
    WriteFile(root_ + "/.hidden", "h");
    WriteFile(root_ + "/sub/stuck", "s");
    WriteFile(root_ + "/sub/other", "o");
    WriteFile(root_ + "/sub/deeper/.git/x", "x");
    WriteFile(dir_ / "outside/keep", "k");
    ::symlink((dir_ / "outside").c_str(), (root_ + "/sub/outlink").c_str());
    platform::SetCurrentEnv(&env_);
  }
  void TearDown() override { platform::SetCurrentEnv(nullptr); }

  services::testing::UiTextEnv texts_;  // English texts
  testing::TempDir dir_;
  testing::RecordingMessenger box_;
  StubbornEnv env_;
  std::string root_;
};

TEST_F(DirectoryDeleteTest, DeletesEverythingButWhatLinksPointTo) {
  for (bool hide_types : {false, true}) {
    env_.hide_types = hide_types;
    SetUp();
    EXPECT_TRUE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, root_));
    EXPECT_FALSE(Exists(root_));
    EXPECT_TRUE(Exists(dir_ / "outside/keep"));
    EXPECT_TRUE(box_.messages.empty());
  }
  EXPECT_TRUE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, root_));  // gone already: true, no question
  EXPECT_TRUE(box_.messages.empty());
}

TEST_F(DirectoryDeleteTest, CancelledFileKeepsItAndItsFolders) {
  env_.name = "stuck";
  box_.Answer({kIdCancel, kIdCancel, kIdCancel});
  EXPECT_FALSE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, root_));
  EXPECT_TRUE(Exists(root_ + "/sub/stuck"));
  EXPECT_FALSE(Exists(root_ + "/sub/other") || Exists(root_ + "/a.txt") || Exists(root_ + "/sub/deeper"));
  ASSERT_EQ(box_.messages.size(), 3u);
  EXPECT_EQ(box_.messages[0].text, root_ + "/sub/stuck cannot be deleted.\n\nPermission denied");
  EXPECT_EQ(box_.messages[0].flags & 0xFF, platform::kMbRetryCancel | platform::kMbIconError);
  EXPECT_EQ(box_.messages[1].text, "Can't delete (" + root_ + "/sub)!\n\nDirectory not empty");
  EXPECT_EQ(box_.messages[2].text, "Can't delete (" + root_ + ")!\n\nDirectory not empty");
}

// Cancel between entries: what is left stays with its folders, without a
// question, and a later cancel leaves less.
TEST_F(DirectoryDeleteTest, CancelStopsBetweenEntriesWithoutAQuestion) {
  auto files_left = [&] {
    long n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root_)) n += e.is_regular_file();
    return n;
  };
  long previous = files_left();
  for (int at = 1; at <= 4; ++at) {
    SetUp();
    testing::StoppingProgress person(at);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &person);
    EXPECT_FALSE(DeleteDirectoryTree(ctx, nullptr, root_));
    EXPECT_TRUE(Exists(root_));
    EXPECT_LE(files_left(), previous) << at;
    if (at == 1) {
      EXPECT_EQ(files_left(), previous);  // nothing yet
    }
    previous = files_left();
  }
  EXPECT_LT(previous, 5);
  EXPECT_TRUE(box_.messages.empty()) << box_.All();
  EXPECT_TRUE(Exists(dir_ / "outside/keep"));
}

TEST_F(DirectoryDeleteTest, RetryDeletesWhatResistedOnce) {
  struct Case {
    const char* name;  // a file or a folder that refuses once
    int error;
  } cases[] = {{"stuck", EBUSY}, {"deeper", EBUSY}, {"tree", EPERM}};
  for (const Case& c : cases) {
    SetUp();
    env_.name = c.name;
    env_.times = 1;
    env_.error = c.error;
    box_.messages.clear();
    box_.Answer({kIdRetry});
    EXPECT_TRUE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, root_)) << c.name;
    EXPECT_FALSE(Exists(root_)) << c.name;
    EXPECT_EQ(box_.messages.size(), 1u) << c.name;
  }
}

TEST_F(DirectoryDeleteTest, UnansweredQuestionGivesUp) {
  env_.name = "stuck";  // no terminal to ask: the box returns 0, which is no Retry
  EXPECT_FALSE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, root_));
  EXPECT_TRUE(Exists(root_ + "/sub/stuck"));
  EXPECT_EQ(box_.messages.size(), 3u);
}

TEST_F(DirectoryDeleteTest, NetworkPathsAndLinksAtTheTop) {
  platform::PathMap& map = platform::PathMap::Instance();
  const std::string old_root = map.UncRoot();
  map.SetUncRoot(dir_.path());
  env_.name = "stuck";
  box_.Answer({kIdCancel, kIdCancel, kIdCancel});
  EXPECT_FALSE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, "\\\\TREE\\sub"));
  map.SetUncRoot(old_root);
  ASSERT_FALSE(box_.messages.empty());
  EXPECT_EQ(box_.messages[0].text.rfind("\\\\TREE\\sub\\stuck cannot be deleted.\n\n", 0), 0u);
  ::symlink((dir_ / "outside").c_str(), (dir_ / "toplink").c_str());
  EXPECT_TRUE(DeleteDirectoryTree(extlib::DefaultContext(), nullptr, dir_ / "toplink"));
  EXPECT_FALSE(Exists(dir_ / "toplink"));
  EXPECT_TRUE(Exists(dir_ / "outside/keep"));
}

}  // namespace
}  // namespace dovrane::fileops
