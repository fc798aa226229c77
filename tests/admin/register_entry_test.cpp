#include "admin/register_entry.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "admin/checkin_path.h"
#include "admin/host_folders.h"
#include "admin/host_scan.h"
#include "admin/record_writes.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_data.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/projects/project_paths.h"
#include "platform/fault_injection_env.h"
#include "platform/text_codec.h"
#include "repair_fixture.h"

namespace dovrane::admin {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kProjects = 24;

class RegisterEntryTest : public RepairTest {
 protected:
  void SetUp() override { MakeInstallation(3, kProjects); }
  // A project folder without stored record, as copied in by hand.
  std::string NewFolder(const std::string& host, const std::string& entry) {
    std::string dir = Unc(host + "/cad/Prj/" + entry);
    fs::create_directories(dir);
    EXPECT_EQ(extlib::CreateProjectData(extlib::DefaultContext(), dir), 0);
    return dir;
  }
  // A project folder outside every host's project folder, for link files to name.
  std::string Elsewhere(const std::string& entry) {
    std::string dir = Unc("SRV3/cad/elsewhere/" + entry);
    fs::create_directories(dir);
    EXPECT_EQ(extlib::CreateProjectData(extlib::DefaultContext(), dir), 0);
    return dir;
  }
  std::string Name(uint32_t number) {
    const auto records = Records();
    const extlib::PRJ* r = Find(records, number);
    return r ? extlib::TrimmedName(r->name) : "(none)";
  }
};

TEST_F(RegisterEntryTest, PlainNamesOnTwoHostsBecomeUniqueAndStayOneRecordEach) {
  NewFolder("SRV1", "Werkhalle.prj");
  NewFolder("SRV2", "Werkhalle.prj");
  ASSERT_EQ(ScanAllHosts(console_), 0);
  auto records = Records();
  ASSERT_EQ(records.size(), kProjects + 2);
  const extlib::PRJ* first = FindName(records, "Werkhalle");
  const extlib::PRJ* second = FindName(records, "Werkhalle_");
  ASSERT_TRUE(first && second);
  EXPECT_STREQ(first->host, "SRV1");
  EXPECT_STREQ(second->host, "SRV2");
  EXPECT_TRUE(fs::is_directory(Folder("SRV2", second->number)));
  EXPECT_FALSE(fs::exists(Unc("SRV2/cad/Prj/Werkhalle.prj")));
  EXPECT_TRUE(second->status & extlib::kStatusPlainName);
  // The next scan finishes the plain-name registrations instead of copying them.
  ASSERT_EQ(ScanAllHosts(console_), 0);
  records = Records();
  EXPECT_EQ(records.size(), kProjects + 2);
  EXPECT_FALSE(FindName(records, "Werkhalle_")->status & extlib::kStatusPlainName);
}

// A project folder that cannot be put into its path slot is not registered,
// and the registration says so instead of reporting success.
TEST_F(RegisterEntryTest, FolderThatCannotBeSetAsPathFailsAndStaysUnregistered) {
  NewFolder("SRV1", "Werkhalle.prj");
  HostFolder folder;
  ASSERT_EQ(ProjectFolderOfHost(extlib::DefaultContext(), "SRV1", FolderUse::kRegister, &folder.dir), 0);
  folder.net_id = extlib::get_PRJVekNetID(extlib::DefaultContext());
  folder.slot = extlib::kSlotCount;  // no such slot
  EXPECT_NE(RegisterEntryInFolder(quiet_, false, "SRV1", folder, "Werkhalle.prj"), 0);
  ASSERT_EQ(messages_.texts.size(), 1u);
  EXPECT_EQ(messages_.texts[0], "Can't set path to\n\t<" + folder.dir + "\\Werkhalle.prj>\n");
  EXPECT_EQ(Records().size(), kProjects);
  EXPECT_TRUE(fs::is_directory(Unc("SRV1/cad/Prj/Werkhalle.prj")));
}

TEST_F(RegisterEntryTest, NumberTakenElsewhereGetsTheNextFreeNumberAndFolder) {
  const extlib::PRJ p = OnHost("SRV1");
  fs::copy(Folder("SRV1", p.number), Folder("SRV2", p.number), fs::copy_options::recursive);
  ASSERT_EQ(ScanAllHosts(console_), 0);
  auto records = Records();
  ASSERT_EQ(records.size(), kProjects + 1);
  const extlib::PRJ* copy = Find(records, kProjects + 1);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->host, "SRV2");
  EXPECT_EQ(extlib::TrimmedName(copy->name), extlib::TrimmedName(p.name) + "_");
  EXPECT_TRUE(fs::is_directory(Folder("SRV2", kProjects + 1)));
  EXPECT_FALSE(fs::exists(Folder("SRV2", p.number)));
  EXPECT_STREQ(Find(records, p.number)->host, "SRV1");
  // The folder's own record tells the new number and name, not the copied ones.
  uint32_t net_id = 0;
  extlib::PRJ stored;
  ASSERT_EQ(extlib::ReadProjectInfo(Folder("SRV2", kProjects + 1), &net_id, &stored), 0);
  EXPECT_EQ(stored.number, kProjects + 1);
  EXPECT_EQ(extlib::TrimmedName(stored.name), extlib::TrimmedName(copy->name));
}

