// The copy of a project to another host as the tree commands run it: its own
// number and stored record, the files through the copy engine with progress,
// and a cancel or a failure that leaves nothing behind.
#include "tree/project_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "extlib/installation/installation.h"
#include "extlib/projects/project_info_file.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"
#include "support/stopping_progress.h"

namespace dovrane::tree {
namespace {

using testing::Exists;
using testing::ReadFile;

class ProjectCopyTest : public ::testing::Test {
 protected:
  void SetUp() override { site_.Activate(); }
  std::string HostOf(uint32_t number) {
    extlib::PRJ r;
    EXPECT_TRUE(site_.Record(number, &r));
    return r.host;
  }
  std::string OtherHost(uint32_t number) { return HostOf(number) == "SRV1" ? "SRV2" : "SRV1"; }
  // Work folders, journals and new folders a copy may leave anywhere.
  std::string Leftovers() {
    std::string found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(site_.unc_root())) {
      const std::string name = e.path().filename().string();
      if (name.ends_with(".new~") || name.ends_with(".prj.new") || name == "n0000013.prj") found += name + " ";
    }
    return found;
  }
  extlib::ScopedInstallation installation_;
  testing::SampleSite site_{12};
};

TEST_F(ProjectCopyTest, CopyGetsItsOwnNumberStoredRecordAndTheFiles) {
  const std::string target = OtherHost(1);
  testing::StoppingProgress progress;
  extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &progress);
  uint32_t number = 0;
  ASSERT_EQ(CopyProjectToHost(ctx, site_.Shown(1), "Kopie", target, &number), 0);
  EXPECT_EQ(number, 13u);
  EXPECT_EQ(HostOf(13), target);
  const std::string from = site_.ProjectDir(HostOf(1), 1), to = site_.ProjectDir(target, 13);
  EXPECT_EQ(ReadFile(to + "/objects.dat"), ReadFile(from + "/objects.dat"));
  uint32_t net_id = 0;
  extlib::PRJ stored;
  ASSERT_EQ(extlib::ReadProjectInfo(to, &net_id, &stored), extlib::kProjectInfoRead);
  EXPECT_EQ(stored.number, 13u);
  EXPECT_EQ(extlib::TrimmedName(stored.name), "Kopie");
  ASSERT_GE(progress.fractions.size(), 3u);  // counted over the bytes, finished at the end
  EXPECT_EQ(progress.fractions.back(), 1.0);
  EXPECT_EQ(Leftovers(), "n0000013.prj ");
}

// Cancelled at the first poll (while counting), in the middle and near the end.
TEST_F(ProjectCopyTest, CancelAtAnyPointLeavesNothingBehind) {
  for (int poll : {1, 4, 12}) {
    testing::RecordingMessenger messages;
    testing::StoppingProgress progress(poll);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &progress);
    uint32_t number = 0;
    EXPECT_EQ(CopyProjectToHost(ctx, site_.Name(2), "Kopie", OtherHost(2), &number), -11) << poll;
    extlib::PRJ record;
    EXPECT_FALSE(site_.Record(13, &record)) << poll;
    EXPECT_EQ(Leftovers(), "") << poll;
    EXPECT_TRUE(messages.texts.empty()) << poll;  // the person stopped it and knows
  }
}

TEST_F(ProjectCopyTest, NamesLongerThanFiftyAreHandedBackNotCut) {
  const std::string long_source(47, 'x');
  EXPECT_FALSE(NeedsNameCut(CopyName("Bau")));
  EXPECT_TRUE(NeedsNameCut(CopyName(long_source + "   ")));
  EXPECT_EQ(CopyName("  Bau  ").find("Bau"), CopyName("  Bau  ").size() - 3);  // trimmed, ends with the source
  testing::RecordingMessenger messages;
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  uint32_t number = 0;
  EXPECT_EQ(CopyProjectToHost(ctx, site_.Name(1), std::string(51, 'k'), OtherHost(1), &number), -8);
  EXPECT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(Leftovers(), "");
}

// Done, refused or cancelled, a copy leaves one audit line with its result.
TEST_F(ProjectCopyTest, EachCopyLeavesOneAuditLineWithItsResult) {
  const std::tuple<std::string, int, std::string> cases[] = {
      {"Kopie", 0, "\t0\tOK\r\n"},
      {std::string(51, 'k'), 0, "\t-8\t"},
      {"Abgebrochen", 1, "\t-11\t"},
  };
  std::string before;
  for (const auto& [name, stop_at, result] : cases) {
    testing::RecordingMessenger messages;
    testing::StoppingProgress progress(stop_at);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &progress);
    uint32_t number = 0;
    (void)CopyProjectToHost(ctx, site_.Name(1), name, OtherHost(1), &number);
    const std::string log = ReadFile(site_.NetDir() + "/dovrane.log");
    ASSERT_EQ(log.substr(0, before.size()), before);
    const std::string line = log.substr(before.size());
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_NE(line.find("\tcopy "), std::string::npos) << line;
    EXPECT_NE(line.find(" " + OtherHost(1) + "\t"), std::string::npos) << line;
    EXPECT_NE(line.find(result), std::string::npos) << line;
    before = log;
  }
}

}  // namespace
}  // namespace dovrane::tree
