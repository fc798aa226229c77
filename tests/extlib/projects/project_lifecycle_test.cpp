#include "extlib/projects/project_lifecycle.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string_view>

#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/operation_journal.h"
#include "extlib/projects/project_folder.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

class ProjectLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = Msg2usr_Switch(DefaultContext(), 1);
    inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5), SmallInstallation::Record("Beta", 9, "SRV2")}, 9);
    inst_.MakeProjectFolder("SRV1", 5);
    inst_.MakeProjectFolder("SRV2", 9);
  }
  void TearDown() override { Msg2usr_Switch(DefaultContext(), previous_); }
  int Create(const std::string& name, const std::string& host = "SRV1", uint32_t* number = nullptr) {
    uint32_t n = 0;
    PRJ out;
    int rc = ltbpcrC(DefaultContext(), 23, name, host, nullptr, 0, 0, 0, 0, &out, &n);
    if (number) *number = n;
    return rc;
  }
  // The update's journal pass over the one journal there must be, once the
  // share answers again; kLeft when there is not exactly one.
  JournalOutcome PutTheOneJournalRight() {
    std::vector<std::string> journals;
    if (ListOperationJournals(DefaultContext(), &journals) != 0 || journals.size() != 1) return JournalOutcome::kLeft;
    close_prj_info_handle(23);
    UnCachPrjList(DefaultContext());
    OperationJournal journal;
    return PutJournalRight(DefaultContext(), journals[0], &journal);
  }
  SmallInstallation inst_;
  int previous_ = 0;
};

TEST_F(ProjectLifecycleTest, CreateMakesFolderDataAndRecord) {
  uint32_t n = 0;
  ASSERT_EQ(Create("Neubau", "SRV2", &n), 0);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(inst_.dir.Read("SRV2/cad/Prj/n0000010.prj/version.txt"), "20\r\n");
  uint32_t id = 0;
  PRJ stored, listed;
  ASSERT_EQ(ReadProjectInfo(inst_.Native("SRV2/cad/Prj/n0000010.prj"), &id, &stored), 0);
  ASSERT_EQ(get_project_info(DefaultContext(), "Neubau", &listed), 0);
  EXPECT_EQ(listed.number, 10u);
  EXPECT_EQ(listed.owner, 2u);  // the current user, MUELLER
  EXPECT_TRUE(MemberBit(listed, 2));
  EXPECT_EQ(std::string(stored.name), std::string(listed.name));
  EXPECT_EQ(inst_.Admin().substr(0, 10), " 3n0000010");
  std::string dir;
  ASSERT_EQ(ProjectFolderByNumber(DefaultContext(), 10, &dir), 0);
  EXPECT_EQ(dir, inst_.Native("SRV2/cad/Prj/n0000010.prj"));
}

TEST_F(ProjectLifecycleTest, RefusedCreationWritesNothing) {
  const std::string before = inst_.Admin();
  ::rmdir(inst_.Native("SRV2/cad/Prj/n0000009.prj").c_str());
  struct Case { std::string name, host; int rc; } cases[] = {
      {"a/b", "SRV1", -8}, {"..", "SRV1", -8}, {"x%y", "SRV1", -8}, {"Alpha", "SRV1", -4},
      {"Neu", "SRV9", -19}, {"Neu", "..", -19}, {"Neu", "SRV3", -19},
  };
  for (const Case& c : cases) EXPECT_EQ(Create(c.name, c.host), c.rc) << c.name << " " << c.host;
  ::system(("rm -rf " + inst_.Native("SRV2")).c_str());
  EXPECT_EQ(Create("Neu", "SRV2"), -6);
  EXPECT_EQ(inst_.Admin(), before);
}

TEST_F(ProjectLifecycleTest, NumbersSkipForeignFoldersAndWrapAtTheTop) {
  inst_.MakeProjectFolder("SRV1", 10);  // a folder the administration does not know
  uint32_t n = 0;
  ASSERT_EQ(Create("Eins", "SRV1", &n), 0);
  EXPECT_EQ(n, 11u);
  inst_.WriteAdministration({SmallInstallation::Record("Top", 9999999), SmallInstallation::Record("One", 1)},
                            9999999);
  ASSERT_EQ(Create("Zwei", "SRV1", &n), 0);
  EXPECT_EQ(n, 2u);
}

