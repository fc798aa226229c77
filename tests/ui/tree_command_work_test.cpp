// The tree commands' work off the window's thread: the new project's free
// name, and the removal of a host's check-out mark.
#include "ui/tree_command_work.h"

#include <gtest/gtest.h>

#include <set>

#include "extlib/hosts.h"
#include "extlib/prj_record.h"
#include "tree/item_commands.h"
#include "support/recording_messenger.h"
#include "tree/tree_fixture.h"

namespace dovrane::ui {
namespace {

TEST(NewProjectNameTest, TakesTheFirstFreeNameOfTheSeries) {
  struct Case {
    std::set<std::string> taken;
    std::string expected;
  };
  const Case cases[] = {
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

// The library creates silently for the window; a failure is told here, once.
TEST(NewProjectNameTest, AFailedCreateIsTold) {
  tree::TreeFixture fixture;
  testing::RecordingMessenger messages;
  extlib::OperationContext ctx;
  std::string name;
  EXPECT_NE(CreateNewProject(ctx, "NOSUCHHOST", &name), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(messages.texts.size(), 1u) << messages.All();
  EXPECT_EQ(fixture.small.Admin().find("New project"), std::string::npos);
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

TEST(PropertiesWorkTest, MeasuresTheProjectOrTheHostsProjectRoot) {
  tree::TreeFixture fixture;
  testing::RecordingMessenger messages;
  fixture.small.dir.Write("SRV2/cad/Prj/n0000001.prj/data.bin", std::string(3000, 'x'));
  std::vector<std::string> pinged;
  const CommandPing ping = [&](const std::string& host) {
    pinged.push_back(host);
    return 0;
  };
  extlib::OperationContext ctx;
  PropertiesResult project, host;
  GatherProperties(ctx, {tree::kKindProject, "Alpha", "SRV2", 0, 0, "", ping}, &project);
  GatherProperties(ctx, {tree::kKindHost, "SRV2", "", 2, tree::kKindProject, "Alpha", ping}, &host);
  EXPECT_TRUE(project.show_dialog && host.show_dialog);
  EXPECT_EQ(project.number, 1);
  EXPECT_EQ(project.files, 2);  // version.txt and data.bin
  EXPECT_EQ(host.path, "\\\\SRV2\\cad\\Prj");
  EXPECT_EQ(host.files, 4);     // both project folders of SRV2
  EXPECT_EQ(pinged, (std::vector<std::string>{"SRV2", "SRV2"}));
  EXPECT_TRUE(messages.texts.empty());
}

TEST(PropertiesWorkTest, AnUnknownDirectoryOrASilentServerIsShownAndMeasuresNothing) {
  tree::TreeFixture fixture;
  const std::tuple<std::string, int, std::string> cases[] = {
      {"Niemand", 0, extlib::_WSAGetErrorString(3)},
      {"Alpha", 11001, extlib::_WSAGetErrorString(11001)},
  };
  for (const auto& [name, ping_result, text] : cases) {
    testing::RecordingMessenger messages;
    extlib::OperationContext ctx;
    PropertiesResult result;
    const PropertiesRequest request{tree::kKindProject, name, "SRV2", 0, 0, "", [&](const std::string&) {
                                      return ping_result;
                                    }};
    GatherProperties(ctx, request, &result);
    EXPECT_FALSE(result.show_dialog) << name;
    ASSERT_EQ(messages.texts.size(), 1u) << name;
    EXPECT_EQ(messages.texts[0], text);
    EXPECT_EQ(messages.messages[0].flags & platform::kMbIconMask, platform::kMbIconError);
  }
}

}  // namespace
}  // namespace dovrane::ui
