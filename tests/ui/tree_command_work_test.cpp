// The tree commands' work off the window's thread: the new project's free
// name, and the removal of a host's check-out mark.
#include "ui/tree_command_work.h"

#include <gtest/gtest.h>

#include <set>

#include "extlib/prj_record.h"
#include "support/recording_messenger.h"
#include "tree/tree_fixture.h"

namespace dovrane::ui {
namespace {

TEST(NewProjectNameTest, TakesTheFirstFreeNameOfTheSeries) {
  const std::tuple<std::set<std::string>, std::string> cases[] = {
      {{}, "New project"},
      {{"New project"}, "New project 1"},
      {{"New project", "New project 1", "New project 2"}, "New project 3"},
  };
  for (const auto& [taken, expected] : cases) {
    EXPECT_EQ(FirstFreeProjectName([&](const std::string& padded) {
                EXPECT_EQ(padded.size(), 50u);
                return taken.count(extlib::TrimmedName(padded.c_str())) > 0;
              }),
              expected);
  }
  // All 100 names taken: none.
  EXPECT_EQ(FirstFreeProjectName([](const std::string&) { return true; }), "");
}

TEST(NewProjectNameTest, CreatesUnderTheFirstFreeName) {
  tree::TreeFixture fixture;
  testing::RecordingMessenger messages;
  extlib::OperationContext ctx;
  std::string first, second;
  ASSERT_EQ(CreateNewProject(ctx, "SRV2", &first), 0);
  ASSERT_EQ(CreateNewProject(ctx, "SRV2", &second), 0);
  EXPECT_EQ(first, "New project");
  EXPECT_EQ(second, "New project 1");
  EXPECT_NE(fixture.small.Admin().find("New project 1"), std::string::npos);
}

TEST(HostCheckoutFileTest, RemovesTheMarkAndRefusesNamesOutsideTheNetFolder) {
  tree::TreeFixture fixture;
  testing::RecordingMessenger messages;
  extlib::OperationContext ctx;
  fixture.small.dir.Write("SRV1/cad/Net/SRV2.out", "out");
  fixture.small.dir.Write("SRV1/cad/x.out", "not a mark");
  EXPECT_EQ(RemoveHostCheckoutFile(ctx, "SRV2"), 0);
  EXPECT_FALSE(fixture.small.dir.Exists("SRV1/cad/Net/SRV2.out"));
  for (const char* hostile : {"../x", "..\\x", "", ".hidden"}) EXPECT_EQ(RemoveHostCheckoutFile(ctx, hostile), -1);
  EXPECT_TRUE(fixture.small.dir.Exists("SRV1/cad/x.out"));
  EXPECT_TRUE(messages.texts.empty());
}

}  // namespace
}  // namespace dovrane::ui
