#include "checkout/checkin_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "services/ui_text_test_env.h"
#include "support/mini_installation.h"

namespace dovrane::checkout {
namespace {

using extlib::PRJ;

PRJ Rec(const std::string& name, uint32_t number, const std::string& host = "WS01", uint32_t owner = 1) {
  PRJ r;
  extlib::SetPrjName(&r, name);
  extlib::SetPrjHost(&r, host);
  r.number = number;
  r.owner = owner;
  return r;
}

TEST(CheckinReportTest, ListsTheHostsChangesAndEveryConflictAsTheUpdateResolvedIt) {
  struct Case {
    const char* what;
    std::vector<PRJ> out, back, after;
    std::vector<std::string> lines;
  } cases[] = {
      {"nothing", {Rec("A", 1)}, {Rec("A", 1)}, {Rec("A", 1)}, {}},
      {"created", {}, {Rec("New", 13)}, {Rec("New", 13)}, {"created on WS01: \"New\" n0000013"}},
      {"renamed", {Rec("A", 1)}, {Rec("B", 1)}, {Rec("B", 1)}, {"renamed on WS01: \"A\" to \"B\" n0000001"}},
      {"erased", {Rec("A", 1)}, {}, {}, {"erased on WS01: \"A\" n0000001"}},
      {"changed", {Rec("A", 1)}, {Rec("A", 1, "WS01", 2)}, {Rec("A", 1, "WS01", 2)},
       {"changed on WS01: \"A\" n0000001"}},
      {"number taken meanwhile",
       {},
       {Rec("New", 13)},
       {Rec("Other", 13, "SRV1"), Rec("New", 14)},
       {"created on WS01: \"New\" n0000013",
        "conflict: number n0000013 of \"New\" was taken meanwhile by \"Other\" on SRV1; registered as n0000014"}},
      {"name used twice by a new project",
       {},
       {Rec("Halle", 13)},
       {Rec("Halle", 12, "SRV1"), Rec("Halle_", 13)},
       {"created on WS01: \"Halle\" n0000013", "conflict: name \"Halle\" is used twice; registered as \"Halle_\""}},
      {"name used twice by a rename",
       {Rec("A", 1)},
       {Rec("Halle", 1)},
       {Rec("Halle", 12, "SRV1"), Rec("Halle_", 1)},
       {"renamed on WS01: \"A\" to \"Halle\" n0000001", "conflict: name \"Halle\" is used twice; registered as \"Halle_\""}},
      {"a folder the host's administration did not know",
       {Rec("A", 1)},
       {Rec("A", 1)},
       {Rec("A", 1), Rec("Kopie", 20)},
       {"registered from the project folder of WS01: \"Kopie\" n0000020"}},
  };
  for (const Case& c : cases) {
    CheckinRecords records{true, c.out, c.back, c.after};
    EXPECT_EQ(CheckinReportLines("WS01", records), c.lines) << c.what;
  }
}

TEST(CheckinReportTest, KeptFileNamesHostAndTimeAndSaysWhenNothingChanged) {
  CheckinReport report{"WS01", "20261207T223000Z", "", {}, {}};
  EXPECT_EQ(CheckinReportName(report.host, report.time), "WS01-checkin-20261207T223000Z.txt");
  EXPECT_EQ(FormatCheckinReport(report),
            "Check-in of WS01 at 20261207T223000Z\r\n\r\nNothing was changed on the host.\r\n");
  report.lines = {"erased on WS01: \"A\" n0000001"};
  EXPECT_EQ(FormatCheckinReport(report),
            "Check-in of WS01 at 20261207T223000Z\r\n\r\nerased on WS01: \"A\" n0000001\r\n");
}

// A check-in killed while it wrote its report leaves the write's temporary in
// \Net; the next report of that host clears it. Nothing else goes: another
// host's temporary, a name of another form, a folder or a link named like one
// (its target untouched).
TEST(CheckinReportTest, AReportWriteCutShortLeavesNoTemporaryAfterTheNextReport) {
  namespace fs = std::filesystem;
  testing::MiniInstallation inst;
  inst.Activate();
  const std::string net = inst.net_dir();
  const fs::path outside = fs::path(inst.root()) / "outside.txt";
  std::ofstream(outside) << "keep";
  const char* const left[] = {"WS01-checkin-20261209T080202Z.txt.new~5340", "ws01-checkin-20261208T010101Z.txt.new~7"};
  const char* const kept[] = {"SRV2-checkin-20261209T080202Z.txt.new~5340", "WS01-checkin-20261209T080202Z.txt.new~",
                              "WS01-checkin-20261209T080202Z.txt.new~12a", "WS01-checkin-x.txt", "WS01.out"};
  for (const char* name : left) std::ofstream(net + "/" + name) << "cut short";
  for (const char* name : kept) std::ofstream(net + "/" + name) << "other";
  fs::create_directory(net + "/WS01-checkin-1.txt.new~1");
  fs::create_symlink(outside, net + "/WS01-checkin-2.txt.new~2");

  CheckinReport report{"WS01", "20261209T090000Z", "", {}, {}};
  ASSERT_EQ(WriteCheckinReport(extlib::DefaultContext(), "\\\\SRV1\\cad\\Net", &report), 0);
  EXPECT_TRUE(fs::is_regular_file(net + "/WS01-checkin-20261209T090000Z.txt"));
  for (const char* name : left) EXPECT_FALSE(fs::exists(fs::symlink_status(net + "/" + name))) << name;
  for (const char* name : kept) EXPECT_TRUE(fs::is_regular_file(net + "/" + name)) << name;
  EXPECT_TRUE(fs::is_directory(net + "/WS01-checkin-1.txt.new~1"));
  EXPECT_TRUE(fs::exists(fs::symlink_status(net + "/WS01-checkin-2.txt.new~2")));
  EXPECT_TRUE(fs::is_regular_file(outside));
}

// The window shows the report's lines from the language files, the kept
// file in its own English: in English both read alike, line for line; in
// German every line is worded anew and keeps every value.
TEST(CheckinReportTest, TheWindowsLinesMatchTheFileInEnglishAndAreTranslatedInGerman) {
  services::testing::UiTextEnv env;
  const std::vector<std::string> values = {"V1x", "V2x", "V3x", "V4x", "V5x"};
  for (int kind = kReportHostSideGone; kind <= kReportFromFolder; ++kind) {
    CheckinReportLine line{kind, values};
    const std::string file = FileReportLine(line);
    // The file's line uses exactly the values its kind takes.
    size_t used = 0;
    while (used < values.size() && file.find(values[used]) != std::string::npos) ++used;
    ASSERT_GT(used, 0u) << kind;
    line.values.resize(used);
    env.UseLanguage(services::testing::kEnglish);
    EXPECT_EQ(ShownReportLine(line), FileReportLine(line)) << kind;
    env.UseLanguage(services::testing::kGerman);
    const std::string german = ShownReportLine(line);
    EXPECT_NE(german, FileReportLine(line)) << kind;
    EXPECT_EQ(german.find("<text "), std::string::npos) << kind;
    for (const std::string& v : line.values) EXPECT_NE(german.find(v), std::string::npos) << kind << " " << german;
  }
  EXPECT_EQ(FileReportLine({0, values}), "");
  EXPECT_EQ(FileReportLine({kReportFromFolder + 1, values}), "");
}

}  // namespace
}  // namespace dovrane::checkout
