// The project queries through the real program on a sample installation.
#include "app/projects/project_queries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/command_table.h"
#include "support/sample_site.h"

namespace dovrane::app {
namespace {

using testing::Exists;
using testing::ReadFile;

class ProjectQueriesTest : public ::testing::Test {
 protected:
  std::string Padded(uint32_t number) { return site_.Shown(number); }
  testing::SampleSite site_{12};
};

TEST_F(ProjectQueriesTest, ExistAnswersOnlyWithTheStatus) {
  const std::pair<std::string, int> cases[] = {{site_.Name(3), 0}, {"Nobody", 253}, {site_.Name(3) + "x", 253}};
  for (const auto& [name, status] : cases) {
    auto r = site_.Run({name, "-exist"});
    EXPECT_EQ(r.status, status) << name;
    EXPECT_EQ(r.out + r.err, "") << name;
  }
}

TEST_F(ProjectQueriesTest, GettersWriteOneLineIntoTheNamedFile) {
  site_.EditRecord(5, [](extlib::PRJ* r) { r->dbkey = 4000000000u; });
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(5, &record));
  const std::string path = "\\\\" + std::string(record.host) + "\\cad\\Prj\\n0000005.prj\n";
  const std::string start = site_.start_dir() + "/";
  const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
      {"-getnumber", "n.txt", start + "n.txt", "0000005\n"},
      {"-getdbid", "k.txt", start + "k.txt", "4000000000\n"},  // unsigned, never negative
      {"-getpath", "sub/p.txt", start + "sub/p.txt", path},     // relative to the folder started in
      {"-getnumber", "\\\\SRV2\\cad\\n.txt", site_.root() + "/unc/SRV2/cad/n.txt", "0000005\n"},
  };
  std::filesystem::create_directories(site_.start_dir() + "/sub");
  for (const auto& [option, file, native, line] : cases) {
    auto r = site_.Run({site_.Name(5), option, file});
    EXPECT_EQ(r.status, 0) << option << r.err;
    EXPECT_EQ(ReadFile(native), line) << file;
    EXPECT_FALSE(Exists(site_.WorkDir() + "/" + file)) << file;
    EXPECT_EQ(r.out + r.err, "") << file;
  }
}

TEST_F(ProjectQueriesTest, MissingProjectLeavesTheFileEmptyAndEndsWithItsCode) {
  for (const char* option : {"-getnumber", "-getdbid", "-getpath"}) {
    testing::WriteFile(site_.start_dir() + "/out.txt", "old\n");
    auto r = site_.Run({"Nobody", option, "out.txt"});
    EXPECT_EQ(r.status, 253) << option;
    EXPECT_EQ(ReadFile(site_.start_dir() + "/out.txt"), "") << option;
    // -getpath only beeps; the other two warn.
    const std::string warning = "No access to project <" + PadProjectName("Nobody") + ">\n";
    EXPECT_EQ(r.err, std::string(option) == "-getpath" ? "" : warning) << option;
  }
}

TEST_F(ProjectQueriesTest, UnwritableOutputFileEndsWithMinusOneAndIsNamed) {
  auto r = site_.Run({site_.Name(2), "-getnumber", "no/such/folder/n.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Can't write the output file no/such/folder/n.txt: No such file or directory\n");
}

TEST_F(ProjectQueriesTest, GettersWithoutFileShowTheirResult) {
  site_.EditRecord(2, [](extlib::PRJ* r) { r->dbkey = 77; });
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(2, &record));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{site_.Name(2), "-getnumber"}, "Project name: " + Padded(2) + "\nProject number: 0000002\n"},
      {{site_.Name(2), "-getdbid"}, "PrjName: <" + Padded(2) + ">\nPrjDBkey: 77\n"},
      {{site_.Name(2), "-getpath", ""}, "\\\\" + std::string(record.host) + "\\cad\\Prj\\n0000002.prj\n"},
  };
  for (const auto& [args, text] : cases) {
    auto r = site_.Run(args);
    EXPECT_EQ(r.status, 0) << args[1];
    EXPECT_EQ(r.out, text) << args[1];
  }
}

