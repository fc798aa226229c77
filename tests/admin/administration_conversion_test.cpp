#include "admin/administration_conversion.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/sample_installation.h"
#include "extlib/installation/users.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "platform/manual_clock_env.h"
#include "platform/path_map.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"

namespace dovrane::admin {
namespace {

using extlib::PRJ;
using testing::SmallInstallation;

// Dies, as a killed process does, at the nth write, sync or rename.
class KillingEnv : public platform::Env {
 public:
  explicit KillingEnv(int nth) : nth_(nth) {}
  int64_t Write(int fd, const void* buf, size_t n) override { return Step() ? Env::Write(fd, buf, n) : -1; }
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t off) override {
    return Step() ? Env::PWrite(fd, buf, n, off) : -1;
  }
  int Sync(int fd) override { return Step() ? Env::Sync(fd) : -1; }
  int Rename(const std::string& a, const std::string& b) override { return Step() ? Env::Rename(a, b) : -1; }

 private:
  bool Step() {
    if (++calls_ == nth_) ::kill(::getpid(), SIGKILL);
    return true;
  }
  int nth_, calls_ = 0;
};

// Makes a sample installation at inst (no attributes) and points this
// process's administration slot at it.
void UseSampleInstallation(const std::string& inst, int projects, int admin_version) {
  extlib::SampleOptions o;
  o.projects = projects;
  o.admin_version = admin_version;
  o.attribute_projects = 0;
  std::string error;
  ASSERT_EQ(extlib::MakeSampleInstallation(extlib::DefaultContext(), inst, o, &error), 0) << error;
  extlib::close_prj_info_handle(23);
  platform::PathMap::Instance().SetUncRoot(inst + "/unc");
  extlib::lfinipC(extlib::DefaultContext(), 23, "\\\\SRV1\\cad\\Net\\");
}

class AdministrationConversionTest : public ::testing::Test {
 protected:
  std::vector<PRJ> Records(int n) {
    std::vector<PRJ> records;
    for (int i = 1; i <= n; ++i) records.push_back(SmallInstallation::Record("P" + std::to_string(i), i, "SRV1", 1 + i % 3));
    return records;
  }
  std::vector<PRJ> List() {
    extlib::UnCachPrjList(extlib::DefaultContext());
    int count = 0;
    PRJ* list = nullptr;
    std::vector<PRJ> out;
    if (extlib::ltbpliC_new(extlib::DefaultContext(), 23, &count, &list, 0, nullptr) == 0)
      out.assign(list, list + count);
    extlib::ltbpliC_delete(&list);
    return out;
  }
  SmallInstallation inst_;
  testing::RecordingMessenger messages_;
};

TEST_F(AdministrationConversionTest, CurrentAdministrationIsLeftAlone) {
  inst_.WriteAdministration(Records(3), 3);
  const std::string before = inst_.Admin();
  EXPECT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0);
  EXPECT_EQ(inst_.Admin(), before);
  EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Net/project.dat.old"));
}

TEST_F(AdministrationConversionTest, UnknownOrUnreadableVersion) {
  inst_.dir.Write("SRV1/cad/Net/project.dat", " 4n0000001\r\n" + std::string(114, 'x') + "\r\n");
  EXPECT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), -15);
  EXPECT_EQ(messages_.All(), "Unknown version of project administration.\n");
  EXPECT_EQ(messages_.icons.back(), platform::kMbIconError);
  inst_.dir.Write("SRV1/cad/Net/project.dat", " 3n0000001\r\n" + std::string(100, 'x') + "\r\n");
  EXPECT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), -2);
  EXPECT_EQ(messages_.texts.back(), "Project administration can not be opened.\n");
}

// A first line too short for one container must not read as "no containers":
// converting on that guess would throw every record away.
TEST_F(AdministrationConversionTest, FirstLineWithoutAWholeContainerChangesNothing) {
  inst_.WriteAdministration(Records(3), 3);
  for (int cut : {1, 7}) {  // 113 and 107 characters
    std::string file = inst_.Admin();
    const size_t eol = file.find("\r\n", 12);
    file.erase(eol - static_cast<size_t>(cut), static_cast<size_t>(cut));
    inst_.dir.Write("SRV1/cad/Net/project.dat", file);
    EXPECT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), -2) << cut;
    EXPECT_EQ(inst_.Admin(), file) << cut;
    EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Net/project.dat.old")) << cut;
  }
}

