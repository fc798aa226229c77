#include "admin/register_entry.h"

#include <cerrno>
#include <filesystem>

#include "admin/checkin_path.h"
#include "admin/host_scan.h"
#include "admin/record_writes.h"
#include "extlib/project_data.h"
#include "extlib/project_paths.h"
#include "platform/fault_injection_env.h"
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
    EXPECT_EQ(extlib::CreateProjectData(dir), 0);
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
  ASSERT_EQ(ScanAllHosts(1), 0);
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
  ASSERT_EQ(ScanAllHosts(1), 0);
  records = Records();
  EXPECT_EQ(records.size(), kProjects + 2);
  EXPECT_FALSE(FindName(records, "Werkhalle_")->status & extlib::kStatusPlainName);
}

TEST_F(RegisterEntryTest, NumberTakenElsewhereGetsTheNextFreeNumberAndFolder) {
  const extlib::PRJ p = OnHost("SRV1");
  fs::copy(Folder("SRV1", p.number), Folder("SRV2", p.number), fs::copy_options::recursive);
  ASSERT_EQ(ScanAllHosts(1), 0);
  auto records = Records();
  ASSERT_EQ(records.size(), kProjects + 1);
  const extlib::PRJ* copy = Find(records, kProjects + 1);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->host, "SRV2");
  EXPECT_EQ(extlib::TrimmedName(copy->name), extlib::TrimmedName(p.name) + "_");
  EXPECT_TRUE(fs::is_directory(Folder("SRV2", kProjects + 1)));
  EXPECT_FALSE(fs::exists(Folder("SRV2", p.number)));
  EXPECT_STREQ(Find(records, p.number)->host, "SRV1");
}

TEST_F(RegisterEntryTest, NumberWrapsAfter9999999AndSkipsNumbersInUse) {
  int handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kOpenExisting);
  extlib::NullRecord null_record;
  extlib::SetNullRecordHighest(&null_record, 9999999);
  ASSERT_EQ(extlib::write_null_record(handle, &null_record), 0);
  const extlib::PRJ third = *Find(Records(), 3);
  ASSERT_EQ(MarkRecordDeleted(third, handle), 0);
  fs::remove_all(Folder(third.host, 3));
  NewFolder("SRV3", "Neu.prj");
  ASSERT_EQ(ScanHostProjects(0, "SRV3", 2), 0);
  EXPECT_EQ(Name(3), "Neu");
  EXPECT_TRUE(fs::is_directory(Folder("SRV3", 3)));
}

TEST_F(RegisterEntryTest, FullLengthNameCollisionStartsWithUnderscore) {
  const std::string name(50, 'L');
  NewFolder("SRV1", name + ".prj");
  NewFolder("SRV2", name + ".prj");
  ASSERT_EQ(ScanAllHosts(0), 0);
  auto records = Records();
  ASSERT_NE(FindName(records, name), nullptr);
  ASSERT_NE(FindName(records, "_" + name.substr(1)), nullptr);
  EXPECT_STREQ(FindName(records, "_" + name.substr(1))->host, "SRV2");
}

TEST_F(RegisterEntryTest, NewEntriesOfOneHostAreRegisteredLastInFirstOut) {
  for (const char* n : {"Anbau.prj", "Brunnen.prj", "Carport.prj"}) NewFolder("SRV2", n);
  ASSERT_EQ(ScanHostProjects(0, "SRV2", 2), 0);
  EXPECT_EQ(Name(kProjects + 1), "Carport");
  EXPECT_EQ(Name(kProjects + 2), "Brunnen");
  EXPECT_EQ(Name(kProjects + 3), "Anbau");
  EXPECT_TRUE(PendingNew().empty());
}

