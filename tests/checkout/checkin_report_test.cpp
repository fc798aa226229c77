#include "checkout/checkin_report.h"

#include <gtest/gtest.h>

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
  CheckinReport report{"WS01", "20261207T223000Z", "", {}};
  EXPECT_EQ(CheckinReportName(report.host, report.time), "WS01-checkin-20261207T223000Z.txt");
  EXPECT_EQ(FormatCheckinReport(report),
            "Check-in of WS01 at 20261207T223000Z\r\n\r\nNothing was changed on the host.\r\n");
  report.lines = {"erased on WS01: \"A\" n0000001"};
  EXPECT_EQ(FormatCheckinReport(report),
            "Check-in of WS01 at 20261207T223000Z\r\n\r\nerased on WS01: \"A\" n0000001\r\n");
}

}  // namespace
}  // namespace dovrane::checkout
