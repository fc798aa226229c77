#include "admin/restore_update.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <tuple>

#include "admin/net_id_writer.h"
#include "admin/record_writes.h"
#include "admin/shared_file_backup.h"
#include "admin/user_count.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "extlib/installation/users.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_data.h"
#include "extlib/projects/project_info_file.h"
#include "platform/fault_injection_env.h"
#include "platform/manual_clock_env.h"
#include "repair_fixture.h"
#include "support/stopping_progress.h"

namespace dovrane::admin {
namespace {

namespace fs = std::filesystem;
using Key = std::tuple<std::string, uint32_t, std::string>;

class RestoreUpdateTest : public RepairTest {
 protected:
  void SetUp() override { MakeInstallation(3, 30); }
  std::set<Key> Keys() {
    std::set<Key> keys;
    for (const extlib::PRJ& r : Records()) keys.insert({extlib::TrimmedName(r.name), r.number, r.host});
    return keys;
  }
  uint32_t StoredId(const extlib::PRJ& r) {
    uint32_t id = 0;
    extlib::PRJ stored;
    return extlib::ReadProjectInfo(Folder(r.host, r.number), &id, &stored) == extlib::kProjectInfoRead ? id : 0;
  }
  std::string NetFile(const std::string& name) { return Unc("SRV1/cad/Net/" + name); }
  // Gives the second record the first one's number; the administration written.
  std::string DuplicateTheFirstNumber() {
    std::string text = Admin();
    const size_t first = text.find('\n') + 1, second = text.find('\n', first) + 1;
    text.replace(second + 51, 8, text.substr(first + 51, 8));
    testing::WriteFile(NetFile("project.dat"), text);
    return text;
  }
};

// A -restore over a whole administration stopped between projects of its
// check leaves it whole, with no rebuild pending: the next -update finds
// nothing to do. Stopped in the rebuild of a missing one, the rebuild stays
// marked, and the next -update completes it.
TEST_F(RestoreUpdateTest, CancelledRepairLeavesTheAdministrationWhole) {
  const std::set<Key> before = Keys();
  for (bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "rebuild" : "check");
    if (missing) fs::remove(NetFile("project.dat"));
    testing::StoppingProgress person(3);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &person);
    EXPECT_EQ(missing ? RestoreAdministration(ctx) : UpdateAdministration(ctx, false), extlib::kPrjInterrupted);
    EXPECT_EQ(fs::exists(NetFile(kRebuildMarkerFile)), missing);
    if (!missing) {
      EXPECT_EQ(Keys(), before);
    }
    messages_.progress.clear();
    EXPECT_EQ(UpdateAdministration(quiet_, true), 0);
    EXPECT_EQ(Keys(), before);
    EXPECT_FALSE(fs::exists(NetFile(kRebuildMarkerFile)));
  }
}

TEST_F(RestoreUpdateTest, RestoreRebuildsEveryProjectAndStoresTheIdentifierInProjectsNotCheckedOut) {
  const std::set<Key> before = Keys();
  const uint32_t id = extlib::get_PRJVekNetID(extlib::DefaultContext());
  extlib::PRJ out = OnHost("SRV2");
  out.status = extlib::kStatusBlank | extlib::kStatusProjectOut;
  ASSERT_EQ(extlib::WriteProjectInfo(Folder("SRV2", out.number), 77, out), 0);
  extlib::PRJ unstamped = OnHost("SRV3");
  ASSERT_EQ(extlib::WriteProjectInfo(Folder("SRV3", unstamped.number), 77, unstamped), 0);
  extlib::close_prj_info_handle(extlib::kSlotNet);
  fs::remove(NetFile("project.dat"));

  testing::ProgramResult run = Run({"-restore"});
  EXPECT_EQ(run.status, 0) << run.err;
  // The notice has a line of its own after the last progress text.
  EXPECT_NE(run.out.find("Compress Project Attributes ...\nThe project administration has been restored."),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Keys(), before);
  const auto records = Records();
  for (const extlib::PRJ& r : records) EXPECT_EQ(StoredId(r), r.number == out.number ? 77u : id) << r.number;
  // A folder stored by another administration loses its owner and members.
  EXPECT_EQ(Find(records, unstamped.number)->owner, 0u);
  EXPECT_EQ(Find(records, unstamped.number)->members[0], 0);
  EXPECT_EQ(Find(records, out.number)->status, extlib::kStatusBlank | extlib::kStatusProjectOut);
}

