// Moving projects between hosts: through the real program, and in this
// process for the failures that need an injected fault.
#include "app/projects/project_move.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>

#include "admin/move_journal.h"
#include "app/command_table.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/fault_injection_env.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"
#include "support/session_lock.h"

namespace dovrane::app {
namespace {

using testing::Exists;

class ProjectMoveTest : public ::testing::Test {
 protected:
  std::string HostOf(uint32_t number) {
    extlib::PRJ r;
    EXPECT_TRUE(site_.Record(number, &r));
    return r.host;
  }
  // A host the project is not on.
  std::string OtherHost(uint32_t number) { return HostOf(number) == "SRV1" ? "SRV2" : "SRV1"; }
  testing::SampleSite site_{12};
};

TEST_F(ProjectMoveTest, MoveTakesFolderAndRecordToTheTargetHost) {
  for (uint32_t number : {1u, 2u}) {
    const std::string from = HostOf(number), to = OtherHost(number);
    const char* option = number == 1 ? "-move" : "-move_y";
    // The host is found whatever the letter case typed.
    std::string typed = to;
    if (number == 2) typed[0] = 's';
    auto r = site_.Run({site_.Name(number), option, typed});
    ASSERT_EQ(r.status, 0) << option << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(HostOf(number), to);
    EXPECT_FALSE(Exists(site_.ProjectDir(from, number)));
    EXPECT_TRUE(Exists(site_.ProjectDir(to, number) + "/objects.dat"));
    uint32_t net_id = 0;
    extlib::PRJ stored;
    ASSERT_EQ(extlib::ReadProjectInfo(site_.ProjectDir(to, number), &net_id, &stored), 0);
    EXPECT_STREQ(stored.host, to.c_str());
  }
}

TEST_F(ProjectMoveTest, RefusedMovesChangeNothing) {
  site_.EditRecord(5, [](extlib::PRJ* r) { r->owner = 3; });
  const std::string host3 = HostOf(3), other3 = OtherHost(3);
  std::filesystem::create_directories(site_.ProjectDir(other3, 3));
  struct Case {
    uint32_t number;
    std::string host, user;
    int status;
    std::string out, err;
  };
  const Case cases[] = {
      {4, HostOf(4), "admin", 255, "The project " + site_.Name(4) + " already exists.\n", ""},
      {3, other3, "admin", 252, "",
       "Can't move project because the destination path\n\\\\" + other3 + "\\cad\\Prj\\n0000003.prj\n"
       " already exists on host <" + other3 + ">\n"},
      {6, "SRV9", "admin", 256 - 19, "", "Can't find the host <SRV9> in the administration.\n"},
      {6, "S%s%n", "admin", 256 - 19, "", "Can't find the host <S%s%n> in the administration.\n"},
      {5, OtherHost(5), "mueller", 256 - 14, "", "You do not have owner's rights to the project\n"},
  };
  for (const Case& c : cases) {
    const std::string before = HostOf(c.number);
    auto r = site_.Run({site_.Name(c.number), "-move", c.host}, c.user);
    EXPECT_EQ(r.status, c.status) << c.number;
    EXPECT_EQ(r.out, c.out) << c.number;
    EXPECT_EQ(r.err, c.err) << c.number;
    EXPECT_EQ(HostOf(c.number), before) << c.number;
    EXPECT_TRUE(Exists(site_.ProjectDir(before, c.number) + "/objects.dat")) << c.number;
  }
  auto r = site_.Run({"Nobody", "-move", "SRV1"});
  EXPECT_EQ(r.status, 253);
  EXPECT_EQ(r.err, "Project does not exist\n");
}

TEST_F(ProjectMoveTest, UnreachableTargetHostIsReported) {
  const std::string to = OtherHost(7);
  std::filesystem::remove_all(site_.root() + "/unc/" + to + "/cad/Prj");
  auto r = site_.Run({site_.Name(7), "-move", to});
  EXPECT_EQ(r.status, 256 - 6);
  EXPECT_EQ(r.err, "No access to host <" + to + ">\n");
}

TEST_F(ProjectMoveTest, OwnerMayMoveHisOwnProject) {
  site_.EditRecord(8, [](extlib::PRJ* r) { r->owner = 2; });
  const std::string to = OtherHost(8);
  auto r = site_.Run({site_.Name(8), "-move", to}, "mueller");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(HostOf(8), to);
}

TEST_F(ProjectMoveTest, FailedRecordWriteBringsTheFolderBack) {
  const std::string from = HostOf(9), to = OtherHost(9);
  site_.Activate();
  testing::RecordingMessenger messages;
  platform::FaultInjectionEnv faults;
  platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kWrite, 2, EIO);  // the record's write (the first is the move journal)
  int rc = MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(9)), to);
  platform::SetCurrentEnv(nullptr);
  EXPECT_TRUE(faults.Fired());
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(HostOf(9), from);
  EXPECT_TRUE(Exists(site_.ProjectDir(from, 9) + "/objects.dat"));
  EXPECT_FALSE(Exists(site_.ProjectDir(to, 9)));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text.rfind("Can't write the record of project <", 0), 0u);
  EXPECT_FALSE(Exists(site_.NetDir() + "/n0000009.mov"));  // put back: nothing left to put right
  // The record lock was released: another process moves the project at once.
  auto r = site_.Run({site_.Name(9), "-move", to});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(HostOf(9), to);
}

