#include "network/host_registration.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>

#include "admin/repair_fixture.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "platform/fault_injection_env.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"

namespace dovrane::network {
namespace {

constexpr char kCfg[] = "SRV1/cad/Net/data.cfg";
constexpr char kAdmin[] = "SRV1/cad/Net/project.dat";

class HostRegistrationTest : public ::testing::Test {
 protected:
  std::string Cfg() const { return inst_.dir.Read(kCfg); }
  testing::SmallInstallation inst_;
  testing::RecordingMessenger messages_;
};

TEST_F(HostRegistrationTest, RegisterAppendsTheHostsLineOrRefuses) {
  struct Case {
    const char *before, *unc, *after;
    int rc;
  } cases[] = {
      {"SRV1 \\cad\n", "\\\\SRV3\\Daten\\Cad", "SRV1 \\cad\nSRV3 \\Daten\\Cad\n", 1},
      {"SRV1 \\cad\n", "\\\\SRV3", "SRV1 \\cad\nSRV3\n", 1},
      {"SRV1 \\cad", "\\\\SRV3\\x", "SRV1 \\cad\nSRV3 \\x\n", 1},  // written by check-out: no line end
      {"SRV1 \\cad\nsrv3\t\\old\n", "\\\\SRV3\\x", "SRV1 \\cad\nsrv3\t\\old\n", 0},
      {"SRV1 \\cad\n", "\\SRV3\\x", "SRV1 \\cad\n", 0},
      {"SRV1 \\cad\n", "\\\\SRV3\\..\\..\\etc", "SRV1 \\cad\n", 0},
      {"SRV1 \\cad\n", "\\\\SR/V3\\x", "SRV1 \\cad\n", 0},
  };
  for (const Case& c : cases) {
    inst_.dir.Write(kCfg, c.before);
    EXPECT_EQ(RegisterHostInDataCfg(extlib::DefaultContext(), c.unc), c.rc) << c.unc;
    EXPECT_EQ(Cfg(), c.after) << c.unc;
  }
  // Only the listed host is named, with its path.
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_NE(messages_.texts[0].find("\\old"), std::string::npos) << messages_.texts[0];
}

TEST_F(HostRegistrationTest, UnregisterDropsEveryLineOfTheHostAndItsMarker) {
  inst_.dir.Write(kCfg, "SRV1 \\cad\r\nSRV9\nsrv2\t\\cad\n\nSRV2 \\other\nSRV20 \\cad\n");
  inst_.dir.Write("SRV2/cad/Prj/project.srv", "SRV1");
  inst_.dir.Write("SRV2/other/Prj/project.srv", "SRV1");
  EXPECT_EQ(UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV2"), 1);
  // A host without a data path is a valid line and stays.
  EXPECT_EQ(Cfg(), "SRV1 \\cad\nSRV9\nSRV20 \\cad\n");
  EXPECT_FALSE(inst_.dir.Exists("SRV2/cad/Prj/project.srv"));
  EXPECT_TRUE(inst_.dir.Exists("SRV2/other/Prj/project.srv"));  // the first line's path only
  EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(HostRegistrationTest, UnregisterNeverDeletesOutsideTheHostForAHostilePath) {
  inst_.dir.Write(kCfg, "SRV1 \\cad\nSRV2 \\..\\SRV1\\cad\n");
  inst_.dir.Write("SRV1/cad/Prj/project.srv", "SRV1");
  EXPECT_EQ(UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV2"), 1);
  EXPECT_EQ(Cfg(), "SRV1 \\cad\n");
  EXPECT_TRUE(inst_.dir.Exists("SRV1/cad/Prj/project.srv"));
}

TEST_F(HostRegistrationTest, RemoveKeepsEveryOtherLineByteForByte) {
  inst_.WriteAdministration({testing::SmallInstallation::Record("Halle 100% fertig", 1, "SRV1"),
                             testing::SmallInstallation::Record("Anbau", 2, "SRV10"),
                             testing::SmallInstallation::Record("Keller", 3, "srv1"),
                             testing::SmallInstallation::Record("Dach %s %n", 4, "SRV2")},
                            4);
  const std::string before = inst_.Admin();
  std::string expected;
  for (size_t start = 0; start < before.size();) {
    size_t end = before.find('\n', start) + 1;
    std::string line = before.substr(start, end - start);
    if (line.find("Halle") == std::string::npos && line.find("Keller") == std::string::npos) expected += line;
    start = end;
  }
  EXPECT_EQ(HostMarker("SRV1"), "SRV1            @");
  EXPECT_EQ(RemoveHostFromAdministration(extlib::DefaultContext(), "SRV1"), 1);
  EXPECT_EQ(inst_.Admin(), expected);
  EXPECT_FALSE(inst_.dir.Exists("SRV1/cad/Net/project.dat.new"));
}

TEST_F(HostRegistrationTest, AProjectLineIsTheHostsOnlyByItsHostField) {
  inst_.WriteAdministration({testing::SmallInstallation::Record("SRV1             im Namen", 1, "SRV10")}, 1);
  const std::string admin = inst_.Admin();
  const std::string line = admin.substr(admin.find('\n') + 1);
  EXPECT_TRUE(IsProjectLineOfHost(line, "srv10"));
  for (const char* other : {"SRV1", "SRV", "", "SRV10SRV10SRV10SRV10"}) EXPECT_FALSE(IsProjectLineOfHost(line, other)) << other;
  EXPECT_FALSE(IsProjectLineOfHost(" 3n0000001\r\n", "SRV1"));
}

TEST_F(HostRegistrationTest, RemoveWaitsForNoRecordLockAndRefusesWhileOneIsHeld) {
  inst_.WriteAdministration({testing::SmallInstallation::Record("Halle", 1, "SRV1")}, 1);
  const std::string before = inst_.Admin();
  extlib::SetRecordLockTimeoutMs(100);
  // Another workstation holds a record: the whole file cannot be taken.
  const int fd = platform::CurrentEnv()->Open(inst_.Native(kAdmin), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(platform::CurrentEnv()->Lock(fd, 200, 10, platform::LockMode::kExclusive, 100), 0);
  EXPECT_EQ(RemoveHostFromAdministration(extlib::DefaultContext(), "SRV1"), 0);
  platform::CurrentEnv()->Close(fd);
  EXPECT_EQ(inst_.Admin(), before);
  EXPECT_EQ(messages_.texts.size(), 1u);
}

// Each writing operation, failed at every call of every kind: the file keeps
// its old contents or holds the new ones whole, and a failure is never 1.
struct Writing {
  const char* name;
  const char* file;
  std::function<int()> run;
};

// A removal backs up data.cfg and project.dat once, before its first write;
// without a backup neither step writes.
TEST_F(HostRegistrationTest, RemovalBacksUpTheSharedFilesFirstAndStopsWithoutABackup) {
  inst_.WriteAdministration({testing::SmallInstallation::Record("Halle", 1, "SRV2")}, 1);
  const std::string admin = inst_.Admin(), cfg = "SRV1 \\cad\nSRV2 \\cad\n";
  inst_.dir.Write(kCfg, cfg);
  const Writing steps[] = {
      {"unregister", kCfg, [] { return UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV2"); }},
      {"remove", kAdmin, [] { return RemoveHostFromAdministration(extlib::DefaultContext(), "SRV2"); }}};
  for (const Writing& step : steps) {
    platform::FaultInjectionEnv faulty;
    faulty.Arm(platform::FaultPoint::kMkDir, 1, ENOSPC);
    platform::Env* previous = platform::SetCurrentEnv(&faulty);
    EXPECT_EQ(step.run(), 0) << step.name;
    platform::SetCurrentEnv(previous);
    EXPECT_EQ(inst_.dir.Read(kCfg) + inst_.Admin(), cfg + admin) << step.name;
  }
  ASSERT_EQ(UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV2"), 1);
  ASSERT_EQ(RemoveHostFromAdministration(extlib::DefaultContext(), "SRV2"), 1);
  std::vector<std::filesystem::path> sets;
  for (const auto& e : std::filesystem::directory_iterator(inst_.Native("SRV1/cad/Net/backup"))) sets.push_back(e);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(testing::ReadFile(sets[0] / "data.cfg") + testing::ReadFile(sets[0] / "project.dat"), cfg + admin);
}

TEST_F(HostRegistrationTest, EveryFailurePointLeavesTheOldOrTheNewFile) {
  inst_.WriteAdministration({testing::SmallInstallation::Record("Halle", 1, "SRV1"),
                             testing::SmallInstallation::Record("Anbau", 2, "SRV2")},
                            2);
  const std::string admin = inst_.Admin();
  const Writing ops[] = {
      {"register", kCfg, [] { return RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\SRV3\\cad"); }},
      {"unregister", kCfg, [] { return UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV2"); }},
      {"remove", kAdmin, [] { return RemoveHostFromAdministration(extlib::DefaultContext(), "SRV2"); }},
  };
  using platform::FaultPoint;
  for (const Writing& op : ops) {
    inst_.dir.Write(kCfg, "SRV1 \\cad\nSRV2 \\cad");
    inst_.dir.Write(kAdmin, admin);
    const std::string old_text = inst_.dir.Read(op.file);
    ASSERT_EQ(op.run(), 1) << op.name;
    const std::string new_text = inst_.dir.Read(op.file);
    for (FaultPoint point : {FaultPoint::kOpen, FaultPoint::kWrite, FaultPoint::kSync, FaultPoint::kClose,
                             FaultPoint::kRename}) {
      for (int n = 1;; ++n) {
        inst_.dir.Write(kCfg, "SRV1 \\cad\nSRV2 \\cad");
        inst_.dir.Write(kAdmin, admin);
        extlib::close_prj_info_handle(extlib::kSlotNet);
        platform::FaultInjectionEnv faulty;
        faulty.Arm(point, n, ENOSPC);
        platform::Env* previous = platform::SetCurrentEnv(&faulty);
        const int rc = op.run();
        platform::SetCurrentEnv(previous);
        const std::string now = inst_.dir.Read(op.file);
        if (!faulty.Fired()) break;
        EXPECT_TRUE(rc == 1 ? now == new_text : now == old_text) << op.name << " " << int(point) << " #" << n;
      }
    }
  }
}

TEST_F(HostRegistrationTest, AKillAtEveryWriteOrRenameLeavesTheOldOrTheNewFile) {
  inst_.WriteAdministration({testing::SmallInstallation::Record("Halle", 1, "SRV1")}, 1);
  const std::string admin = inst_.Admin();
  const Writing ops[] = {
      {"unregister", kCfg, [] { return UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV1"); }},
      {"remove", kAdmin, [] { return RemoveHostFromAdministration(extlib::DefaultContext(), "SRV1"); }},
  };
  using platform::FaultInjectionEnv;
  using platform::FaultPoint;
  for (const Writing& op : ops) {
    inst_.dir.Write(kCfg, "SRV1 \\cad\nSRV2 \\cad\n");
    inst_.dir.Write(kAdmin, admin);
    ASSERT_EQ(op.run(), 1) << op.name;
    const std::string new_text = inst_.dir.Read(op.file);
    for (auto [point, how] : {std::pair{FaultPoint::kWrite, FaultInjectionEnv::kKill},
                              std::pair{FaultPoint::kRename, FaultInjectionEnv::kKill},
                              std::pair{FaultPoint::kRename, FaultInjectionEnv::kKillAfter}}) {
      inst_.dir.Write(kCfg, "SRV1 \\cad\nSRV2 \\cad\n");
      inst_.dir.Write(kAdmin, admin);
      const std::string old_text = inst_.dir.Read(op.file);
      const pid_t child = fork();
      if (child == 0) {
        FaultInjectionEnv faulty;
        faulty.Arm(point, 1, how);
        platform::SetCurrentEnv(&faulty);
        _exit(op.run() == 1 ? 0 : 1);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status)) << op.name;
      const std::string now = inst_.dir.Read(op.file);
      EXPECT_TRUE(now == old_text || now == new_text) << op.name << ": " << now;
    }
  }
}

class HostAdministrationTest : public admin::RepairTest {
 protected:
  void SetUp() override { MakeInstallation(2, 6); }
};

TEST_F(HostAdministrationTest, AddingFillsTheAdministrationAndWritesTheMarker) {
  // A third host with a project copied in by hand, then added.
  const std::string source = Folder("SRV2", OnHost("SRV2").number);
  std::filesystem::create_directories(Unc("SRV3/Daten/Prj"));
  std::filesystem::copy(source, Unc("SRV3/Daten/Prj/Carport.prj"), std::filesystem::copy_options::recursive);
  ASSERT_EQ(RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\SRV3\\Daten"), 1);
  EXPECT_EQ(AddHostToAdministration(quiet_, "\\Daten", "\\\\SRV3"), 1);
  EXPECT_EQ(testing::ReadFile(Unc("SRV3/Daten/Prj/project.srv")), "SRV1");
  EXPECT_NE(Admin().find(HostMarker("SRV3")), std::string::npos) << Admin();
  // Removal takes all three away again.
  ASSERT_EQ(UnregisterHostInDataCfg(extlib::DefaultContext(), "srv3"), 1);
  ASSERT_EQ(RemoveHostFromAdministration(extlib::DefaultContext(), "SRV3"), 1);
  EXPECT_EQ(Admin().find(HostMarker("SRV3")), std::string::npos);
  EXPECT_FALSE(testing::Exists(Unc("SRV3/Daten/Prj/project.srv")));
  EXPECT_EQ(testing::ReadFile(Unc("SRV1/cad/Net/data.cfg")).find("SRV3"), std::string::npos);
}

// Workstations adding and removing hosts at the same time, each a process of
// its own: every line added is there and the one removed is gone. The host
// list's folder answers slowly, so each writer's read and rename lie far
// apart and meet the others' (without the list's lock, the writers that read
// the same list overwrite each other's lines).
TEST_F(HostRegistrationTest, WritersInProcessesOfTheirOwnKeepEveryOthersLine) {
  inst_.dir.Write(kCfg, "SRV1 \\cad\nSRV2 \\cad\n");
  extlib::SetRecordLockTimeoutMs(20000);
  constexpr int kAdders = 6;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (int w = 0; w <= kAdders; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(go[1]);
      platform::FaultInjectionEnv slow;
      slow.SetPathDelay(inst_.Native("SRV1/cad/Net"), 25);
      (void)platform::SetCurrentEnv(&slow);
      char byte;
      if (::read(go[0], &byte, 1) != 0) ::_exit(3);  // all start when the pipe closes
      // The last one removes a host while the others add theirs.
      const int rc = w == kAdders
                         ? UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV2")
                         : RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\ADD" + std::to_string(w) + "\\cad");
      ::_exit(rc == 1 ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(go[0]);
  ::close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
  }
  extlib::SetRecordLockTimeoutMs(10000);
  const std::string cfg = Cfg();
  for (int w = 0; w < kAdders; ++w)
    EXPECT_NE(cfg.find("ADD" + std::to_string(w) + " \\cad\n"), std::string::npos) << w << ": " << cfg;
  EXPECT_EQ(cfg.find("SRV2"), std::string::npos) << cfg;
  EXPECT_EQ(cfg.rfind("SRV1 \\cad\n", 0), 0u) << cfg;
  EXPECT_EQ(std::count(cfg.begin(), cfg.end(), '\n'), kAdders + 1) << cfg;
  for (const auto& e : std::filesystem::directory_iterator(inst_.Native("SRV1/cad/Net")))
    EXPECT_EQ(e.path().filename().string().find("data.cfg.new~"), std::string::npos) << e.path();
}

// Registration and removal, done or refused, each leave one audit line.
TEST_F(HostAdministrationTest, RegistrationAndRemovalLeaveOneAuditLineEach) {
  std::filesystem::create_directories(Unc("SRV3/Daten/Prj"));
  const std::pair<std::function<void()>, const char*> commands[] = {
      {[&] {
         if (RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\SRV3\\Daten") == 1)
           (void)AddHostToAdministration(quiet_, "\\Daten", "\\\\SRV3");
       },
       "\tregister host \\\\SRV3\\Daten\t0\tOK\r\n"},
      {[] { (void)RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\srv3\\Daten"); },
       "\tregister host \\\\srv3\\Daten\t1\tfailed\r\n"},
      {[] {
         if (UnregisterHostInDataCfg(extlib::DefaultContext(), "SRV3") == 1)
           (void)RemoveHostFromAdministration(extlib::DefaultContext(), "SRV3");
       },
       "\tremove host SRV3\t0\tOK\r\n"},
  };
  std::string before = testing::ReadFile(Unc("SRV1/cad/Net/dovrane.log"));
  for (const auto& [run, ending] : commands) {
    run();
    const std::string log = testing::ReadFile(Unc("SRV1/cad/Net/dovrane.log"));
    const std::string line = log.substr(before.size());
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_TRUE(line.ends_with(ending)) << line;
    before = log;
  }
}

}  // namespace
}  // namespace dovrane::network