TEST_F(RegisterEntryTest, NumberWrapsAfter9999999AndSkipsNumbersInUse) {
  const extlib::PRJ third = *Find(Records(), 3);  // Records() closes the handle
  int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  extlib::NullRecord null_record;
  extlib::SetNullRecordHighest(&null_record, 9999999);
  ASSERT_EQ(extlib::write_null_record(extlib::DefaultContext(), handle, &null_record), 0);
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), third, handle), 0);
  fs::remove_all(Folder(third.host, 3));
  NewFolder("SRV3", "Neu.prj");
  ASSERT_EQ(ScanHostProjects(quiet_, "SRV3", 2), 0);
  EXPECT_EQ(Name(3), "Neu");
  EXPECT_TRUE(fs::is_directory(Folder("SRV3", 3)));
}

TEST_F(RegisterEntryTest, FullLengthNameCollisionStartsWithUnderscore) {
  const std::string name(50, 'L');
  NewFolder("SRV1", name + ".prj");
  NewFolder("SRV2", name + ".prj");
  ASSERT_EQ(ScanAllHosts(quiet_), 0);
  auto records = Records();
  ASSERT_NE(FindName(records, name), nullptr);
  ASSERT_NE(FindName(records, "_" + name.substr(1)), nullptr);
  EXPECT_STREQ(FindName(records, "_" + name.substr(1))->host, "SRV2");
}

TEST_F(RegisterEntryTest, NewEntriesOfOneHostAreRegisteredLastInFirstOut) {
  for (const char* n : {"Anbau.prj", "Brunnen.prj", "Carport.prj"}) NewFolder("SRV2", n);
  ASSERT_EQ(ScanHostProjects(quiet_, "SRV2", 2), 0);
  EXPECT_EQ(Name(kProjects + 1), "Carport");
  EXPECT_EQ(Name(kProjects + 2), "Brunnen");
  EXPECT_EQ(Name(kProjects + 3), "Anbau");
  EXPECT_TRUE(PendingNew(quiet_.installation()).empty());
}