TEST_F(ProjectMoveTest, FailedFolderMoveKeepsTheProject) {
  const std::string from = HostOf(10), to = OtherHost(10);
  site_.Activate();
  testing::RecordingMessenger messages;
  platform::FaultInjectionEnv faults;
  platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kRename, 2, EACCES);  // the folder's (the first puts the journal in place)
  int rc = MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(10)), to);
  platform::SetCurrentEnv(nullptr);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(HostOf(10), from);
  EXPECT_TRUE(Exists(site_.ProjectDir(from, 10) + "/objects.dat"));
  ASSERT_GE(messages.messages.size(), 1u);
  EXPECT_NE(messages.messages[0].text.find(" -> "), std::string::npos);
  EXPECT_NE(messages.messages[0].text.find("Permission denied"), std::string::npos);
}

// Hosts on different file systems: a rename between two hosts fails with
// EXDEV, and the record's write can be made to fail.
class HostsApartEnv : public platform::Env {
 public:
  int Rename(const std::string& from, const std::string& to) override {
    if (HostOf(from) != HostOf(to)) return -EXDEV;
    return Env::Rename(from, to);
  }
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset) override {
    return fail_record_write ? -EIO : Env::PWrite(fd, buf, n, offset);
  }
  bool fail_record_write = false;

 private:
  static std::string HostOf(const std::string& path) {
    size_t at = path.find("/unc/");
    return at == std::string::npos ? "" : path.substr(at + 5, path.find('/', at + 5) - at - 5);
  }
};

// Moves a project between hosts on different file systems, in this process.
int MoveApart(testing::SampleSite& site, uint32_t number, const std::string& to) {
  site.Activate();
  HostsApartEnv env;
  platform::SetCurrentEnv(&env);
  int rc = MoveProject(extlib::DefaultContext(), PadProjectName(site.Name(number)), to);
  platform::SetCurrentEnv(nullptr);
  return rc;
}

TEST_F(ProjectMoveTest, AcrossFileSystemsTheSourceStaysUntilTheRecordNamesTheCopy) {
  const std::string from11 = HostOf(11), to11 = OtherHost(11);
  const std::string from12 = HostOf(12), to12 = OtherHost(12);
  site_.Activate();
  testing::RecordingMessenger messages;
  HostsApartEnv env;
  platform::SetCurrentEnv(&env);
  EXPECT_EQ(MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(11)), to11), 0);
  env.fail_record_write = true;
  EXPECT_EQ(MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(12)), to12), -1);
  platform::SetCurrentEnv(nullptr);
  // Moved: the copy is complete and the source gone.
  EXPECT_EQ(HostOf(11), to11);
  EXPECT_TRUE(Exists(site_.ProjectDir(to11, 11) + "/objects.dat"));
  EXPECT_FALSE(Exists(site_.ProjectDir(from11, 11)));
  // Record not written: the source is whole and the copy removed again.
  EXPECT_EQ(HostOf(12), from12);
  EXPECT_TRUE(Exists(site_.ProjectDir(from12, 12) + "/objects.dat"));
  EXPECT_FALSE(Exists(site_.ProjectDir(to12, 12)));
  for (const auto& e : std::filesystem::directory_iterator(site_.root() + "/unc/" + to12 + "/cad/Prj"))
    EXPECT_EQ(e.path().string().find(".mov~"), std::string::npos) << e.path();
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text.rfind("Can't write the record of project <", 0), 0u);
  EXPECT_FALSE(Exists(site_.NetDir() + "/n0000009.mov"));  // put back: nothing left to put right
}