TEST_F(ProjectLifecycleTest, ACreateCutShortKeepsItsNumberUntilTheUpdate) {
  inst_.dir.Write("SRV1/cad/Net/n0000010.prj.new", "dovrane project create\nSRV1\nn0000010.prj\n");
  inst_.dir.Write("SRV1/cad/Prj/n0000010.prj.new~/version.txt", "20\r\n");
  uint32_t n = 0;
  ASSERT_EQ(Create("Eins", "SRV2", &n), 0);
  EXPECT_EQ(n, 11u);
  EXPECT_TRUE(inst_.dir.Exists("SRV1/cad/Prj/n0000010.prj.new~/version.txt"));  // the update's to judge
  // A create that went through leaves neither journal nor work folder.
  EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Net/n0000011.prj.new"));
  EXPECT_FALSE(inst_.dir.Exists("SRV2/cad/Prj/n0000011.prj.new~"));
  EXPECT_TRUE(inst_.dir.Exists("SRV2/cad/Prj/n0000011.prj/prjinfo.dat"));
}

// The built folder cannot go into place after the record was written.
class FolderStaysOutEnv : public platform::Env {
 public:
  int Rename(const std::string& from, const std::string& to) override {
    return from.ends_with(".prj.new~") ? -EACCES : Env::Rename(from, to);
  }
};

TEST_F(ProjectLifecycleTest, CreateWhoseFolderCannotGoIntoPlaceTakesItsRecordBack) {
  FolderStaysOutEnv env;
  platform::SetCurrentEnv(&env);
  const int rc = Create("Neubau", "SRV2");
  platform::SetCurrentEnv(nullptr);
  EXPECT_EQ(rc, -1);
  PRJ r;
  EXPECT_EQ(get_project_info(DefaultContext(), "Neubau", &r), -3);
  EXPECT_FALSE(inst_.dir.Exists("SRV2/cad/Prj/n0000010.prj"));
  EXPECT_FALSE(inst_.dir.Exists("SRV2/cad/Prj/n0000010.prj.new~"));
  EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Net/n0000010.prj.new"));
  uint32_t n = 0;
  ASSERT_EQ(Create("Neubau", "SRV2", &n), 0);
}

TEST_F(ProjectLifecycleTest, ConcurrentCreatorsGetUniqueNumbersAndLoseNoRecord) {
  constexpr int kProcesses = 4, kEach = 8;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    if (pid == 0) {
      close_prj_info_handle(23);
      UnCachPrjList(DefaultContext());
      int failures = 0;
      for (int i = 0; i < kEach; ++i)
        failures += Create("P" + std::to_string(p) + "-" + std::to_string(i), i % 2 ? "SRV1" : "SRV2") != 0;
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  int count = 0;
  PRJ* list = nullptr;
  ASSERT_EQ(ltbpliC_new(DefaultContext(), 23, &count, &list, 0, nullptr), 0);
  std::set<uint32_t> numbers;
  for (int i = 0; i < count; ++i) numbers.insert(list[i].number);
  ltbpliC_delete(&list);
  EXPECT_EQ(count, 2 + kProcesses * kEach);
  EXPECT_EQ(numbers.size(), static_cast<size_t>(count));
}

TEST_F(ProjectLifecycleTest, RemoveTakesFolderAndRecordTogether) {
  uint32_t n = 0;
  ASSERT_EQ(ltbprmC(DefaultContext(), 23, "Alpha", &n), 0);
  EXPECT_EQ(n, 5u);
  EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Prj/n0000005.prj"));
  PRJ r;
  EXPECT_EQ(get_project_info(DefaultContext(), "Alpha", &r), -3);
  EXPECT_EQ(inst_.Admin()[12], '#');
  ::system(("rm -rf " + inst_.Native("SRV2")).c_str());  // Beta's host is gone
  EXPECT_EQ(ltbprmC(DefaultContext(), 23, "Beta", &n), -6);
  EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &r), 0);
  EXPECT_EQ(Create("Gamma", "SRV1", &n), 0);
  EXPECT_EQ(inst_.Admin().substr(12, 5), "Gamma");  // the freed slot is reused
}

// The administration's share dies right after a record write reached it: the
// flush, the read-back and the put-back fail, while the folder's share answers.
class AdministrationDiesAfterTheRecordEnv : public platform::Env {
 public:
  explicit AdministrationDiesAfterTheRecordEnv(std::string marker) : marker_(std::move(marker)) {}
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset) override {
    if (dead) return -ENOTCONN;
    const int64_t rc = Env::PWrite(fd, buf, n, offset);
    if (std::string_view(static_cast<const char*>(buf), n).starts_with(marker_)) dead = true;
    return rc;
  }
  int64_t PRead(int fd, void* buf, size_t n, int64_t offset) override {
    return dead ? -ENOTCONN : Env::PRead(fd, buf, n, offset);
  }
  int Sync(int fd) override { return dead ? -ENOTCONN : Env::Sync(fd); }
  int Truncate(int fd, int64_t size) override { return dead ? -ENOTCONN : Env::Truncate(fd, size); }
  bool dead = false;

 private:
  std::string marker_;
};

