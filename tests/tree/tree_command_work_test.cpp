// The tree commands' work off the window's thread: the new project's free
// name, and the removal of a host's check-out mark.
#include "tree/tree_command_work.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <set>

#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/records/prj_record.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "tree/item_commands.h"
#include "support/recording_messenger.h"
#include "tree/tree_fixture.h"

namespace dovrane::tree {
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
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
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
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  std::string name;
  EXPECT_NE(CreateNewProject(ctx, "NOSUCHHOST", &name), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(messages.texts.size(), 1u) << messages.All();
  EXPECT_EQ(fixture.small.Admin().find("New project"), std::string::npos);
}

TEST(HostCheckoutFileTest, RemovesTheMarkAndRefusesNamesOutsideTheNetFolder) {
  tree::TreeFixture fixture;
  testing::RecordingMessenger messages;
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  fixture.small.dir.Write("SRV1/cad/Net/SRV2.out", "out");
  fixture.small.dir.Write("SRV1/cad/x.out", "not a mark");
  EXPECT_EQ(RemoveHostCheckoutFile(ctx, "SRV2"), 0);
  EXPECT_FALSE(fixture.small.dir.Exists("SRV1/cad/Net/SRV2.out"));
  for (const char* hostile : {"../x", "..\\x", "", ".hidden"}) EXPECT_EQ(RemoveHostCheckoutFile(ctx, hostile), -1);
  EXPECT_TRUE(fixture.small.dir.Exists("SRV1/cad/x.out"));
  EXPECT_TRUE(messages.texts.empty());
}

TEST(PropertiesWorkTest, FoldersTheFileSystemReachesAreMeasuredWhateverThePingSays) {
  tree::TreeFixture fixture;
  fixture.small.dir.Write("SRV2/cad/Prj/n0000001.prj/data.bin", std::string(3000, 'x'));
  for (const int ping_result : {0, 11001}) {
    testing::RecordingMessenger messages;
    std::vector<std::string> pinged;
    const CommandPing ping = [&](const std::string& host) {
      pinged.push_back(host);
      return ping_result;
    };
    extlib::OperationContext ctx{extlib::ProcessInstallation()};
    PropertiesResult project, host;
    GatherProperties(ctx, {tree::kKindProject, "Alpha", "SRV2", 0, 0, "", ping}, &project);
    GatherProperties(ctx, {tree::kKindHost, "SRV2", "", 2, tree::kKindProject, "Alpha", ping}, &host);
    EXPECT_TRUE(project.show_dialog && host.show_dialog) << ping_result;
    EXPECT_EQ(project.number, 1);
    EXPECT_EQ(project.files, 2);  // version.txt and data.bin
    EXPECT_EQ(host.path, "\\\\SRV2\\cad\\Prj");
    EXPECT_EQ(host.files, 4);     // both project folders of SRV2
    // A name the resolver does not know is no reason to refuse a reachable folder.
    EXPECT_TRUE(pinged.empty());
    EXPECT_TRUE(messages.texts.empty());
  }
}

TEST(PropertiesWorkTest, WhatCannotBeReachedOrListedIsShownWithItsCause) {
  tree::TreeFixture fixture;
  fixture.small.dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nSRV2 \\cad\nSRV4 \\cad\n");
  struct Case {
    PropertiesRequest request;
    int ping_result;
    std::string text;
    std::vector<std::string> pinged;
  };
  Case cases[] = {
      // No record: no directory at all.
      {{tree::kKindProject, "Niemand", "SRV2", 0, 0, "", nullptr}, 0, extlib::_WSAGetErrorString(3), {}},
      // Epsilon's folder is missing: the server answers, so the path was not found...
      {{tree::kKindProject, "Epsilon", "SRV2", 0, 0, "", nullptr}, 0, extlib::_WSAGetErrorString(3), {"SRV2"}},
      // ...or the server's own failure is the better reason.
      {{tree::kKindProject, "Epsilon", "SRV2", 0, 0, "", nullptr}, 11001, extlib::_WSAGetErrorString(11001), {"SRV2"}},
      // A host without projects has only its ping to show.
      {{tree::kKindHost, "SRV4", "", 0, 0, "", nullptr}, 10060, extlib::_WSAGetErrorString(10060), {"SRV4"}},
  };
  for (Case& c : cases) {
    for (const bool ping_allowed : {true, false}) {
      testing::RecordingMessenger messages;
      extlib::OperationContext ctx{extlib::ProcessInstallation()};
      PropertiesResult result;
      std::vector<std::string> pinged;
      c.request.ping = [&](const std::string& host) {
        pinged.push_back(host);
        return c.ping_result;
      };
      c.request.ping_allowed = ping_allowed;
      GatherProperties(ctx, c.request, &result);
      const std::string where = c.request.name + (ping_allowed ? " pinging" : " not pinging");
      EXPECT_FALSE(result.show_dialog) << where;
      if (!ping_allowed) {
        EXPECT_TRUE(pinged.empty()) << where;
        // Without pinging, the host without projects shows its plain box.
        if (c.request.kind == tree::kKindHost) {
          EXPECT_TRUE(result.host_without_projects) << where;
          EXPECT_TRUE(messages.texts.empty()) << where;
          continue;
        }
        if (c.ping_result != 0) continue;  // the ping's reason is not known then
      } else {
        EXPECT_EQ(pinged, c.pinged) << where;
      }
      ASSERT_EQ(messages.texts.size(), 1u) << where;
      EXPECT_EQ(messages.texts[0], c.text) << where;
      EXPECT_EQ(messages.messages[0].flags & platform::kMbIconMask, platform::kMbIconError);
    }
  }
}

// An Env on which one folder cannot be listed, as for a person without the right to.
class UnlistableEnv : public platform::Env {
 public:
  std::string closed;
  int ListDir(const std::string& path, std::vector<platform::DirEntry>* entries) override {
    return path == closed ? -EACCES : Env::ListDir(path, entries);
  }
};

TEST(PropertiesWorkTest, AFolderThatCannotBeListedIsNamedAndNotCountedAsEmpty) {
  tree::TreeFixture fixture;
  fixture.small.dir.Write("SRV2/cad/Prj/n0000001.prj/sub/data.bin", std::string(3000, 'x'));
  const std::string project = fixture.small.Native("SRV2/cad/Prj/n0000001.prj");
  UnlistableEnv env;
  platform::Env* previous = platform::SetCurrentEnv(&env);
  for (const std::string& closed : {project + "/sub", project}) {
    env.closed = closed;
    testing::RecordingMessenger messages;
    extlib::OperationContext ctx{extlib::ProcessInstallation()};
    PropertiesResult result;
    GatherProperties(ctx, {tree::kKindProject, "Alpha", "SRV2", 0, 0, "", nullptr}, &result);
    ASSERT_EQ(messages.texts.size(), 1u) << closed;
    EXPECT_NE(messages.texts[0].find(platform::PathMap::Instance().ToWindows(closed)), std::string::npos)
        << messages.texts[0];
    EXPECT_NE(messages.texts[0].find(platform::SystemErrorText(EACCES)), std::string::npos) << messages.texts[0];
    // The rest is counted; a folder that shows nothing shows no figures.
    EXPECT_EQ(result.show_dialog, closed != project) << closed;
    if (result.show_dialog) {
      EXPECT_EQ(result.files, 1);  // version.txt
    }
  }
  platform::SetCurrentEnv(previous);
}

}  // namespace
}  // namespace dovrane::tree
