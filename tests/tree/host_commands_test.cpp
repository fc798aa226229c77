// The host commands' steps that look at the installation, without a window.
#include "tree/host_commands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/settings.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"
#include "tree/item_kind.h"

namespace dovrane::tree {
namespace {

class HostCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.Activate();
    extlib::SetProjectListRevalidateMs(0);
  }
  // The WS01 projects as the host tree lists them.
  std::vector<HostChild> Children() {
    std::vector<HostChild> children;
    for (uint32_t n = 1; n <= 6; ++n) {
      extlib::PRJ r;
      std::string name;  // the tree's text is Windows-1252, as the records hold it
      if (site_.Record(n, &r) && std::string(r.host) == "WS01" && platform::Utf8ToCp1252(site_.Name(n), &name))
        children.push_back({name, tree::kKindProject});
    }
    return children;
  }
  // A checked-out copy below WS01 with these first lines.
  void Copy(const std::string& version, const std::string& id) {
    testing::WriteFile(site_.unc_root() + "/WS01/copy/Std/version.txt", version + "\r\nmore\r\n");
    testing::WriteFile(site_.unc_root() + "/WS01/copy/Net/net.id", id + "\r\n");
    ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CheckedOutPath", "\\\\WS01\\copy"));
  }
  std::string FirstLine(const std::string& rel) {
    std::string text = testing::ReadFile(site_.unc_root() + "/SRV1/cad/" + rel);
    return text.substr(0, text.find_first_of("\r\n"));
  }

  testing::SampleSite site_{6, 2, true};
  testing::RecordingMessenger messenger_;
};

TEST_F(HostCommandsTest, CompatibilityNeedsTheSameStandardVersionAndNetworkIdentifier) {
  const std::string version = FirstLine("STD/version.txt"), id = FirstLine("Net/net.id");
  struct Case {
    std::string version, id;
    bool compatible;
    unsigned message;  // UI text (1, n) shown, 0: none
  };
  for (const Case& c : {Case{version, id, true, 0}, Case{version + "1", id, false, 18},
                        Case{version, id + "1", false, 19}, Case{version + "1", id + "1", false, 18}}) {
    Copy(c.version, c.id);
    messenger_.texts.clear();
    EXPECT_EQ(CheckCheckinCompatibility(extlib::DefaultContext()), c.compatible) << c.version << " " << c.id;
    if (c.message == 0) {
      EXPECT_TRUE(messenger_.texts.empty());
    } else {
      ASSERT_EQ(messenger_.texts.size(), 1u);
      EXPECT_EQ(messenger_.texts[0], services::UiText(1, c.message, "SRV1") + "\n" + services::UiText(1, 7));
    }
  }
}

TEST_F(HostCommandsTest, CompatibilityNamesTheFileThatCannotBeRead) {
  Copy(FirstLine("STD/version.txt"), FirstLine("Net/net.id"));
  std::filesystem::remove(site_.unc_root() + "/WS01/copy/Net/net.id");
  EXPECT_FALSE(CheckCheckinCompatibility(extlib::DefaultContext()));
  ASSERT_EQ(messenger_.texts.size(), 1u);
  EXPECT_EQ(messenger_.texts[0].rfind("\\\\WS01\\copy\\Net\\net.id\n\n", 0), 0u) << messenger_.texts[0];
  ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"));
  messenger_.texts.clear();
  EXPECT_FALSE(CheckCheckinCompatibility(extlib::DefaultContext()));
  EXPECT_EQ(messenger_.texts, std::vector<std::string>{services::UiText(3, 10)});
}

TEST_F(HostCommandsTest, TheHostListStopsAtTheFirstProjectThatMayNotGo) {
  std::vector<HostChild> children = Children();
  ASSERT_GE(children.size(), 2u);
  HostListResult all = BuildHostList(extlib::DefaultContext(), HostListPurpose::kCheckOut, "WS01", children);
  ASSERT_EQ(all.refused_row, -1);
  ASSERT_EQ(all.list.size(), children.size());
  EXPECT_EQ(all.list[0].host, "WS01");
  EXPECT_EQ(all.list[1].host, "");
  EXPECT_NE(all.list[1].location.find("\\\\WS01\\"), std::string::npos) << all.list[1].location;
  // A project in use may not go either way; check-out takes free ones only.
  children[1].kind = tree::kKindProjectInUse;
  EXPECT_EQ(BuildHostList(extlib::DefaultContext(), HostListPurpose::kCheckOut, "WS01", children).refused_row, 1);
  EXPECT_EQ(BuildHostList(extlib::DefaultContext(), HostListPurpose::kCheckIn, "WS01", children).refused_row, -1);
  children[1].kind = tree::kKindProject;
  children[0].text = "Not in the administration";
  HostListResult unknown = BuildHostList(extlib::DefaultContext(), HostListPurpose::kCheckIn, "WS01", children);
  EXPECT_EQ(unknown.refused_row, 0);
  EXPECT_TRUE(unknown.list.empty());
  EXPECT_TRUE(messenger_.texts.empty());
}

TEST_F(HostCommandsTest, OtherChildrenAreReportedByCheckInAndSkippedByCheckOut) {
  std::vector<HostChild> children = Children();
  children.insert(children.begin() + 1, HostChild{"Stray", tree::kKindDirectory});
  HostListResult out = BuildHostList(extlib::DefaultContext(), HostListPurpose::kCheckOut, "WS01", children);
  EXPECT_EQ(out.list.size(), children.size() - 1);
  EXPECT_TRUE(messenger_.texts.empty());
  HostListResult in = BuildHostList(extlib::DefaultContext(), HostListPurpose::kCheckIn, "WS01", children);
  EXPECT_EQ(in.list.size(), children.size() - 1);
  EXPECT_EQ(messenger_.texts, std::vector<std::string>{"Invalid item detected: [Stray]!\n\nskipped..."});
}

TEST_F(HostCommandsTest, UserContainersOtherThanLocalAreNamed) {
  extlib::OperationContext ctx(extlib::ProcessInstallation(), &messenger_);
  const std::string usr = site_.unc_root() + "/WS01/cad/Usr";
  std::filesystem::remove_all(usr);
  std::filesystem::create_directories(usr + "/Local");
  EXPECT_EQ(OtherUserContainers(ctx), "");
  for (const char* name : {"mueller", ".hidden", "schmidt"}) std::filesystem::create_directories(usr + "/" + name);
  testing::WriteFile(usr + "/file", "x");
  EXPECT_EQ(OtherUserContainers(ctx), "[mueller]\n[schmidt]");
}

}  // namespace
}  // namespace dovrane::tree