TEST_F(ProjectMoveTest, AcrossFileSystemsLinksModesAndTimesComeAlong) {
  const std::string from = HostOf(3), to = OtherHost(3), dir = site_.ProjectDir(from, 3);
  std::filesystem::create_directories(dir + "/plans");
  std::filesystem::create_symlink("../objects.dat", dir + "/plans/current");
  std::filesystem::create_symlink("/nowhere/at/all", dir + "/dangling");
  ::chmod((dir + "/objects.dat").c_str(), 0640);
  ::chmod((dir + "/plans").c_str(), 0750);
  struct stat before = {};
  ASSERT_EQ(::lstat((dir + "/objects.dat").c_str(), &before), 0);
  testing::RecordingMessenger messages;
  EXPECT_EQ(MoveApart(site_, 3, to), 0);
  const std::string moved = site_.ProjectDir(to, 3);
  EXPECT_EQ(std::filesystem::read_symlink(moved + "/plans/current"), "../objects.dat");
  EXPECT_EQ(std::filesystem::read_symlink(moved + "/dangling"), "/nowhere/at/all");
  struct stat file = {}, folder = {};
  ASSERT_EQ(::lstat((moved + "/objects.dat").c_str(), &file), 0);
  ASSERT_EQ(::lstat((moved + "/plans").c_str(), &folder), 0);
  EXPECT_EQ(file.st_mode & 07777, 0640u);
  EXPECT_EQ(folder.st_mode & 07777, 0750u);
  EXPECT_EQ(file.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(file.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_FALSE(Exists(dir));
}

TEST_F(ProjectMoveTest, AcrossFileSystemsAnEntryThatCannotBeCopiedKeepsTheSource) {
  const std::string from = HostOf(4), to = OtherHost(4), dir = site_.ProjectDir(from, 4);
  ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
  testing::RecordingMessenger messages;
  EXPECT_EQ(MoveApart(site_, 4, to), -1);
  EXPECT_EQ(HostOf(4), from);
  EXPECT_TRUE(Exists(dir + "/objects.dat"));
  EXPECT_TRUE(Exists(dir + "/pipe"));
  EXPECT_FALSE(Exists(site_.ProjectDir(to, 4)));
  for (const auto& e : std::filesystem::directory_iterator(site_.root() + "/unc/" + to + "/cad/Prj"))
    EXPECT_EQ(e.path().string().find(".mov~"), std::string::npos) << e.path();
  ASSERT_GE(messages.messages.size(), 1u);
  EXPECT_NE(messages.messages[0].text.find(" -> "), std::string::npos);
  EXPECT_NE(messages.messages[0].text.find("not supported"), std::string::npos) << messages.messages[0].text;
}

TEST_F(ProjectMoveTest, FailedWriteOfTheStoredRecordIsReported) {
  const std::string to = OtherHost(5);
  site_.Activate();
  testing::RecordingMessenger messages;
  platform::FaultInjectionEnv faults;
  platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kRename, 3, EIO);  // journal, folder, then prjinfo.dat
  int rc = MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(5)), to);
  platform::SetCurrentEnv(nullptr);
  EXPECT_TRUE(faults.Fired());
  EXPECT_EQ(rc, -1);
  // The record and the folder agree: both on the new host.
  EXPECT_EQ(HostOf(5), to);
  EXPECT_TRUE(Exists(site_.ProjectDir(to, 5) + "/objects.dat"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_NE(messages.messages[0].text.find("prjinfo.dat"), std::string::npos);
  EXPECT_NE(messages.messages[0].text.find("Input/output error"), std::string::npos);
}

// Across file systems, with the new folder taken away (by a person, or a
// share that died) right before the move writes its stored record there.
class CopyTakenAwayEnv : public HostsApartEnv {
 public:
  int Open(const std::string& path, int flags, mode_t mode) override {
    if (!victim.empty() && path.rfind(victim + "/prjinfo", 0) == 0) {
      std::filesystem::remove_all(victim);
      victim.clear();
    }
    return HostsApartEnv::Open(path, flags, mode);
  }
  std::string victim;  // native
};

// The copy gone before the move could finish it: the source is the project
// still, so it stays and the record names it again; nothing is lost.
TEST_F(ProjectMoveTest, ACopyTakenAwayBeforeTheMoveEndedKeepsTheSource) {
  const std::string from = HostOf(11), to = OtherHost(11);
  site_.Activate();
  testing::RecordingMessenger messages;
  CopyTakenAwayEnv env;
  env.victim = site_.ProjectDir(to, 11);
  platform::SetCurrentEnv(&env);
  const int rc = MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(11)), to);
  platform::SetCurrentEnv(nullptr);
  EXPECT_TRUE(env.victim.empty());  // it was taken away
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(HostOf(11), from);
  EXPECT_TRUE(Exists(site_.ProjectDir(from, 11) + "/objects.dat"));
  EXPECT_FALSE(Exists(site_.ProjectDir(to, 11)));
  EXPECT_FALSE(Exists(site_.NetDir() + "/n0000011.mov"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_NE(messages.messages[0].text.find(site_.Name(11)), std::string::npos) << messages.messages[0].text;
}

// Across file systems; the administration's share dies right after the moved
// record reached it: the flush, the read-back and the put-back fail.
class AdministrationDiesAfterTheMoveEnv : public HostsApartEnv {
 public:
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset) override {
    if (dead) return -ENOTCONN;
    const int64_t rc = HostsApartEnv::PWrite(fd, buf, n, offset);
    if (std::string_view(static_cast<const char*>(buf), n).find(marker) != std::string_view::npos) dead = true;
    return rc;
  }
  int64_t PRead(int fd, void* buf, size_t n, int64_t offset) override {
    return dead ? -ENOTCONN : HostsApartEnv::PRead(fd, buf, n, offset);
  }
  int Sync(int fd) override { return dead ? -ENOTCONN : HostsApartEnv::Sync(fd); }
  int Truncate(int fd, int64_t size) override { return dead ? -ENOTCONN : HostsApartEnv::Truncate(fd, size); }
  std::string marker;
  bool dead = false;
};