TEST_F(RegisterEntryTest, EntriesLeftByAFailureFollowTheNextScansOwnEntries) {
  for (const char* n : {"Anbau.prj", "Brunnen.prj", "Carport.prj"}) NewFolder("SRV2", n);
  platform::FaultInjectionEnv faults;
  platform::Env* previous = platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kRename, 2, EACCES);  // Carport's rename into place (after its stored record)
  EXPECT_EQ(ScanHostProjects(quiet_, "SRV2", 2), 0);
  platform::SetCurrentEnv(previous);
  // One folder's failure does not stop the others.
  ASSERT_EQ(PendingNew(quiet_.installation()).size(), 1u);
  EXPECT_EQ(PendingNew(quiet_.installation())[0].entry, "Carport.prj");
  EXPECT_EQ(Name(kProjects + 1), "Brunnen");
  EXPECT_EQ(Name(kProjects + 2), "Anbau");
  EXPECT_EQ(messages_.texts[0].rfind("Can't rename directory\n", 0), 0u);

  NewFolder("SRV1", "Depot.prj");
  ASSERT_EQ(ScanHostProjects(quiet_, "SRV1", 2), 0);
  EXPECT_TRUE(PendingNew(quiet_.installation()).empty());
  EXPECT_EQ(Name(kProjects + 3), "Depot");
  EXPECT_EQ(Name(kProjects + 4), "Carport");
  EXPECT_STREQ(Find(Records(), kProjects + 4)->host, "SRV2");
}

TEST_F(RegisterEntryTest, LinkFileIsRenamedAndTheFolderItNamesIsLeftAsItIs) {
  Elsewhere("Aussen.prj");
  testing::WriteFile(Unc("SRV1/cad/Prj/Aussen.prj"), "\\\\SRV3\\cad\\elsewhere\\Aussen.prj\r\n");
  const auto before = fs::last_write_time(Unc("SRV3/cad/elsewhere/Aussen.prj"));
  ASSERT_EQ(ScanHostProjects(quiet_, "SRV1", 2), 0);
  const auto records = Records();
  const extlib::PRJ* r = FindName(records, "Aussen");
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(fs::is_regular_file(Folder("SRV1", r->number)));
  EXPECT_FALSE(fs::exists(Unc("SRV1/cad/Prj/Aussen.prj")));
  EXPECT_EQ(fs::last_write_time(Unc("SRV3/cad/elsewhere/Aussen.prj")), before);  // nothing written into it
  std::string dir;
  ASSERT_EQ(extlib::make_prj_dir(extlib::DefaultContext(), *r, &dir), 0);
  EXPECT_EQ(dir, "\\\\SRV3\\cad\\elsewhere\\Aussen.prj");
}

// Folders whose names differ from their numbered form only in letter case.
TEST_F(RegisterEntryTest, CaseVariantsOfNumberNamesAreRenamedAndRegistered) {
  NewFolder("SRV2", "N0000912.PRJ");
  NewFolder("SRV2", "n0000914.PRJ");
  NewFolder("SRV2", "Kopie.prj");
  ASSERT_EQ(ScanAllHosts(quiet_), 0);
  const auto records = Records();
  for (uint32_t n : {912u, 914u}) {
    ASSERT_NE(Find(records, n), nullptr) << n;
    EXPECT_STREQ(Find(records, n)->host, "SRV2");
    EXPECT_TRUE(fs::is_directory(Folder("SRV2", n))) << n;
  }
  EXPECT_FALSE(fs::exists(Unc("SRV2/cad/Prj/N0000912.PRJ")));
  EXPECT_NE(FindName(records, "Kopie"), nullptr);
  NewFolder("SRV3", "N0000916.prj");
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV3/cad/Prj/N0000916.prj")), 0);
  EXPECT_TRUE(fs::is_directory(Folder("SRV3", 916)));
}

// A file system that keeps the old spelling on a rename that changes only the case.
class CaseKeepingEnv : public platform::Env {
 public:
  int Rename(const std::string& from, const std::string& to) override {
    if (from != to && platform::EqualsIgnoreCaseCp1252(from, to)) return 0;
    return platform::Env::Rename(from, to);
  }
};

TEST_F(RegisterEntryTest, CaseOnlyRenameGoesThroughATemporaryNameWhereTheFileSystemNeedsIt) {
  NewFolder("SRV2", "N0000912.PRJ");
  CaseKeepingEnv env;
  platform::Env* previous = platform::SetCurrentEnv(&env);
  EXPECT_EQ(ScanHostProjects(quiet_, "SRV2", 1), 0);
  platform::SetCurrentEnv(previous);
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(Unc("SRV2/cad/Prj"))) names.insert(e.path().filename().string());
  EXPECT_TRUE(names.count("n0000912.prj"));
  EXPECT_FALSE(names.count("N0000912.PRJ"));
  for (const std::string& n : names) EXPECT_EQ(n.find(".case~"), std::string::npos) << n;
  EXPECT_NE(Find(Records(), 912), nullptr);
}

