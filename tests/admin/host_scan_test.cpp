#include "admin/host_scan.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>

#include "admin/record_writes.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_data.h"
#include "platform/fault_injection_env.h"
#include "repair_fixture.h"

namespace dovrane::admin {
namespace {

constexpr uint32_t kProjects = 12;

class HostScanTest : public RepairTest {
 protected:
  void SetUp() override { MakeInstallation(2, kProjects); }
  // A project folder without stored record, as copied in by hand.
  void NewFolder(const std::string& host, const std::string& entry) {
    const std::string dir = Unc(host + "/cad/Prj/" + entry);
    std::filesystem::create_directories(dir);
    EXPECT_EQ(extlib::CreateProjectData(extlib::DefaultContext(), dir), 0);
  }
};

TEST_F(HostScanTest, EntriesLeftForTheNextScanBelongToTheirInstallation) {
  NewFolder("SRV2", "Carport.prj");
  platform::FaultInjectionEnv faults;
  platform::Env* previous = platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kRename, 1, EACCES);  // Carport's rename into place
  EXPECT_EQ(ScanHostProjects(quiet_, "SRV2", 2), 0);
  platform::SetCurrentEnv(previous);
  ASSERT_TRUE(EntriesLeftUnregistered(quiet_.installation()));
  {
    extlib::Installation other;
    EXPECT_FALSE(EntriesLeftUnregistered(other));
    EXPECT_TRUE(PendingNew(other).empty());
  }
  ASSERT_EQ(PendingNew(quiet_.installation()).size(), 1u);
  EXPECT_EQ(PendingNew(quiet_.installation())[0].entry, "Carport.prj");
}

// The window's worker scans while another thread writes a record: neither
// loses the other's change.
TEST_F(HostScanTest, ScanAndRecordWriteRunTogetherOnOneInstallation) {
  std::vector<std::string> names;
  for (int i = 0; i < 16; ++i) names.push_back("Anbau " + std::to_string(i));
  for (const std::string& name : names) NewFolder("SRV2", name + ".prj");
  const size_t before = Records().size();
  extlib::PRJ changed = OnHost("SRV1");
  int scanned = -1, written = 0;
  std::thread scan([&] { scanned = ScanHostProjects(quiet_, "SRV2", 2); });
  std::thread write([&] {
    const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    // Many small writes, so that they fall between the scan's registrations.
    for (unsigned char version = 1; version <= 40 && written == 0; ++version) {
      changed.version = version;
      written = handle < 0 ? handle : WriteWhole(changed, handle);
    }
  });
  scan.join();
  write.join();
  EXPECT_EQ(scanned, 0);
  EXPECT_EQ(written, 0);
  const auto records = Records();
  EXPECT_EQ(records.size(), before + names.size());  // each registered once
  for (const std::string& name : names) EXPECT_NE(FindName(records, name), nullptr) << name;
  ASSERT_NE(Find(records, changed.number), nullptr);
  EXPECT_EQ(Find(records, changed.number)->version, 40);
}

}  // namespace
}  // namespace dovrane::admin