TEST_F(AdministrationConversionTest, ContainerChangeClearsTheAddedBitmapAndDropsDeletedRecords) {
  std::vector<PRJ> records = Records(4);
  records[1].name[0] = '#';
  extlib::SetMemberBit(&records[2], 32, true);
  inst_.WriteAdministration(records, 4);
  const std::string before = inst_.Admin();
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0);
  EXPECT_EQ(inst_.dir.Read("SRV1/cad/Net/project.dat.old"), before);
  std::vector<PRJ> after = List();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(extlib::TrimmedName(after[1].name), "P3");  // renumbered from slot 1 without a gap
  EXPECT_TRUE(extlib::MemberBit(after[1], 32));
  const std::string text = inst_.Admin();
  EXPECT_EQ(text.size(), 12u + 3u * 124u);
  EXPECT_EQ(text.substr(12 + 106, 16), "0200000000000000");  // P1: owner 2; the second container clear
  EXPECT_EQ(messages_.notices.size(), 1u);
  EXPECT_EQ(messages_.closed, 1);
}

TEST_F(AdministrationConversionTest, HighestNumberRule) {
  struct Case { uint32_t header, largest, want; } cases[] = {
      {4, 500, 500}, {600, 500, 600}, {4, 9999899, 9999899}, {4, 9999900, 4}, {4, 9999999, 4}};
  for (const Case& c : cases) {
    std::vector<PRJ> records = Records(2);
    records[1].number = c.largest;
    inst_.WriteAdministration(records, c.header);
    inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 1\r\n");
    inst_.containers = 2;  // written for two containers: must be converted back to one
    inst_.WriteAdministration(records, c.header);
    inst_.containers = 1;
    ASSERT_EQ(ConvertAdministration(extlib::DefaultContext()), 0);
    EXPECT_EQ(inst_.Admin().substr(0, 10), " 3" + extlib::NumberText(c.want)) << c.largest;
  }
}

TEST_F(AdministrationConversionTest, UnreadableLineIsNamedAndTheRestKept) {
  inst_.WriteAdministration(Records(5), 5);
  std::string text = inst_.Admin();
  text.replace(12 + 2 * 116 + 52, 1, "x");  // record 3: bad number
  inst_.dir.Write("SRV1/cad/Net/project.dat", text);
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0);
  EXPECT_EQ(List().size(), 4u);
  EXPECT_NE(messages_.All().find("1 line(s) of the old project administration could not be read and are left out: 3"),
            std::string::npos)
      << messages_.All();
}

// Lines that all fail to read mean a misjudged file, not records to drop: an
// empty administration must not replace it, nor its copy the earlier one.
TEST_F(AdministrationConversionTest, NoReadableLineLeavesTheAdministrationAsItIs) {
  inst_.WriteAdministration(Records(3), 3);
  std::string text = inst_.Admin();
  for (size_t at = 12; at < text.size(); at += 116) text.replace(at + 53, 1, "x");  // every number bad
  inst_.dir.Write("SRV1/cad/Net/project.dat", text);
  inst_.dir.Write("SRV1/cad/Net/project.dat.old", "earlier\r\n");
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  EXPECT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), -2);
  EXPECT_EQ(inst_.Admin(), text);
  EXPECT_EQ(inst_.dir.Read("SRV1/cad/Net/project.dat.old"), "earlier\r\n");
  EXPECT_NE(messages_.All().find("none of its 3 line(s) could be read"), std::string::npos) << messages_.All();
  EXPECT_EQ(messages_.icons.back(), platform::kMbIconError);
}

TEST_F(AdministrationConversionTest, LastRecordWithoutItsLineEndIsConverted) {
  inst_.WriteAdministration(Records(3), 3);
  const std::string text = inst_.Admin();
  inst_.dir.Write("SRV1/cad/Net/project.dat", text.substr(0, text.size() - 2));
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0);
  std::vector<PRJ> after = List();
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(extlib::TrimmedName(after[2].name), "P3");
  EXPECT_EQ(messages_.All().find("could not be read"), std::string::npos) << messages_.All();
}

TEST_F(AdministrationConversionTest, RefusedWhileAnotherProcessHoldsARecordLock) {
  inst_.WriteAdministration(Records(3), 3);
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  const std::string before = inst_.Admin();
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  pid_t pid = ::fork();
  if (pid == 0) {  // a workstation that still works on record 2, until the test ends
    int fd = ::open(inst_.Native("SRV1/cad/Net/project.dat").c_str(), O_RDWR);
    platform::CurrentEnv()->Lock(fd, 12 + 116, 116, platform::LockMode::kExclusive, 1000);
    ::write(ready[1], "x", 1);
    char end;
    ::close(done[1]);
    ::read(done[0], &end, 1);
    ::_exit(0);
  }
  ::close(done[0]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  platform::ManualClockEnv clock;  // the conversion's lock wait takes no real time
  platform::SetCurrentEnv(&clock);
  EXPECT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), -7);
  platform::SetCurrentEnv(nullptr);
  ::close(done[1]);
  for (int fd : {ready[0], ready[1]}) ::close(fd);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(inst_.Admin(), before);
  EXPECT_NE(messages_.All().find("another workstation holds a lock"), std::string::npos);
}