TEST_F(RegisterEntryTest, CheckinTakesNativeAndWindowsPathsAndRefusesForeignFolders) {
  NewFolder("SRV2", "Nativ.prj");
  NewFolder("SRV2", "Fenster.prj");
  NewFolder("SRV2", "n0000900.prj");
  NewFolder("SRV1", "Fremd/Drinnen.prj");
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV2/cad/Prj/Nativ.prj")), 0);
  EXPECT_EQ(CheckinProjectPath(quiet_, "\\\\SRV2\\cad\\Prj\\Fenster.prj\\"), 0);
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV2/cad/Prj/n0000900.prj")), 0);
  auto records = Records();
  ASSERT_TRUE(FindName(records, "Nativ") && FindName(records, "Fenster"));
  EXPECT_STREQ(FindName(records, "Fenster")->host, "SRV2");
  EXPECT_NE(Find(records, 900), nullptr);

  messages_.texts.clear();
  EXPECT_EQ(CheckinProjectPath(quiet_, "\\\\SRV1\\cad\\Prj\\Fremd\\Drinnen.prj"), 1);
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV2/cad/Prj/n0000900.prj")), 1);
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV2/cad/Prj/nirgends.prj")), 1);
  ASSERT_EQ(messages_.texts.size(), 3u);
  EXPECT_EQ(messages_.texts[0],
            "Problem at checking path ocurred.\nIntern=\\\\SRV1\\cad\\Prj\\Drinnen.prj\nExtern="
            "\\\\SRV1\\cad\\Prj\\Fremd\\Drinnen.prj\n");
  EXPECT_EQ(messages_.texts[1].rfind("Enty=<n0000900.prj>\nProject number allready exists.\nhost=SRV2 nr=900", 0), 0u);
  EXPECT_EQ(messages_.texts[2].rfind("Can't access full path <\\\\SRV2\\cad\\Prj\\nirgends.prj>", 0), 0u);
  EXPECT_EQ(Records().size(), records.size());
}

// The status character is the blank plus the flags: link 0x20 and plain name 0x08 give "H".
TEST_F(RegisterEntryTest, RegisteredLinksKeepTheLinkFlag) {
  Elsewhere("Aussen.prj");
  testing::WriteFile(Unc("SRV1/cad/Prj/Aussen.prj"), "\\\\SRV3\\cad\\elsewhere\\Aussen.prj\r\n");
  const std::string stored_dir = Elsewhere("Stored.prj");
  extlib::PRJ stored;
  extlib::SetPrjName(&stored, "Gespeichert");
  stored.number = 950;
  ASSERT_EQ(extlib::WriteProjectInfo(stored_dir, extlib::get_PRJVekNetID(extlib::DefaultContext()), stored), 0);
  testing::WriteFile(Unc("SRV2/cad/Prj/n0000950.prj"), "\\\\SRV3\\cad\\elsewhere\\Stored.prj\r\n");
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV1/cad/Prj/Aussen.prj")), 0);
  EXPECT_EQ(CheckinProjectPath(quiet_, Unc("SRV2/cad/Prj/n0000950.prj")), 0);
  const auto records = Records();
  ASSERT_TRUE(FindName(records, "Aussen") && FindName(records, "Gespeichert"));
  EXPECT_EQ(FindName(records, "Aussen")->status, 'H');
  EXPECT_EQ(FindName(records, "Gespeichert")->status, '@');
}