TEST(ProjectQueriesNumberTest, NumberFortyTwoIsWrittenWithLeadingZeros) {
  testing::SampleSite site(42);
  auto r = site.Run({site.Name(42), "-getnumber", "out.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(site.start_dir() + "/out.txt"), "0000042\n");
}

TEST_F(ProjectQueriesTest, InfoShowsTheRecordWithMembersFourThenFive) {
  site_.EditRecord(4, [](extlib::PRJ* r) {
    r->begin = 1000043200;  // 9 September 2001, midday UTC
    r->dbkey = 123;
    std::memset(r->members, 0, sizeof r->members);
    r->owner = 1;
    for (uint32_t u = 1; u <= 10; ++u) extlib::SetMemberBit(r, u, true);
  });
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(4, &record));
  auto r = site_.Run({site_.Name(4), "-info"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string dir = "\\\\" + std::string(record.host) + "\\cad\\Prj\\n0000004.prj\\";
  const std::string head = "PrjName\t : " + Padded(4) + "\nPrjNumber : n0000004\nPrjBegin\t : 09.09.2001\n"
                           "PrjDBkey\t : 0000000123\nPrjHost\t : " + record.host + "\nPrjPath\t : " + dir + "\nPrjSize\t : ";
  EXPECT_EQ(r.out.substr(0, head.size()), head);
  const std::string tail = " MByte\nPrjOwner\t : ADMIN\nPrjMembers:  MUELLER   SCHMIDT   SCHNEIDE  FISCHER   \n"
                           "  WEBER     MEYER     WAGNER    BECKER    SCHULZ    \n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_EQ(r.out.size(), head.size() + 12 + tail.size());  // "%12.3lf"
}

TEST_F(ProjectQueriesTest, InfoOfUnknownBeginAndUnreachableFolder) {
  site_.EditRecord(6, [](extlib::PRJ* r) { r->begin = 0; });
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(6, &record));
  std::filesystem::remove_all(site_.ProjectDir(record.host, 6));
  auto r = site_.Run({site_.Name(6), "-info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("PrjBegin\t :  < unknown > \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PrjPath\t :  < unknown > \nPrjSize\t :  < unknown > \n"), std::string::npos) << r.out;
}

TEST_F(ProjectQueriesTest, InfoOfALinkNamesTheLinkAndItsFolder) {
  site_.EditRecord(7, [](extlib::PRJ* r) { r->status = 32 + 0x20; });
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(7, &record));
  const std::string entry = site_.ProjectDir(record.host, 7);
  std::filesystem::rename(entry, site_.root() + "/unc/SRV1/cad/Elsewhere");
  testing::WriteFile(entry, "\\\\SRV1\\cad\\Elsewhere\r\n");
  auto r = site_.Run({site_.Name(7), "-info"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string link = "PrjLink\t : \\\\" + std::string(record.host) + "\\cad\\Prj\\n0000007.prj\n"
                           "PrjPath\t : \\\\SRV1\\cad\\Elsewhere\\\n";
  EXPECT_NE(r.out.find(link), std::string::npos) << r.out;
  // A link is not moved.
  r = site_.Run({site_.Name(7), "-move", std::string(record.host) == "SRV2" ? "SRV3" : "SRV2"});
  EXPECT_EQ(r.status, 256 - 6);
  EXPECT_EQ(r.err, "No support for project link.\nProject <" + Padded(7) + ">\n on host <" + record.host +
                       "> is a link.\n");
}

TEST_F(ProjectQueriesTest, InfoOnASingleWorkstationHasNoHostOwnerOrMembers) {
  site_.DropHostList();
  auto r = site_.Run({site_.Name(3), "-info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("PrjName\t : " + Padded(3) + "\n"), std::string::npos);
  EXPECT_NE(r.out.find("PrjPath\t : "), std::string::npos);
  for (const char* absent : {"PrjHost", "PrjOwner", "PrjMembers"}) EXPECT_EQ(r.out.find(absent), std::string::npos);
}

TEST_F(ProjectQueriesTest, NamesWithFormatCharactersAreShownAsTyped) {
  site_.EditRecord(7, [](extlib::PRJ* r) { extlib::SetPrjName(r, "50%s %n off"); });
  auto r = site_.Run({"50%s %n off", "-info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("PrjName\t : " + PadProjectName("50%s %n off") + "\n"), std::string::npos) << r.out;
  r = site_.Run({"%d%%x", "-info"});  // no project can have it
  EXPECT_EQ(r.status, 256 - 8);
  EXPECT_EQ(r.err, "Invalid project name\n");
}

}  // namespace
}  // namespace dovrane::app
