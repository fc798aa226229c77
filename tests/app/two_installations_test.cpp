// Two installations side by side in one process: each operation reaches its
// installation through its context only, so two threads querying two
// installations at once each see their own administration, whatever the
// other does and whatever the process default says.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/projects/project_queries.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "support/recording_messenger.h"
#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

// One installation as a test process holds it: its own path map (the UNC root
// of its sample folder) and the same Windows path to its \Net as the other.
struct Side {
  explicit Side(const testing::SampleInstallation& sample) : installation(paths) {
    paths.SetUncRoot(sample.unc_root());
    paths.SetShareMounts({});  // no mount of this computer may answer for a share
    EXPECT_EQ(installation.SetSlot(extlib::kSlotNet, "\\\\SRV1\\cad\\Net\\"), 0);
  }
  platform::PathMap paths;
  extlib::Installation installation;
};

// The operation's own messenger: counts what either side would have shown
// (without taking the process's current messenger, which is one for all).
class CountingMessenger : public platform::Messenger {
 public:
  int MessageBox(const std::string&, const std::string&, unsigned) override {
    ++count;
    return 0;
  }
  long ShowProgressNotice(const std::string&) override { return ++count; }
  void CloseProgressNotice(long) override {}
  void ProgressLine(const std::string&) override { ++count; }
  int count = 0;
};

std::string OnlyIn(const std::vector<std::string>& mine, const std::vector<std::string>& other) {
  for (const std::string& name : mine)
    if (std::find(other.begin(), other.end(), name) == other.end()) return name;
  return "";
}

// The number the program itself answers for name in its installation.
std::string ProgramNumber(const testing::SampleInstallation& sample, const std::string& name, const std::string& file) {
  const testing::ProgramResult r = sample.Run({name, "-getnumber", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string text;
  EXPECT_EQ(platform::ReadWholeFile(file, &text), 0);
  return text;
}

TEST(TwoInstallationsTest, QueriesOnTwoThreadsAtOnceEachAnswerFromTheirOwnInstallation) {
  const testing::SampleInstallation a({"--hosts", "2", "--projects", "8", "--seed", "11"});
  const testing::SampleInstallation b({"--hosts", "3", "--projects", "8", "--seed", "12"});
  const std::vector<std::string> names_a = a.ProjectNames(), names_b = b.ProjectNames();
  const std::string typed_a = OnlyIn(names_a, names_b), typed_b = OnlyIn(names_b, names_a);  // UTF-8
  ASSERT_FALSE(typed_a.empty());
  ASSERT_FALSE(typed_b.empty());
  std::string only_a, only_b;  // as the library keeps names
  ASSERT_TRUE(platform::Utf8ToCp1252(typed_a, &only_a));
  ASSERT_TRUE(platform::Utf8ToCp1252(typed_b, &only_b));
  testing::TempDir out;
  const std::string expected_a = ProgramNumber(a, typed_a, out / "a.expected");
  const std::string expected_b = ProgramNumber(b, typed_b, out / "b.expected");
  ASSERT_NE(expected_a, "");
  ASSERT_NE(expected_b, "");

  // The process default knows neither: a step that fell back on it would
  // find no administration.
  extlib::ScopedInstallation process_default;
  ASSERT_EQ(extlib::lfinigC(extlib::DefaultContext(), extlib::kSlotNet), "");
  Side side_a(a), side_b(b);
  std::atomic<int> failures{0};
  auto run = [&failures](Side& side, const std::string& own, const std::string& other, const std::string& expected,
                         const std::string& file) {
    CountingMessenger messages;
    extlib::OperationContext ctx(side.installation, &messages);
    for (int i = 0; i < 40; ++i) {
      std::string text;
      extlib::PRJ record;
      extlib::SnapshotPtr snapshot;
      const bool ok =
          ProjectGetNumber(ctx, extlib::PadName(own), file) == 0 && platform::ReadWholeFile(file, &text) == 0 &&
          text == expected && ProjectExist(ctx, extlib::PadName(other)) == extlib::kPrjNotFound &&
          extlib::get_project_info(ctx, own, &record) == 0 && side.installation.Projects().Take(ctx, &snapshot) == 0 &&
          snapshot->FindName(extlib::PadName(other)) == extlib::ProjectSnapshot::kNone;
      if (!ok) ++failures;
      if (i % 8 == 7) side.installation.Projects().OwnWrite();  // read again while the other side reads
    }
    if (messages.count != 0) ++failures;  // nothing to tell on either side
  };
  std::thread first(run, std::ref(side_a), only_a, only_b, expected_a, out / "a.number");
  std::thread second(run, std::ref(side_b), only_b, only_a, expected_b, out / "b.number");
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(extlib::lfinigC(extlib::DefaultContext(), extlib::kSlotNet), "");  // the process default was left alone
}

// Nothing is bound to the thread: what the library reports about an
// operation's administration reaches that operation's messenger, whichever
// thread runs it, and never the process's; a quiet part of it reports nothing.
TEST(TwoInstallationsTest, TheLibraryReportsToTheOperationThatAsked) {
  const testing::SampleInstallation sample({"--hosts", "1", "--projects", "3", "--seed", "13"});
  const std::string name = extlib::PadName("Nirgendwo");
  std::string text;
  ASSERT_EQ(platform::ReadWholeFile(sample.net_dir() + "/project.dat", &text), 0);
  // A line of a record's length that is no record: the administration cannot be read.
  const size_t last = text.rfind('\n', text.size() - 2) + 1;
  const std::string damaged = std::string(text.size() - last - 2, 'x') + "\r\n";
  ASSERT_EQ(platform::WriteFileAtomic(sample.net_dir() + "/project.dat", text + damaged), 0);
  Side side(sample);
  testing::RecordingMessenger process;  // the current messenger: must hear nothing
  CountingMessenger asked, quiet_asked;
  int quiet_rc = 0, rc = 0;
  std::thread worker([&] {
    extlib::PRJ record;
    extlib::OperationContext ctx(side.installation, &asked);
    rc = extlib::get_project_info(ctx, name, &record);
    // Damaged anew (told once for each version of the file), now for a quiet part.
    EXPECT_EQ(platform::WriteFileAtomic(sample.net_dir() + "/project.dat", text + damaged + damaged), 0);
    side.installation.Projects().OwnWrite();
    extlib::OperationContext quiet_operation(side.installation, &quiet_asked);
    extlib::QuietContext quiet(quiet_operation);
    quiet_rc = extlib::get_project_info(quiet, name, &record);
  });
  worker.join();
  EXPECT_EQ(quiet_rc, extlib::kPrjFailed);
  EXPECT_EQ(rc, extlib::kPrjFailed);
  EXPECT_EQ(quiet_asked.count, 0);
  EXPECT_EQ(asked.count, 1);
  EXPECT_TRUE(process.texts.empty()) << process.texts.front();
}

}  // namespace
}  // namespace dovrane::app
