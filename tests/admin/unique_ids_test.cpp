#include "admin/unique_ids.h"

#include <gtest/gtest.h>

#include "extlib/installation/installation.h"
#include "extlib/installation/messages.h"
#include "services/console.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"

namespace dovrane::admin {
namespace {

using testing::SmallInstallation;

TEST(UniqueIdsTest, OnlyLiveRecordsWithOneNumberCount) {
  struct Case {
    const char* what;
    std::vector<extlib::PRJ> records;
    int result;
    const char* console;
  } cases[] = {
      {"unique", {SmallInstallation::Record("A", 1), SmallInstallation::Record("B", 2)}, 0, "\tOK, no problems found.\n"},
      {"twice", {SmallInstallation::Record("A", 7), SmallInstallation::Record("B", 2), SmallInstallation::Record("C", 7)},
       1, "\tproblem found!\n Administration must be rebuild!\n"},
      {"deleted one", {SmallInstallation::Record("#A", 7), SmallInstallation::Record("B", 7)}, 0, "OK"},
      {"without numbers", {SmallInstallation::Record("A", 0), SmallInstallation::Record("B", 0)}, 0, "OK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallInstallation inst;
    testing::RecordingMessenger messages;
    inst.WriteAdministration(c.records, 9);
    services::ConsoleProgress console;
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &console);
    EXPECT_EQ(CheckUniqueIds(ctx), c.result);
    EXPECT_NE(messages.progress.find(c.console), std::string::npos) << messages.progress;
    EXPECT_EQ(messages.texts.size(), c.result == 1 ? 1u : 0u);
  }
}

TEST(UniqueIdsTest, DamagedLineIsLeftToTheLibraryWhichReportsIt) {
  SmallInstallation inst;
  testing::RecordingMessenger messages;
  inst.WriteAdministration({SmallInstallation::Record("A", 1), SmallInstallation::Record("B", 1)}, 9);
  std::string text = inst.Admin();
  text.replace(text.rfind("@n0000001"), 9, "@x0000001");
  inst.dir.Write("SRV1/cad/Net/project.dat", text);
  extlib::OperationContext quiet{extlib::ProcessInstallation()};
  EXPECT_EQ(CheckUniqueIds(quiet), -1);
  EXPECT_NE(messages.All().find("Can't make project list.\n"), std::string::npos) << messages.All();
}

}  // namespace
}  // namespace dovrane::admin
