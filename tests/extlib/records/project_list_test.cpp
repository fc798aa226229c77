#include "extlib/records/project_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_scan.h"
#include "extlib/records/project_table.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "support/run_program.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

class ProjectListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = Msg2usr_Switch(DefaultContext(), 1);
    PRJ deleted = SmallInstallation::Record("#old", 3);
    inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5), deleted,
                               SmallInstallation::Record("Beta", 9, "SRV2", 2)},
                              9);
  }
  void TearDown() override { Msg2usr_Switch(DefaultContext(), previous_); }
  SmallInstallation inst_;
  int previous_ = 0;
};

TEST_F(ProjectListTest, LookupsByNameAndNumberSkipDeletedRecords) {
  PRJ r;
  ASSERT_EQ(get_project_info(DefaultContext(), "Beta", &r), 0);
  EXPECT_EQ(r.owner, 2u);
  EXPECT_EQ(get_project_number(DefaultContext(), PadName("Alpha")), 5);
  EXPECT_EQ(get_project_info(DefaultContext(), "Alph", &r), -3);
  EXPECT_EQ(get_PrjInfo_by_number(DefaultContext(), 3, &r), -3);
  ASSERT_EQ(get_PrjInfo_by_number(DefaultContext(), 9, &r), 0);
  EXPECT_EQ(TrimmedName(r.name), "Beta");
  int count = 0;
  PRJ* list = nullptr;
  ASSERT_EQ(ltbpliC_new(DefaultContext(), 23, &count, &list, 0, nullptr), 0);
  EXPECT_EQ(count, 2);
  ltbpliC_delete(&list);
  EXPECT_EQ(list, nullptr);
  int h = open_prj_info(DefaultContext(), 23, kOpenExisting);
  EXPECT_EQ(get_prj_position(DefaultContext(), h, "Beta", 23, 2), 3);
  ListFacts facts;
  ASSERT_EQ(GetListFacts(DefaultContext(), &facts), 0);
  EXPECT_EQ(facts.first_free_slot, 2);
  EXPECT_EQ(facts.largest, 9u);
}

// A name is looked up as the record holds it: cut at 50 characters, trailing
// blanks or none; blanks inside it and leading ones count.
TEST_F(ProjectListTest, NamesAreLookedUpCutAtFiftyWithOrWithoutTrailingBlanks) {
  const std::string fifty = std::string(49, 'L') + "x";
  inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5), SmallInstallation::Record(fifty, 6),
                             SmallInstallation::Record("Haus am See", 7)},
                            9);
  struct Case {
    std::string name;
    long number;
  } cases[] = {
      {"Alpha", 5},          {"Alpha   ", 5},        {PadName("Alpha"), 5},    {PadName("Alpha") + "   ", 5},
      {fifty, 6},            {fifty + "yz", 6},      {fifty + "   ", 6},       {std::string(49, 'L'), -3},
      {"Haus am See", 7},    {"Haus am  See", -3},   {" Alpha", -3},           {"Alph", -3},
      {"", -3},              {std::string(60, ' '), -3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get_project_number(DefaultContext(), c.name), c.number) << '"' << c.name << '"';
    PRJ r;
    const int rc = get_project_info(DefaultContext(), c.name, &r);
    EXPECT_EQ(rc, c.number > 0 ? 0 : -3) << '"' << c.name << '"';
    if (rc == 0) {
      EXPECT_EQ(r.number, static_cast<uint32_t>(c.number));
    }
  }
}

TEST_F(ProjectListTest, SeesAChangeMadeByAnotherWriter) {
  PRJ r;
  ASSERT_EQ(get_project_info(DefaultContext(), "Alpha", &r), 0);
  SetProjectListRevalidateMs(0);
  std::string text = inst_.Admin();
  text.replace(12, 5, "Gamma");  // same size, changed behind the list's back
  inst_.dir.Write("SRV1/cad/Net/project.dat", text);
  EXPECT_EQ(get_project_info(DefaultContext(), "Alpha", &r), -3);
  EXPECT_EQ(get_project_info(DefaultContext(), "Gamma", &r), 0);
}

