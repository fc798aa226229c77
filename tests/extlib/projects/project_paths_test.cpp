#include "extlib/projects/project_paths.h"

#include <gtest/gtest.h>

#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_info_file.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

class ProjectPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = Msg2usr_Switch(DefaultContext(), 1);
    PRJ linked = SmallInstallation::Record("Linked", 7, "SRV2");
    linked.status |= kStatusLink;
    PRJ plain = SmallInstallation::Record("Altbau", 0);
    inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5), linked, plain}, 7);
    inst_.MakeProjectFolder("SRV1", 5);
    inst_.dir.Write("SRV2/cad/elsewhere/Linked.prj/version.txt", "19\n");
    inst_.dir.Write("SRV2/cad/Prj/n0000007.prj", "\\\\SRV2\\cad\\elsewhere\\Linked.prj\r\n");
  }
  void TearDown() override { Msg2usr_Switch(DefaultContext(), previous_); }
  SmallInstallation inst_;
  int previous_ = 0;
};

TEST_F(ProjectPathsTest, LinkFilesResolve) {
  inst_.dir.Write("SRV1/cad/Prj/empty.prj", "");
  inst_.dir.Write("SRV1/cad/Prj/relative.prj", "elsewhere\\x.prj\r\n");
  inst_.dir.Write("SRV1/cad/Prj/gone.prj", "\\\\SRV1\\cad\\Prj\\n0000099.prj\r\n");
  inst_.dir.Write("SRV1/cad/Prj/offline.prj", "\\\\SRV9\\cad\\Prj\\n0000001.prj\r\n");
  struct Case { std::string path; int rc; std::string resolved; } cases[] = {
      {"\\\\SRV1\\cad\\Prj\\n0000005.prj", 0, "\\\\SRV1\\cad\\Prj\\n0000005.prj"},
      {"\\\\SRV2\\cad\\Prj\\n0000007.prj", 0, "\\\\SRV2\\cad\\elsewhere\\Linked.prj"},
      {"\\\\SRV1\\cad\\Prj\\empty.prj", -2, ""},
      {"\\\\SRV1\\cad\\Prj\\relative.prj", -2, ""},
      {"\\\\SRV1\\cad\\Prj\\gone.prj", -2, ""},
      {"\\\\SRV1\\cad\\Prj\\offline.prj", -1, ""},
      {"\\\\SRV1\\cad\\Prj\\nothing.prj", 1, ""},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(resolve_prj_link(DefaultContext(), &path), c.rc) << c.path;
    if (c.rc == 0) {
      EXPECT_EQ(path, c.resolved);
    }
  }
}

TEST_F(ProjectPathsTest, EntryAndFolderOfRecords) {
  std::string dir;
  int extra = 0;
  ASSERT_EQ(ltpdirC(DefaultContext(), 23, "Linked", &dir, &extra), 0);
  EXPECT_EQ(dir, "\\\\SRV2\\cad\\elsewhere\\Linked.prj");
  EXPECT_EQ(extra, kStatusBlank | kStatusLink);
  ASSERT_EQ(ltpdirC(DefaultContext(), 23, "Altbau", &dir, &extra), -6);  // plain-named folder not there
  EXPECT_EQ(dir, "\\\\SRV1\\cad\\Prj\\Altbau.prj");
  EXPECT_EQ(ltpdirC(DefaultContext(), 23, "Nobody", &dir, &extra), -3);
  PRJ stranger = SmallInstallation::Record("X", 3, "SRV7");
  EXPECT_EQ(build_prj_dir(DefaultContext(), stranger, &dir), -19);
  std::string lock;
  ASSERT_NE(get_lock_info_file(DefaultContext(), 5, &lock), 0);
  EXPECT_EQ(lock, "\\\\SRV1\\cad\\Prj\\n0000005.prj\\project.lck");
  EXPECT_EQ(get_lock_info_file(DefaultContext(), 6, &lock), 0);
}

TEST_F(ProjectPathsTest, PrivateProjectsLieOnlyInTheLocalFolder) {
  inst_.dir.Write("SRV1/cad/local/Prj/Mein Haus.prj/version.txt", "20\n");
  EXPECT_NE(ltbispC(DefaultContext(), "Mein Haus"), 0);
  EXPECT_EQ(ltbispC(DefaultContext(), "Alpha"), 0);
  EXPECT_EQ(ltbispC(DefaultContext(), "Fremd"), 0);
}

TEST(ProjectInfoFileTest, RoundTripAndDamage) {
  PRJ r = SmallInstallation::Record("Haus", 12, "SRV1", 3);
  std::string text = FormatProjectInfo(0xABCD1234, r, 2);
  uint32_t id = 0;
  PRJ back;
  ASSERT_EQ(ParseProjectInfo(text, &id, &back), 0);
  EXPECT_EQ(id, 0xABCD1234u);
  EXPECT_EQ(back.number, 12u);
  EXPECT_TRUE(MemberBit(back, 3));
  for (size_t cut : {size_t{5}, text.size() - 10}) EXPECT_EQ(ParseProjectInfo(text.substr(0, cut), &id, &back), -1);
  std::string bad = text;
  bad.replace(bad.find("netid ") + 6, 1, "Z");
  EXPECT_EQ(ParseProjectInfo(bad, &id, &back), -1);
}

}  // namespace
}  // namespace dovrane::extlib