// Folders that need a rename, a new stored record or an import between
// plain ones: the rebuild writes the plain ones together and must still keep
// every project, its attributes and the order of its writes.
TEST_F(RestoreUpdateTest, RestoreOfMixedFoldersKeepsEveryProjectAndItsAttributes) {
  const std::set<Key> before = Keys();
  const uint32_t id = extlib::get_PRJVekNetID(extlib::DefaultContext());
  const extlib::PRJ with_cache = OnHost("SRV1");
  extlib::RX_ProjectAttributes attributes(extlib::kSlotNet);
  ASSERT_EQ(attributes.setAttribute(with_cache.number, "PRJ_DESCRIPTION", "aus dem Cache"), 0);
  ASSERT_EQ(extlib::RX_ProjectAttributesCache::instance().exportToDiskCacheFile(
                with_cache.number, Folder("SRV1", with_cache.number) + "/" + extlib::kAttributeCacheFileName,
                attributes),
            0);
  ASSERT_GE(attributes.deleteAttributesByProject(with_cache.number), 0);
  attributes.close();
  fs::create_directories(Unc("SRV2/cad/Prj/Werkhalle.prj"));
  ASSERT_EQ(extlib::CreateProjectData(extlib::DefaultContext(), Unc("SRV2/cad/Prj/Werkhalle.prj")), 0);
  fs::create_directories(Folder("SRV3", 90));
  testing::WriteFile(Folder("SRV3", 90) + "/" + extlib::kProjectInfoFile, "damaged\r\n");
  extlib::close_prj_info_handle(extlib::kSlotNet);
  fs::remove(NetFile("project.dat"));

  testing::ProgramResult run = Run({"-restore"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::set<Key> after = Keys();
  for (const Key& k : before) EXPECT_EQ(after.count(k), 1u) << std::get<0>(k);
  const auto records = Records();
  EXPECT_EQ(records.size(), before.size() + 2);
  const extlib::PRJ* werkhalle = FindName(records, "Werkhalle");
  ASSERT_NE(werkhalle, nullptr);
  EXPECT_TRUE(fs::is_directory(Folder("SRV2", werkhalle->number)));
  ASSERT_NE(Find(records, 90), nullptr);
  EXPECT_EQ(extlib::TrimmedName(Find(records, 90)->name), "n0000090");
  std::set<uint32_t> numbers;
  for (const extlib::PRJ& r : records) {
    numbers.insert(r.number);
    EXPECT_EQ(StoredId(r), id) << r.number;
  }
  EXPECT_EQ(numbers.size(), records.size());
  std::string value;
  ASSERT_EQ(attributes.getAttribute(with_cache.number, "PRJ_DESCRIPTION", &value), 0);
  EXPECT_EQ(value, "aus dem Cache");
  EXPECT_FALSE(fs::exists(NetFile("project.dat.rebuild")));
}

TEST_F(RestoreUpdateTest, IdentifierPassRewritesAFolderWhoseRecordChangedAfterTheScanReadIt) {
  const uint32_t id = extlib::get_PRJVekNetID(extlib::DefaultContext());
  const extlib::PRJ read = OnHost("SRV2");
  SeenProjectInfos seen;
  seen[read.number] = {read.host, id, read};
  extlib::PRJ changed = read;
  changed.owner = read.owner == 2 ? 3 : 2;
  int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_EQ(WriteWhole(changed, handle), 0);
  ASSERT_EQ(WriteNetIdToAllProjects(id, quiet_, &seen), 0);
  uint32_t stored_id = 0;
  extlib::PRJ stored;
  ASSERT_EQ(extlib::ReadProjectInfo(Folder("SRV2", read.number), &stored_id, &stored), 0);
  EXPECT_EQ(stored.owner, changed.owner);
  EXPECT_EQ(stored_id, id);
}

TEST_F(RestoreUpdateTest, UpdateWithDuplicateNumbersKeepsTheOldFileAndRebuilds) {
  const std::string text = DuplicateTheFirstNumber();
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("The project administration is inconsistent."), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("- Switch on all Pelomar data servers in your network."), std::string::npos);
  EXPECT_EQ(testing::ReadFile(NetFile("project.dat.sav")), text);
  auto records = Records();
  EXPECT_EQ(records.size(), 30u);
  std::set<uint32_t> numbers;
  for (const extlib::PRJ& r : records) numbers.insert(r.number);
  EXPECT_EQ(numbers.size(), records.size());
}

// The texts follow the installed language; the final notice comes only
// after a run that succeeded.
TEST_F(RestoreUpdateTest, MessagesAndFinalNoticeFollowTheLanguage) {
  struct Case {
    const char* lcid;
    const char* inconsistent;
    const char* notice;
  } cases[] = {
      {"1033", "The project administration is inconsistent.", "The project administration has been checked and repaired."},
      {"1031", "Die Projektverwaltung ist inkonsistent.", "Die Projektverwaltung wurde gepr\xC3\xBC" "ft und repariert."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lcid);
    testing::WriteFile(root() + "/hkcu.toml", std::string("[Settings]\nInstalledLanguageLCID = ") + c.lcid + "\n");
    DuplicateTheFirstNumber();
    testing::ProgramResult run = Run({"-restore"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(c.inconsistent), std::string::npos) << run.err;
    EXPECT_NE(run.out.find(c.notice), std::string::npos) << run.out;
  }
}

TEST_F(RestoreUpdateTest, UpdateOfAConsistentAdministrationOrOfAnotherComputerChangesNothing) {
  const std::string before = Admin();
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-update"}, {"-update", "localhost"}}) {
    testing::ProgramResult run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(Admin(), before);
  EXPECT_FALSE(fs::exists(NetFile("project.dat.sav")));
}

// By name, and as "localhost" on the computer that is that host.
TEST_F(RestoreUpdateTest, HostUpdateRegistersNewFoldersAndDropsMissingOnes) {
  for (const char* form : {"SRV2", "localhost"}) {
    SCOPED_TRACE(form);
    TearDown();
    MakeInstallation(3, 30);
    env_["DOVRANE_COMPUTERNAME"] = "SRV2";
    const extlib::PRJ gone = OnHost("SRV2"), kept = OnHost("SRV3");
    fs::remove_all(Folder("SRV2", gone.number));
    fs::remove_all(Folder("SRV3", kept.number));
    fs::create_directories(Unc("SRV2/cad/Prj/Lager.prj"));
    ASSERT_EQ(extlib::CreateProjectData(extlib::DefaultContext(), Unc("SRV2/cad/Prj/Lager.prj")), 0);
    testing::ProgramResult run = Run({"-update", form});
    EXPECT_EQ(run.status, 0) << run.err;
    auto records = Records();
    EXPECT_EQ(Find(records, gone.number), nullptr);
    EXPECT_NE(Find(records, kept.number), nullptr);  // another host: not looked at
    ASSERT_NE(FindName(records, "Lager"), nullptr);
    EXPECT_STREQ(FindName(records, "Lager")->host, "SRV2");
  }
}

// Damaged as an editor or a crash leaves it: -update fails and changes
// nothing; -restore rebuilds every project from the hosts and keeps the
// damaged file beside the new one. Line ends of both kinds are damage too,
// not another container count to convert to.
TEST_F(RestoreUpdateTest, DamagedAdministrationFailsTheUpdateAndIsRebuiltByRestore) {
  const std::set<Key> before = Keys();
  const std::string good = Admin();
  const size_t first = good.find('\n') + 1, second = good.find('\n', first) + 1;
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"short line", good.substr(0, first + 40) + good.substr(second - 2)},
      {"LF-only header", good.substr(0, 10) + good.substr(11)},
      {"garbage", std::string(300, 'x') + "\n"},
      {"empty", ""},
      {"mixed line ends", good.substr(0, second - 2) + good.substr(second - 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::WriteFile(NetFile("project.dat"), c.text);
    testing::ProgramResult update = Run({"-update"});
    EXPECT_NE(update.err.find("Project administration can not be opened."), std::string::npos) << update.err;
    EXPECT_EQ(Admin(), c.text);
    EXPECT_FALSE(fs::exists(NetFile("project.dat.old")));
    testing::ProgramResult run = Run({"-restore"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Keys(), before);
    EXPECT_EQ(testing::ReadFile(NetFile("project.dat.sav")), c.text);
    EXPECT_FALSE(fs::exists(NetFile("project.dat.rebuild")));
  }
}

// A host that cannot be scanned is reported once, by the first pass, and the
// run fails; the records of an unreachable host stay.
TEST_F(RestoreUpdateTest, UpdateOfAHostThatCannotBeScannedFailsWithOneMessage) {
  fs::rename(Unc("SRV3/cad/Prj"), Unc("SRV3/cad/Prj.off"));
  const struct {
    const char* host;
    const char* message;
  } cases[] = {{"NOHOST", "Unknown host <NOHOST>"}, {"SRV3", "Can't access path to projects on host <SRV3>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    testing::ProgramResult run = Run({"-update", c.host});
    EXPECT_EQ(run.status, 255);
    const size_t at = run.err.find(c.message);
    ASSERT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(c.message, at + 1), std::string::npos) << run.err;
  }
  EXPECT_EQ(Records().size(), 30u);
}

// A second data.cfg line reaching a host's share again (a name differing only
// in case, a link to the share) would register every project there twice:
// rebuilds and host updates refuse until data.cfg is put right.
TEST_F(RestoreUpdateTest, TwoHostNamesForOneShareRefuseEveryRebuild) {
  const std::string hosts = testing::ReadFile(NetFile("data.cfg")), before = Admin();
  fs::create_directory_symlink(Unc("SRV2"), Unc("SRV9"));
  const struct {
    const char* line;
    std::vector<std::string> args;
    bool missing;  // project.dat removed first
  } cases[] = {
      {"srv1 \\cad\n", {"-restore"}, false}, {"SRV9 \\cad\n", {"-restore"}, true},
      {"SRV9 \\cad\n", {"-restore"}, false}, {"SRV9 \\cad\n", {"-update", "SRV2"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + c.args[0] + (c.missing ? " missing" : ""));
    testing::WriteFile(NetFile("data.cfg"), hosts + c.line);
    if (c.missing) fs::remove(NetFile("project.dat"));
    testing::ProgramResult run = Run(c.args);
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.err.find("reach the same project folder"), std::string::npos) << run.err;
    EXPECT_EQ(fs::exists(NetFile("project.dat")), !c.missing);
    if (!c.missing) {
      EXPECT_EQ(Admin(), before);
    }
    testing::WriteFile(NetFile("project.dat"), before);
  }
}

TEST_F(RestoreUpdateTest, UserCountIsCheckedAndEveryRecordRewrittenForTheNewContainers) {
  struct Case {
    const char* count;
    int status;  // the low 8 bits
    const char* message;
    int containers;
  } cases[] = {
      {"100", 0, "", 3},
      {"96", 255, "The same max user count 96.\n", 3},
      {"16", 255, "Invalid max user count 16.\n", 3},
      {"1000", 255, "Invalid max user count 1000.\n", 3},
      {"x", 255, "Invalid max user count 0.\n", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    testing::ProgramResult run = Run({"-usercfg", c.count});
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(extlib::lzuGetCountOfUserContainers(), c.containers);
  }
  const std::string text = Admin();
  size_t lines = 0;
  for (size_t pos = text.find('\n') + 1; pos < text.size(); pos = text.find('\n', pos) + 1, ++lines)
    EXPECT_EQ(text.find('\r', pos) - pos, 106u + 8 * 3);
  EXPECT_EQ(lines, 30u);
  EXPECT_EQ(Records().size(), 30u);
}

TEST_F(RestoreUpdateTest, UserCountChangeGivesUpAfterItsWaitWhileAnotherProcessHoldsTheAdministration) {
  const std::string before = Admin();
  const int containers = extlib::lzuGetCountOfUserContainers();
  platform::ManualClockEnv clock;
  int holder = clock.Open(NetFile("project.dat"), O_RDWR);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(clock.Lock(holder, 0, 0, platform::LockMode::kShared, 0), 0);
  platform::SetCurrentEnv(&clock);
  const int rc = SetMaxUserCount(extlib::DefaultContext(), 32 * (containers + 1));
  platform::SetCurrentEnv(nullptr);
  platform::CloseNothingPending(&clock, holder);
  EXPECT_EQ(rc, -1);
  ASSERT_FALSE(messages_.texts.empty());
  EXPECT_EQ(messages_.texts.back(), "New project administration can not be locked.\n");
  // One wait, not one per attempt to follow a replaced file.
  EXPECT_GE(clock.ElapsedMs(), kExclusiveWaitMs);
  EXPECT_LT(clock.ElapsedMs(), 2 * kExclusiveWaitMs);
  EXPECT_EQ(extlib::lzuGetCountOfUserContainers(), containers);
  EXPECT_EQ(Admin(), before);
}

// The files a rebuild changes are kept in a backup set first; only the newest
// sets stay (the machine setting names how many).
TEST_F(RestoreUpdateTest, RebuildKeepsTheSharedFilesInTheNewestBackupSets) {
  ASSERT_TRUE(extlib::PutSettingNumber("HKLM", "InstallRoot\\BackupSetsKept", 2));
  std::string last;
  for (int run = 0; run < 3; ++run) {
    last = DuplicateTheFirstNumber();
    ASSERT_EQ(UpdateAdministration(quiet_, true), 0);
  }
  std::vector<std::string> sets;
  for (const auto& e : fs::directory_iterator(NetFile("backup"))) sets.push_back(e.path().filename());
  std::sort(sets.begin(), sets.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;  // one second: "-2", "-3" follow
  });
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(testing::ReadFile(NetFile("backup/" + sets.back() + "/project.dat")), last);
  EXPECT_EQ(testing::ReadFile(NetFile("backup/" + sets.back() + "/data.cfg")), testing::ReadFile(NetFile("data.cfg")));
}

// Waits until a new file gets a later time than the last one: the file
// system's clock moves in steps of a few milliseconds.
void WaitForTheNextFileTime(const std::string& probe) {
  auto stamp = [&] {
    testing::WriteFile(probe, "x");
    struct stat st {};
    ::stat(probe.c_str(), &st);
    return std::pair(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  };
  for (const auto first = stamp(); stamp() == first;) {
  }
}

// A workstation whose clock is decades behind sees every set as made in the
// future by that clock. It prunes by the file system's time all the same:
// the newest sets stay, among them one another workstation (whose clock is
// ahead) is filling right now, and the oldest go whatever their names say.
TEST_F(RestoreUpdateTest, AClockDecadesBehindPrunesTheOldestSetsByTheFileSystemsTime) {
  ASSERT_TRUE(extlib::PutSettingNumber("HKLM", "InstallRoot\\BackupSetsKept", 3));
  const std::string backup = NetFile("backup");
  // In the order they were made; the last is the one being filled.
  const std::vector<std::string> sets = {"20610101T000000Z", "20500101T000000Z", "20261209T120000Z",
                                         "20291209T120000Z"};
  for (const std::string& name : sets) {
    WaitForTheNextFileTime(root() + "/probe");
    fs::create_directories(backup + "/" + name);
  }
  WaitForTheNextFileTime(root() + "/probe");
  platform::FaultInjectionEnv behind;
  behind.SetClockOffset(-30LL * 365 * 86400);
  platform::SetCurrentEnv(&behind);
  std::string made;
  const int rc = BackupSharedFiles(extlib::DefaultContext(), &made);
  platform::SetCurrentEnv(nullptr);
  ASSERT_EQ(rc, 0);
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(backup)) left.insert(e.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{sets[2], sets[3], made.substr(made.rfind('\\') + 1)}));
}

// A backup that cannot be made (no room for a copy, a flush or the folder)
// stops -update's rebuild and -restore before either writes anything.
TEST_F(RestoreUpdateTest, FailedBackupStopsTheRepairBeforeItWrites) {
  for (platform::FaultPoint point : {platform::FaultPoint::kMkDir, platform::FaultPoint::kWrite, platform::FaultPoint::kSync}) {
    for (bool restore : {false, true}) {
      SCOPED_TRACE(static_cast<int>(point) * 2 + restore);
      const std::string text = DuplicateTheFirstNumber();
      platform::FaultInjectionEnv faults;
      faults.Arm(point, 1, ENOSPC, true);
      platform::SetCurrentEnv(&faults);
      const int rc = restore ? RestoreAdministration(quiet_) : UpdateAdministration(quiet_, true);
      platform::SetCurrentEnv(nullptr);
      EXPECT_EQ(rc, extlib::kPrjFailed);
      EXPECT_EQ(Admin(), text);
      EXPECT_FALSE(fs::exists(NetFile("project.dat.sav")));
      EXPECT_FALSE(fs::exists(NetFile(kRebuildMarkerFile)));
      EXPECT_TRUE(!fs::exists(NetFile("backup")) || fs::is_empty(NetFile("backup")));
      ASSERT_FALSE(messages_.texts.empty());
      EXPECT_NE(messages_.texts.back().find("could not be backed up"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace dovrane::admin