// Names that cannot be project names are registered under a safe form, never lost.
TEST_F(RegisterEntryTest, FolderAndStoredNamesPassTheNameCheck) {
  for (const char* n : {"#hash.prj", "a@b.prj", "x\ny.prj", "t\tab.prj", " lead.prj", "%p.prj", "q?.prj"})
    NewFolder("SRV2", n);
  const std::string evil_dir = NewFolder("SRV2", "n0000960.prj");
  extlib::PRJ evil;
  extlib::SetPrjName(&evil, "../../../evil");
  evil.number = 960;
  ASSERT_EQ(extlib::WriteProjectInfo(evil_dir, extlib::get_PRJVekNetID(extlib::DefaultContext()), evil), 0);
  EXPECT_EQ(ScanAllHosts(quiet_), 0);
  const auto records = Records();
  EXPECT_EQ(records.size(), kProjects + 8);
  for (const char* n : {"_hash", "a_b", "x_y", "t_ab", "_lead", "_p", "q_", "_________evil"})
    EXPECT_NE(FindName(records, n), nullptr) << n;
  for (const extlib::PRJ& r : records) EXPECT_TRUE(extlib::IsValidProjectName(r.name)) << r.name;
  EXPECT_EQ(Admin().find("#hash"), std::string::npos);
}

// Link files that name what is not a project folder of its own.
TEST_F(RegisterEntryTest, LinksToOtherFoldersAreReportedAndNothingIsRenamedOrWritten) {
  const extlib::PRJ other = OnHost("SRV3");
  const std::string other_path = "\\\\SRV3\\cad\\Prj\\" + extlib::NumberText(other.number) + ".prj";
  const std::pair<const char*, std::string> links[] = {
      {"std.prj", "\\\\SRV1\\cad\\STD"},   {"net.prj", "\\\\SRV1\\cad\\Net"},
      {"share.prj", "\\\\SRV1\\cad"},       {"prj.prj", "\\\\SRV2\\cad\\Prj"},
      {"other.prj", other_path},             {"local.prj", "L:\\Pelomar"},
  };
  for (const auto& [entry, target] : links) testing::WriteFile(Unc("SRV1/cad/Prj/") + entry, target + "\r\n");
  Elsewhere("Einmal.prj");
  for (const char* twice : {"SRV1/cad/Prj/einmal.prj", "SRV2/cad/Prj/einmal.prj"})
    testing::WriteFile(Unc(twice), "\\\\SRV3\\cad\\elsewhere\\Einmal.prj\r\n");
  EXPECT_EQ(ScanAllHosts(quiet_), 0);
  const auto records = Records();
  EXPECT_EQ(records.size(), kProjects + 1);  // the one proper link, once
  EXPECT_TRUE(fs::is_directory(Unc("SRV1/cad/Net")) && fs::is_directory(Unc("SRV1/cad/STD")));
  EXPECT_TRUE(fs::is_directory(Folder("SRV3", other.number)));
  EXPECT_TRUE(fs::is_directory(Unc("SRV3/cad/elsewhere/Einmal.prj")));
  EXPECT_EQ(std::count_if(messages_.texts.begin(), messages_.texts.end(),
                          [](const std::string& t) { return t.rfind("The link <", 0) == 0; }),
            7);
}

// A rebuild that left a folder unregistered does not end with 0.
TEST_F(RegisterEntryTest, RestoreThatLeavesAFolderUnregisteredFails) {
  NewFolder("SRV2", "Kopie.prj");
  fs::create_directories(NewFolder("SRV2", "Kaputt.prj") + "/prjinfo.dat");  // stored record unreadable
  extlib::close_prj_info_handle(extlib::kSlotNet);
  fs::remove(Unc("SRV1/cad/Net/project.dat"));
  testing::ProgramResult run = Run({"-restore"});
  EXPECT_NE(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("has been restored"), std::string::npos) << run.out;
  const auto records = Records();
  EXPECT_EQ(records.size(), kProjects + 1);
  EXPECT_NE(FindName(records, "Kopie"), nullptr);
  EXPECT_NE(Run({"-update", "SRV2"}).status, 0);
}

}  // namespace
}  // namespace dovrane::admin