TEST_F(ProjectListTest, DamagedOrMissingAdministrationGivesClearCodes) {
  SetProjectListRevalidateMs(0);
  std::string text = inst_.Admin();
  struct Case { std::string contents; int rc; } cases[] = {
      // A last line cut short by a crash while it was appended holds no record yet.
      {text.substr(0, text.size() - 5), -3},
      // A complete last record is one without its line end, or without its LF.
      {text.substr(0, text.size() - 2), 0},
      {text.substr(0, text.size() - 1), 0},
      {text.replace(12 + 52, 1, "x"), -1},                    // bad number in record 1
      {" 9n0000001\r\n", -1},                                // unknown version
  };
  for (const Case& c : cases) {
    inst_.dir.Write("SRV1/cad/Net/project.dat", c.contents);
    PRJ r;
    EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &r), c.rc) << c.contents;
  }
  ::unlink(inst_.Native("SRV1/cad/Net/project.dat").c_str());
  PRJ r;
  EXPECT_EQ(get_project_info(DefaultContext(), "Beta", &r), -2);
}

TEST_F(ProjectListTest, HostileAdministrationIsUnreadableNeitherAHangNorAMemoryExhaustion) {
  SetProjectListRevalidateMs(0);
  const std::string path = inst_.Native("SRV1/cad/Net/project.dat"), text = inst_.Admin();
  ::unlink(path.c_str());
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  auto info = [] {
    PRJ r;
    return -get_project_info(DefaultContext(), "Beta", &r);
  };
  EXPECT_EQ(testing::RunBounded(info), 1);
  ::unlink(path.c_str());
  // 1 GB, sparse: a list reserved by the file's size would not fit the limit.
  inst_.dir.Write("SRV1/cad/Net/project.dat", text);
  ASSERT_EQ(::truncate(path.c_str(), int64_t{1} << 30), 0);
  EXPECT_EQ(testing::RunBounded(info, 20000, 512 << 20), 1);
}

TEST_F(ProjectListTest, StatusIsStoredUnderTheRecordLock) {
  unsigned char status = kStatusBlank | kStatusHostOut;
  ASSERT_EQ(put_project_status(DefaultContext(), "Beta", &status), 0);
  unsigned char back = 0;
  ASSERT_EQ(get_project_status(DefaultContext(), "Beta", &back), 0);
  EXPECT_EQ(back, status);
  EXPECT_EQ(put_project_status(DefaultContext(), "Nobody", &status), -3);
}


TEST_F(ProjectListTest, SnapshotSurvivesARefreshUnchanged) {
  ProjectTable table(ProcessInstallation());
  table.SetRevalidateMs(0);
  SnapshotPtr before, after;
  ASSERT_EQ(table.Take(DefaultContext(), &before), 0);
  inst_.WriteAdministration({SmallInstallation::Record("Gamma", 7)}, 9);
  ASSERT_EQ(table.Take(DefaultContext(), &after), 0);
  EXPECT_GT(after->Generation(), before->Generation());
  // The reader of the former generation still sees it whole.
  ASSERT_EQ(before->Count(), 2u);
  EXPECT_EQ(before->Name(before->FindName(PadName("Beta"))), "Beta");
  EXPECT_EQ(before->FindName(PadName("Gamma")), ProjectSnapshot::kNone);
  ASSERT_EQ(after->Count(), 1u);
  EXPECT_EQ(after->FindNumber(9), ProjectSnapshot::kNone);
}

// A table that indexes lazily (the list's) finds by name and number all the
// same, also when two threads look first at once.
TEST_F(ProjectListTest, LazilyIndexedSnapshotFindsByNameAndNumberFromAnyThread) {
  inst_.WriteAdministration({SmallInstallation::Record("Alpha", 5), SmallInstallation::Record("Beta", 9),
                             SmallInstallation::Record("Alpha", 11)},
                            11);
  ProjectTable table(ProcessInstallation());
  table.SetIndexAtRead(false);
  SnapshotPtr s;
  ASSERT_EQ(table.Take(DefaultContext(), &s), 0);
  std::atomic<int> found{0};
  auto look = [&] { found += s->FindNumber(9) == 1 && s->FindName(PadName("Alpha")) == 0; };
  std::thread a(look), b(look);
  a.join();
  b.join();
  EXPECT_EQ(found, 2);
  EXPECT_EQ(s->NextSameName(0), 2u);
  EXPECT_EQ(s->NextSameName(2), ProjectSnapshot::kNone);
}