TEST_F(AdministrationConversionTest, KilledConversionLeavesOldOrWholeNewAdministration) {
  inst_.WriteAdministration(Records(300), 300);
  const std::string old_text = inst_.Admin();
  inst_.dir.Write("SRV1/cad/Net/users.dat", "containers 2\r\n");
  bool saw_old = false, saw_new = false;
  for (int nth = 1; nth <= 12; ++nth) {
    inst_.dir.Write("SRV1/cad/Net/project.dat", old_text);
    pid_t pid = ::fork();
    if (pid == 0) {
      KillingEnv env(nth);
      platform::SetCurrentEnv(&env);
      ::_exit(ConvertAdministration(extlib::DefaultContext()) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string now = inst_.Admin();
    const bool is_old = now == old_text;
    const bool is_new = now.size() == 12u + 300u * 124u && now.substr(0, 10) == " 3n0000300";
    EXPECT_TRUE(is_old || is_new) << "killed at step " << nth << ", size " << now.size();
    saw_old = saw_old || is_old;
    saw_new = saw_new || is_new;
    ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0) << nth;  // the next run finishes the work
    EXPECT_EQ(List().size(), 300u) << nth;
  }
  EXPECT_TRUE(saw_old);
  EXPECT_TRUE(saw_new);
}

TEST_F(AdministrationConversionTest, Version2SampleInstallationConvertsWithProjectVersions) {
  testing::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(UseSampleInstallation(dir.path() + "/i", 30, 2));
  const std::string old_text = dir.Read("i/unc/SRV1/cad/Net/project.dat");
  ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0);
  EXPECT_EQ(dir.Read("i/unc/SRV1/cad/Net/project.dat.old"), old_text);
  std::vector<PRJ> after = List();
  ASSERT_EQ(after.size(), 30u);
  for (const PRJ& r : after) {
    char folder[96];
    std::snprintf(folder, sizeof folder, "i/unc/%s/cad/Prj/n%07u.prj/version.txt", r.host, r.number);
    EXPECT_EQ(std::to_string(r.version) + "\r\n", dir.Read(folder)) << r.number;
  }
  platform::PathMap::Instance().SetUncRoot(inst_.dir.path());
  extlib::lfinipC(extlib::DefaultContext(), 23, "\\\\SRV1\\cad\\Net\\");
}

}  // namespace
}  // namespace dovrane::admin

namespace dovrane::admin {
namespace {

TEST(OldLayoutConversionTest, DosTextBecomesTheNamesOfTheCurrentLayoutOnce) {
  testing::RecordingMessenger messages;
  testing::TempDir dir;
  std::vector<std::string> current;
  for (int version : {3, 1, 2}) {
    const std::string inst = dir.path() + "/v" + std::to_string(version);
    ASSERT_NO_FATAL_FAILURE(UseSampleInstallation(inst, 40, version));
    if (version == 3) {
      ASSERT_EQ(extlib::ListInstallationProjects(extlib::DefaultContext(), inst, &current), 0);
      continue;
    }
    ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0) << version;
    std::vector<std::string> converted;
    ASSERT_EQ(extlib::ListInstallationProjects(extlib::DefaultContext(), inst, &converted), 0);
    EXPECT_EQ(converted, current) << version;  // the same names, umlauts included
  }
  extlib::close_prj_info_handle(23);
  platform::PathMap::Instance().SetUncRoot("/net");
}

}  // namespace
}  // namespace dovrane::admin

namespace dovrane::admin {
namespace {

TEST(ContainerRoundTripTest, OneToTwoAndBackGivesTheSameAdministration) {
  testing::RecordingMessenger messages;
  testing::TempDir dir;
  ASSERT_NO_FATAL_FAILURE(UseSampleInstallation(dir.path() + "/i", 50, 3));
  const std::string original = dir.Read("i/unc/SRV1/cad/Net/project.dat");
  for (int containers : {2, 1}) {
    ASSERT_EQ(extlib::lzuSetCountOfUserContainers(extlib::DefaultContext(), containers), 0);
    ASSERT_EQ(CheckAdministrationVersion(extlib::DefaultContext()), 0) << containers;
    EXPECT_EQ(dir.Read("i/unc/SRV1/cad/Net/project.dat").size(), 12u + 50u * (containers == 2 ? 124u : 116u));
  }
  EXPECT_EQ(dir.Read("i/unc/SRV1/cad/Net/project.dat"), original);
  EXPECT_TRUE(messages.texts.empty()) << messages.All();  // no line left out
  extlib::close_prj_info_handle(23);
  platform::PathMap::Instance().SetUncRoot("/net");
}

}  // namespace
}  // namespace dovrane::admin
