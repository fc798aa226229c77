// Renaming a project in place: the record and the record its folder keeps
// change together, refusals are shown and change nothing.
#include "tree/project_rename.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "extlib/installation/installation.h"
#include "extlib/projects/project_info_file.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"

namespace dovrane::tree {
namespace {

class ProjectRenameTest : public ::testing::Test {
 protected:
  void SetUp() override { site_.Activate(); }
  std::string NameOf(uint32_t number) {
    extlib::PRJ r;
    return site_.Record(number, &r) ? extlib::TrimmedName(r.name) : "";
  }
  extlib::ScopedInstallation installation_;
  testing::SampleSite site_{6};
};

TEST_F(ProjectRenameTest, RecordAndStoredRecordTakeTheNewName) {
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ASSERT_EQ(RenameProject(ctx, "Neuer Name", site_.Name(3)), 0);
  EXPECT_EQ(NameOf(3), "Neuer Name");
  extlib::PRJ r, stored;
  ASSERT_TRUE(site_.Record(3, &r));
  uint32_t net_id = 0;
  ASSERT_EQ(extlib::ReadProjectInfo(site_.ProjectDir(r.host, 3), &net_id, &stored), extlib::kProjectInfoRead);
  EXPECT_EQ(extlib::TrimmedName(stored.name), "Neuer Name");
}

TEST_F(ProjectRenameTest, RefusalsAreShownAndChangeNothing) {
  const std::tuple<std::string, std::string, int> cases[] = {
      {site_.Name(2), site_.Name(1), -4},           // the name is taken
      {"a\\b", site_.Name(1), -8},                  // no folder name
      {std::string(51, 'n'), site_.Name(1), -8},    // would be cut
      {"Neu", "Niemand", -3},                       // no such project
  };
  for (const auto& [to, from, code] : cases) {
    testing::RecordingMessenger messages;
    extlib::OperationContext ctx{extlib::ProcessInstallation()};
    EXPECT_EQ(RenameProject(ctx, to, from), code) << to;
    EXPECT_EQ(messages.texts.size(), 1u) << to;
    EXPECT_EQ(NameOf(1), site_.Name(1)) << to;
  }
}

// Done or refused, a rename leaves one audit line with its names and result.
TEST_F(ProjectRenameTest, EachRenameLeavesOneAuditLineWithItsResult) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"Neuer Name", site_.Name(3), "\t0\tOK\r\n"},
      {site_.Name(2), site_.Name(1), "\t-4\t"},  // the name is taken
  };
  std::string before;
  for (const auto& [to, from, result] : cases) {
    testing::RecordingMessenger messages;
    extlib::OperationContext ctx{extlib::ProcessInstallation()};
    (void)RenameProject(ctx, to, from);
    const std::string log = testing::ReadFile(site_.NetDir() + "/dovrane.log");
    ASSERT_EQ(log.substr(0, before.size()), before);
    const std::string line = log.substr(before.size());
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_NE(line.find("\trename "), std::string::npos) << line;
    EXPECT_NE(line.find(extlib::TrimmedName(from.c_str())), std::string::npos) << line;
    EXPECT_NE(line.find(result), std::string::npos) << line;
    before = log;
  }
}

TEST(LabelEditTest, AcceptsOnlyAChangedNameNotStartingWithABlank) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"Neu", "Alt", true}, {"Alt", "Alt", false}, {"", "Alt", false}, {" Neu", "Alt", false},
      {"   ", "Alt", false}, {"alt", "Alt", true},
  };
  for (const auto& [text, old, accepted] : cases) EXPECT_EQ(AcceptsNewLabel(text, old), accepted) << text;
}

}  // namespace
}  // namespace dovrane::tree