// The erase cannot tell whether its record reached the file: the folder stays
// under its work name with the journal (never back under its own name beside
// a record that says erased), and the journal pass, once the share answers,
// finishes the erase by what the record says.
TEST_F(ProjectLifecycleTest, AnEraseWhoseMarkMayHaveLandedLeavesItToTheJournal) {
  AdministrationDiesAfterTheRecordEnv env("#lpha");
  platform::SetCurrentEnv(&env);
  uint32_t n = 0;
  const int rc = ltbprmC(DefaultContext(), 23, "Alpha", &n);
  platform::SetCurrentEnv(nullptr);
  ASSERT_TRUE(env.dead);
  EXPECT_EQ(rc, kPrjFailed);
  EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Prj/n0000005.prj"));
  EXPECT_EQ(PutTheOneJournalRight(), JournalOutcome::kCompleted);
  PRJ r;
  EXPECT_EQ(get_project_info(DefaultContext(), "Alpha", &r), -3);
  for (const auto& e : std::filesystem::directory_iterator(inst_.Native("SRV1/cad/Prj")))
    EXPECT_EQ(e.path().filename().string().rfind("n0000005", 0), std::string::npos) << e.path();
  EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &r), 0);
}

// The same for a create: its work folder and journal stay, and the journal
// pass puts the folder into place beside the record that reached the file.
TEST_F(ProjectLifecycleTest, ACreateWhoseRecordMayHaveLandedLeavesItToTheJournal) {
  AdministrationDiesAfterTheRecordEnv env("Neubau");
  platform::SetCurrentEnv(&env);
  const int rc = Create("Neubau", "SRV2");
  platform::SetCurrentEnv(nullptr);
  ASSERT_TRUE(env.dead);
  EXPECT_EQ(rc, kPrjFailed);
  EXPECT_FALSE(inst_.dir.Exists("SRV2/cad/Prj/n0000010.prj"));
  EXPECT_EQ(PutTheOneJournalRight(), JournalOutcome::kCompleted);
  PRJ r;
  ASSERT_EQ(get_project_info(DefaultContext(), "Neubau", &r), 0);
  EXPECT_EQ(r.number, 10u);
  EXPECT_TRUE(inst_.dir.Exists("SRV2/cad/Prj/n0000010.prj/version.txt"));
}

TEST_F(ProjectLifecycleTest, RenameKeepsNamesUnique) {
  int result = 0;
  std::string buffer;
  EXPECT_EQ(ltbpreC(DefaultContext(), 23, "Alpha", "Beta", &buffer, &result), -4);
  EXPECT_EQ(result, -4);
  EXPECT_EQ(ltbpreC(DefaultContext(), 23, "Alpha", "a\\b", &buffer, &result), -8);
  EXPECT_EQ(ltbpreC(DefaultContext(), 23, "Nobody", "Neu", &buffer, &result), -3);
  ASSERT_EQ(ltbpreC(DefaultContext(), 23, "Alpha", "Alpha 2", &buffer, &result), 0);
  PRJ r;
  ASSERT_EQ(get_project_info(DefaultContext(), "Alpha 2", &r), 0);
  EXPECT_EQ(r.number, 5u);
}

TEST_F(ProjectLifecycleTest, CopyTakesTheSourceFolder) {
  inst_.dir.Write("SRV1/cad/Prj/n0000005.prj/plan.dat", "walls");
  PRJ source, out;
  ASSERT_EQ(get_project_info(DefaultContext(), "Alpha", &source), 0);
  uint32_t n = 0;
  ASSERT_EQ(ltbpcpC(DefaultContext(), source, "SRV2", "Alpha Kopie", nullptr, 0, 1, &out, &n), 0);
  EXPECT_EQ(inst_.dir.Read("SRV2/cad/Prj/n0000010.prj/plan.dat"), "walls");
  EXPECT_EQ(std::string(out.host), "SRV2");
  EXPECT_EQ(ltbpcpC(DefaultContext(), source, "", "Alpha Kopie", nullptr, 0, 1, &out, &n), -4);
}

}  // namespace
}  // namespace dovrane::extlib
