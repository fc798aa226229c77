#include "tree/host_table.h"

#include <gtest/gtest.h>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "support/small_installation.h"
#include "tree/item_kind.h"
#include "tree/tree_fixture.h"

namespace dovrane::tree {
namespace {

TEST(HostTableTest, AdministrationHostFirstThenAdministrationOrderThenHostList) {
  TreeFixture fixture;
  fixture.small.dir.Write("SRV1/cad/Net/data.cfg", "SRV1 \\cad\nSRV2 \\cad\nLAPTOP \\cad\nsrv3 \\cad\n");
  auto table = fixture.Build();
  ASSERT_TRUE(table);
  std::vector<std::string> names;
  for (const auto& host : table->hosts) names.push_back(host->name + ":" + std::to_string(host->row));
  // SRV3 of the administration and srv3 of data.cfg are one host.
  EXPECT_EQ(names, (std::vector<std::string>{"SRV1:0", "SRV2:1", "SRV3:2", "LAPTOP:3"}));
  EXPECT_TRUE(table->hosts[3]->projects.empty());
  EXPECT_EQ(table->hosts[0]->kind, kKindAdminHost);
  EXPECT_EQ(table->hosts[0]->image, kImageAdminHost);
  EXPECT_EQ(table->hosts[1]->image, kImageLocalHost);  // named like this computer
  EXPECT_EQ(table->hosts[3]->image, kImageDataHost);
}

TEST(HostTableTest, ProjectsWithOwnerMembersAndKindsFromStatusAndMarks) {
  TreeFixture fixture;
  auto table = fixture.Build({5});
  ASSERT_TRUE(table);
  const HostRecord* srv2 = table->FindHost("srv2");
  ASSERT_TRUE(srv2);
  ASSERT_EQ(srv2->projects.size(), 3u);
  const ProjectRecord& alpha = srv2->projects[0];
  EXPECT_EQ(alpha.name(), "Alpha");
  EXPECT_EQ(alpha.ChildCount(), 4);
  std::vector<std::string> children;
  for (int row = 1; row < alpha.ChildCount(); ++row) children.emplace_back(alpha.ChildText(row));
  EXPECT_EQ(children, (std::vector<std::string>{"ADMIN", "MUELLER", "SCHMIDT"}));  // the owner is not a member
  EXPECT_EQ(alpha.location(), "");  // looked up when needed
  EXPECT_EQ(srv2->projects[1].kind, kKindProjectOut);
  EXPECT_EQ(srv2->projects[1].image, kImageProjectOut);
  EXPECT_EQ(srv2->projects[2].kind, kKindProjectUnreachable);  // in the mark map
  EXPECT_EQ(table->FindHost("SRV1")->projects[0].kind, kKindProjectHostOut);
  EXPECT_EQ(table->FindHost("SRV1")->projects[0].image, kImageProjectHostOut);
}

TEST(HostTableTest, OwnerAndMembersOnlyWithANameInTheUserTable) {
  TreeFixture fixture;
  FillInput input;
  ASSERT_EQ(ReadFillInput(extlib::DefaultContext(), &input), 0);
  input.user_names.erase(1);  // the owner: an empty owner item
  input.user_names.erase(2);  // a member: left out
  auto table = BuildHostTable(input);
  const ProjectRecord& alpha = table->FindHost("SRV2")->projects[0];
  ASSERT_EQ(alpha.ChildCount(), 3);
  EXPECT_EQ(alpha.ChildText(1), "");
  EXPECT_EQ(alpha.ChildText(2), "SCHMIDT");
  EXPECT_EQ(alpha.ChildText(3), "");  // past the last child
  input.network = false;  // a single-user installation shows no members
  EXPECT_EQ(BuildHostTable(input)->FindHost("SRV2")->projects[0].ChildCount(), 2);
}

TEST(HostTableTest, EveryMemberOfManyProjectsKeepsItsName) {
  testing::SmallInstallation small(2);
  std::vector<extlib::PRJ> records;
  for (uint32_t n = 1; n <= 300; ++n) {
    records.push_back(testing::SmallInstallation::Record("P" + std::to_string(n), n, "SRV2", n % 64 + 1));
    for (uint32_t user = 1; user <= 64; ++user) extlib::SetMemberBit(&records.back(), user, true);
  }
  small.WriteAdministration(records, 300);
  FillInput input;
  ASSERT_EQ(ReadFillInput(extlib::DefaultContext(), &input), 0);
  for (uint32_t user = 1; user <= 64; ++user) input.user_names[user] = "U" + std::to_string(user);
  input.containers = 2;
  auto table = BuildHostTable(input);
  for (const ProjectRecord& record : table->FindHost("SRV2")->projects) {
    const ProjectRecord* project = &record;
    ASSERT_EQ(project->ChildCount(), 2 + 63);
    const uint32_t owner = project->number % 64 + 1;
    EXPECT_EQ(project->ChildText(1), "U" + std::to_string(owner));
    EXPECT_EQ(project->ChildText(64), owner == 64 ? "U63" : "U64");
  }
}

// The snapshot keeps the member bits of every container of the record
// format: members in the last of 31 show, and only as far as the user table's
// containers reach.
TEST(HostTableTest, MembersOfTheLastOf31ContainersShow) {
  testing::SmallInstallation small(31);
  extlib::PRJ first = testing::SmallInstallation::Record("Erste", 1, "SRV2", 1);
  extlib::PRJ second = testing::SmallInstallation::Record("Zweite", 2, "SRV2", 1);
  extlib::SetMemberBit(&first, 992, true);
  extlib::SetMemberBit(&second, 961, true);
  small.WriteAdministration({first, second}, 2);
  FillInput input;
  ASSERT_EQ(ReadFillInput(extlib::DefaultContext(), &input), 0);
  input.user_names = {{1, "OWNER"}, {961, "U961"}, {992, "U992"}};
  input.containers = 31;
  auto table = BuildHostTable(input);
  const auto& projects = table->FindHost("SRV2")->projects;
  ASSERT_EQ(projects.size(), 2u);
  ASSERT_EQ(projects[0].ChildCount(), 3);
  EXPECT_EQ(projects[0].ChildText(2), "U992");
  ASSERT_EQ(projects[1].ChildCount(), 3);
  EXPECT_EQ(projects[1].ChildText(2), "U961");
  input.containers = 30;
  EXPECT_EQ(BuildHostTable(input)->FindHost("SRV2")->projects[0].ChildCount(), 2);
}

TEST(HostTableTest, UnreadableAdministrationLeavesTheTableEmpty) {
  TreeFixture fixture;
  fixture.small.dir.Write("SRV1/cad/Net/project.dat", "garbage that is no header\n");
  FillInput input;
  EXPECT_NE(ReadFillInput(extlib::DefaultContext(), &input), 0);
  EXPECT_TRUE(BuildHostTable(input)->hosts.empty());  // not even data.cfg's hosts
}

TEST(HostTableTest, PingListLeavesOutCheckedOutHostsAndOpenHostNeedsAnOpenKind) {
  TreeFixture fixture;
  auto table = fixture.Build();
  table->FindHost("SRV2")->kind = kKindDataHostOut;
  table->FindHost("SRV3")->kind = kKindDataHostDown;
  EXPECT_EQ(table->PingHostNames(), (std::vector<std::string>{"SRV1", "SRV3"}));
  EXPECT_TRUE(table->IsProjectOnOpenHost(3));
  EXPECT_FALSE(table->IsProjectOnOpenHost(1));
  EXPECT_FALSE(table->IsProjectOnOpenHost(6));
  EXPECT_FALSE(HostTable().IsProjectOnOpenHost(3));
}

TEST(HostTableTest, MoveMarkShowsOnlyOnTheNamedProjectOfTheNamedHost) {
  TreeFixture fixture;
  FillInput input;
  ASSERT_EQ(ReadFillInput(extlib::DefaultContext(), &input), 0);
  input.move_mark = {"Alpha", "SRV2"};
  auto table = BuildHostTable(input);
  EXPECT_EQ(table->FindHost("SRV2")->projects[0].image, kImageProjectMarked);
  EXPECT_EQ(table->FindHost("SRV2")->projects[0].kind, kKindProject);
  input.move_mark = {"Alpha", "SRV1"};
  EXPECT_EQ(BuildHostTable(input)->FindHost("SRV2")->projects[0].image, kImageProject);
}

TEST(HostTableTest, AdministrationHostNameIsTheServerPart) {
  EXPECT_EQ(AdministrationHostName("\\\\SRV1\\cad\\Net\\"), "SRV1");
  EXPECT_EQ(AdministrationHostName("\\\\SRV1"), "SRV1");
  EXPECT_EQ(AdministrationHostName("C:\\cad\\Net\\"), "");
}

}  // namespace
}  // namespace dovrane::tree