TEST_F(ProjectListTest, GenerationGrowsOnOutsideChangeAndOwnWriteOnly) {
  ProjectTable table(ProcessInstallation());
  table.SetRevalidateMs(0);
  SnapshotPtr s;
  uint64_t g0 = 0, g1 = 0, g2 = 0, g3 = 0;
  ASSERT_EQ(table.Take(DefaultContext(), &s), 0);
  ASSERT_EQ(table.Check(&g0), 0);
  ASSERT_EQ(table.Take(DefaultContext(), &s), 0);  // nothing changed: neither a check nor a take moves it
  ASSERT_EQ(table.Check(&g1), 0);
  EXPECT_EQ(g1, g0);
  EXPECT_EQ(s->Generation(), g0);
  std::string text = inst_.Admin();
  inst_.dir.Write("SRV1/cad/Net/project.dat", text + text.substr(12, text.size() - 12));  // another writer
  ASSERT_EQ(table.Check(&g2), 0);
  EXPECT_GT(g2, g1);
  table.OwnWrite();  // the process's own write, whatever the file's times say
  ASSERT_EQ(table.Check(&g3), 0);
  EXPECT_GT(g3, g2);
}

TEST_F(ProjectListTest, SnapshotsTakenWhileAnotherThreadRefreshesStayWhole) {
  ProjectTable table(ProcessInstallation());
  table.SetRevalidateMs(0);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, taken{0};
  auto reader = [&] {
    while (!stop) {
      SnapshotPtr s;
      if (table.Take(DefaultContext(), &s, false) != 0) continue;
      ++taken;
      if (s->Count() != 2 || s->FindNumber(9) == ProjectSnapshot::kNone) ++bad;
    }
  };
  std::thread a(reader), b(reader);
  for (int i = 0; i < 200 || (taken < 20 && i < 100000); ++i) {
    table.OwnWrite();
    SnapshotPtr s;
    EXPECT_EQ(table.Take(DefaultContext(), &s), 0);
  }
  stop = true;
  a.join();
  b.join();
  EXPECT_EQ(bad, 0);
}

// The single-project scan answers as the table's lookup does, for each name,
// whatever the administration holds.
TEST_F(ProjectListTest, SingleProjectScanAgreesWithTheTableLookup) {
  SetProjectListRevalidateMs(0);
  auto line = [&](const PRJ& r) {
    std::string text;
    FormatRecordV3(r, inst_.containers, &text);
    return text + "\r\n";
  };
  PRJ deleted = SmallInstallation::Record("#lpha", 4);
  const std::string header = FormatHeader(3, 30, 2),
                    damaged = std::string(layout::V3LineLength(inst_.containers), 'x') + "\r\n";
  const std::string body = line(deleted) + line(SmallInstallation::Record("Beta", 5)) +
                           line(SmallInstallation::Record("Gam", 6)) + line(SmallInstallation::Record("Beta", 7)) +
                           line(SmallInstallation::Record("Gamma", 8));
  const std::string cases[] = {
      header + body,                                // deleted, duplicate, a name the prefix of another
      header + damaged + body,                      // a damaged line before the names
      header + body + damaged,                      // and after them
      header + body.substr(0, body.size() - 2),         // an unterminated last record
      header + body + "Delta" + std::string(40, ' '),   // a last line cut short
      header + body.substr(0, 60),
  };
  for (const std::string& text : cases) {
    inst_.dir.Write("SRV1/cad/Net/project.dat", text);
    for (const char* name : {"Beta", "Gam", "Gamma", "#lpha", "lpha", "Ga", "Delta"}) {
      PRJ scanned, looked_up;
      const int rc = ScanProjectInfo(DefaultContext(), PadName(name), &scanned);
      ASSERT_EQ(rc, get_project_info(DefaultContext(), PadName(name), &looked_up)) << name << " in\n" << text;
      if (rc == 0) {
        EXPECT_EQ(scanned.number, looked_up.number) << name;
      }
    }
  }
}

}  // namespace
}  // namespace dovrane::extlib