TEST_F(RegisterEntryTest, EntriesLeftByAFailureFollowTheNextScansOwnEntries) {
  for (const char* n : {"Anbau.prj", "Brunnen.prj", "Carport.prj"}) NewFolder("SRV2", n);
  platform::FaultInjectionEnv faults;
  platform::Env* previous = platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kRename, 1, EACCES);  // Carport's rename into place
  EXPECT_EQ(ScanHostProjects(0, "SRV2", 2), 0);
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(PendingNew().size(), 3u);
  EXPECT_EQ(Records().size(), kProjects);
  EXPECT_EQ(messages_.texts.back().rfind("Can't rename directory\n", 0), 0u);

  NewFolder("SRV1", "Depot.prj");
  ASSERT_EQ(ScanHostProjects(0, "SRV1", 2), 0);
  EXPECT_TRUE(PendingNew().empty());
  EXPECT_EQ(Name(kProjects + 1), "Depot");
  EXPECT_EQ(Name(kProjects + 2), "Carport");
  EXPECT_EQ(Name(kProjects + 4), "Anbau");
  EXPECT_STREQ(Find(Records(), kProjects + 4)->host, "SRV2");
}

TEST_F(RegisterEntryTest, LinkFileAndItsFolderAreRenamedAndTheLinkStillLeadsThere) {
  NewFolder("SRV3", "Aussen.prj");
  testing::WriteFile(Unc("SRV1/cad/Prj/Aussen.prj"), "\\\\SRV3\\cad\\Prj\\Aussen.prj\r\n");
  ASSERT_EQ(ScanHostProjects(0, "SRV1", 2), 0);
  const auto records = Records();
  const extlib::PRJ* r = FindName(records, "Aussen");
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(fs::is_regular_file(Folder("SRV1", r->number)));
  EXPECT_FALSE(fs::exists(Unc("SRV1/cad/Prj/Aussen.prj")));
  std::string dir;
  ASSERT_EQ(extlib::make_prj_dir(*r, &dir), 0);
  EXPECT_EQ(dir, "\\\\SRV3\\cad\\Prj\\" + extlib::NumberText(r->number) + ".prj");
}

TEST_F(RegisterEntryTest, CheckinTakesNativeAndWindowsPathsAndRefusesForeignFolders) {
  NewFolder("SRV2", "Nativ.prj");
  NewFolder("SRV2", "Fenster.prj");
  NewFolder("SRV2", "n0000900.prj");
  NewFolder("SRV1", "Fremd/Drinnen.prj");
  EXPECT_EQ(CheckinProjectPath(Unc("SRV2/cad/Prj/Nativ.prj")), 0);
  EXPECT_EQ(CheckinProjectPath("\\\\SRV2\\cad\\Prj\\Fenster.prj\\"), 0);
  EXPECT_EQ(CheckinProjectPath(Unc("SRV2/cad/Prj/n0000900.prj")), 0);
  auto records = Records();
  ASSERT_TRUE(FindName(records, "Nativ") && FindName(records, "Fenster"));
  EXPECT_STREQ(FindName(records, "Fenster")->host, "SRV2");
  EXPECT_NE(Find(records, 900), nullptr);

  messages_.texts.clear();
  EXPECT_EQ(CheckinProjectPath("\\\\SRV1\\cad\\Prj\\Fremd\\Drinnen.prj"), 1);
  EXPECT_EQ(CheckinProjectPath(Unc("SRV2/cad/Prj/n0000900.prj")), 1);
  EXPECT_EQ(CheckinProjectPath(Unc("SRV2/cad/Prj/nirgends.prj")), 1);
  ASSERT_EQ(messages_.texts.size(), 3u);
  EXPECT_EQ(messages_.texts[0],
            "Problem at checking path ocurred.\nIntern=\\\\SRV1\\cad\\Prj\\Drinnen.prj\nExtern="
            "\\\\SRV1\\cad\\Prj\\Fremd\\Drinnen.prj\n");
  EXPECT_EQ(messages_.texts[1].rfind("Enty=<n0000900.prj>\nProject number allready exists.\nhost=SRV2 nr=900", 0), 0u);
  EXPECT_EQ(messages_.texts[2].rfind("Can't access full path <\\\\SRV2\\cad\\Prj\\nirgends.prj>", 0), 0u);
  EXPECT_EQ(Records().size(), records.size());
}

}  // namespace
}  // namespace dovrane::admin