// The move cannot tell which host its record names: neither folder goes and
// the journal stays; once the share answers, the update finishes the move by
// what the record says, and the project is whole on the new host.
TEST_F(ProjectMoveTest, AMoveThatCannotTellWhetherItsRecordLandedLeavesBothFolders) {
  const std::string from = HostOf(11), to = OtherHost(11);
  site_.Activate();
  testing::RecordingMessenger messages;
  AdministrationDiesAfterTheMoveEnv env;
  env.marker = site_.Name(11);
  platform::SetCurrentEnv(&env);
  const int rc = MoveProject(extlib::DefaultContext(), PadProjectName(site_.Name(11)), to);
  platform::SetCurrentEnv(nullptr);
  ASSERT_TRUE(env.dead);
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(Exists(site_.ProjectDir(from, 11) + "/objects.dat"));
  EXPECT_TRUE(Exists(site_.ProjectDir(to, 11) + "/objects.dat"));
  EXPECT_TRUE(Exists(site_.NetDir() + "/n0000011.mov"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text.rfind("Can't tell whether the record of project <", 0), 0u)
      << messages.messages[0].text;
  extlib::UnCachPrjList(extlib::DefaultContext());
  EXPECT_EQ(admin::CompleteInterruptedMoves(extlib::DefaultContext()), 1);
  EXPECT_EQ(HostOf(11), to);
  EXPECT_FALSE(Exists(site_.ProjectDir(from, 11)));
  EXPECT_TRUE(Exists(site_.ProjectDir(to, 11) + "/objects.dat"));
  EXPECT_FALSE(Exists(site_.NetDir() + "/n0000011.mov"));
}

// A CAD session holds the lock on the project's lock information file.
TEST_F(ProjectMoveTest, OpenProjectIsNotMoved) {
  const std::string from = HostOf(6), to = OtherHost(6);
  testing::SessionLock session(site_.ProjectDir(from, 6) + "/project.lck", F_RDLCK);
  ASSERT_TRUE(session.held());
  auto r = site_.Run({site_.Name(6), "-move", to});
  EXPECT_EQ(r.status, 256 - 7);
  EXPECT_NE((r.out + r.err).find("in use"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(HostOf(6), from);
  EXPECT_TRUE(Exists(site_.ProjectDir(from, 6) + "/objects.dat"));
  session.Release();
  EXPECT_EQ(site_.Run({site_.Name(6), "-move", to}).status, 0);
}

}  // namespace
}  // namespace dovrane::app
