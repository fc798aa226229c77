#include "extlib/records/project_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "extlib/records/prj_record.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

using testing::SmallInstallation;

// The snapshot of the small installation's administration, and the records
// as the file's lines parse (the walk keeps none of them compact).
struct Read {
  std::shared_ptr<ProjectSnapshot> snapshot;
  std::vector<PRJ> parsed;
};

Read ReadBoth(const SmallInstallation& inst, bool index) {
  const std::string native = inst.Native("SRV1/cad/Net/project.dat");
  const RecordFormat format{inst.containers, true};
  Read read;
  long bad = 0;
  EXPECT_EQ(ProjectSnapshot::Read(*platform::CurrentEnv(), native, format, &read.snapshot, &bad, index), 0);
  EXPECT_EQ(ProjectSnapshot::Walk(
                *platform::CurrentEnv(), native, format, 1, [](int64_t) {}, {},
                [&read](const PRJ& record, int) { read.parsed.push_back(record); }, &bad),
            0);
  return read;
}

void ExpectSameRecord(const PRJ& made, const PRJ& parsed) {
  // Byte for byte, the padding and the zeros past the host and the members too.
  EXPECT_EQ(std::memcmp(made.name, parsed.name, sizeof made.name), 0) << made.name;
  EXPECT_EQ(std::memcmp(made.host, parsed.host, sizeof made.host), 0) << made.host;
  EXPECT_EQ(std::memcmp(made.members, parsed.members, sizeof made.members), 0) << made.name;
  EXPECT_EQ(made.status, parsed.status);
  EXPECT_EQ(made.version, parsed.version);
  EXPECT_EQ(made.number, parsed.number);
  EXPECT_EQ(made.dbkey, parsed.dbkey);
  EXPECT_EQ(made.begin, parsed.begin);
  EXPECT_EQ(made.owner, parsed.owner);
}

// The compact entries give back every field as the line parses, with one
// user container and with the most (31), where only the last one differs.
TEST(ProjectTableCompactTest, RecordsComeBackAsTheLinesParse) {
  for (int containers : {1, 31}) {
    SCOPED_TRACE(containers);
    SmallInstallation inst(containers);
    const uint32_t last_user = 32u * static_cast<uint32_t>(containers);
    PRJ full = SmallInstallation::Record(std::string(50, 'W'), 1, "SIXTEEN-CHARS-01", last_user);
    full.status = kStatusBlank | kStatusHostOut;
    full.version = 7;
    full.dbkey = 4000000000u;
    full.begin = -2;
    PRJ blanks = SmallInstallation::Record("Haus  am  See", 2, "S", 0);
    PRJ last_a = SmallInstallation::Record("Last", 3, "SRV2", 1);
    PRJ last_b = last_a;
    last_b.number = 4;
    SetMemberBit(&last_a, last_user, true);
    SetMemberBit(&last_b, last_user - 31, true);  // the first user of the last container
    PRJ deleted = SmallInstallation::Record("#gone", 5);
    inst.WriteAdministration({full, deleted, blanks, last_a, last_b}, 9);

    const Read read = ReadBoth(inst, true);
    const ProjectSnapshot& s = *read.snapshot;
    ASSERT_EQ(s.Count(), 4u);
    ASSERT_EQ(read.parsed.size(), 4u);
    EXPECT_EQ(s.MemberBytes(), 4u * static_cast<size_t>(containers));
    for (size_t i = 0; i < s.Count(); ++i) {
      ExpectSameRecord(s.Record(i), read.parsed[i]);
      EXPECT_EQ(s.Name(i), TrimmedName(read.parsed[i].name));
      EXPECT_EQ(s.Host(i), read.parsed[i].host);
    }
    EXPECT_EQ(s.Name(0).size(), 50u);
    EXPECT_EQ(s.Name(1), "Haus  am  See");
    EXPECT_EQ(s.Slot(1), 3);
    EXPECT_NE(std::memcmp(s.Members(2), s.Members(3), s.MemberBytes()), 0);
    EXPECT_EQ(s.FindName(PadName(std::string(50, 'W'))), 0u);
    EXPECT_EQ(s.FindName(PadName("Haus  am  See")), 1u);
    EXPECT_EQ(s.FindName(PadName("Haus  am")), ProjectSnapshot::kNone);
    EXPECT_EQ(s.FindName(PadName("Haus am See")), ProjectSnapshot::kNone);
    // Unpadded, or with fewer blanks than the padding: the same name.
    EXPECT_EQ(s.FindName("Haus  am  See"), 1u);
    EXPECT_EQ(s.FindName("Haus  am  See  "), 1u);
  }
}

// Many records, names and numbers given twice, and more hosts than a byte
// counts: every look-up and chain agrees with a plain search of the records.
TEST(ProjectTableCompactTest, IndexesAgreeWithAPlainSearchOfManyRecords) {
  SmallInstallation inst;
  std::vector<PRJ> records;
  for (uint32_t i = 0; i < 3000; ++i) {
    char name[32], host[17];
    // Every seventh name and every eleventh number is an earlier record's.
    std::snprintf(name, sizeof name, "Projekt %u", i % 7 == 6 ? i / 2 : i);
    std::snprintf(host, sizeof host, "H%03u", i % 300);
    PRJ r = SmallInstallation::Record(name, i % 11 == 10 ? i / 3 + 1 : i + 1, host);
    records.push_back(r);
    if (i % 97 == 0) records.push_back(SmallInstallation::Record("#frei", 0));
  }
  inst.WriteAdministration(records, 3000);
  for (bool index_at_read : {true, false}) {
    const Read read = ReadBoth(inst, index_at_read);
    const ProjectSnapshot& s = *read.snapshot;
    ASSERT_EQ(s.Count(), read.parsed.size());
    EXPECT_EQ(s.HostNames().size(), 300u);
    std::map<std::string, std::vector<size_t>> by_name;
    std::map<uint32_t, std::vector<size_t>> by_number;
    for (size_t i = 0; i < read.parsed.size(); ++i) {
      by_name[TrimmedName(read.parsed[i].name)].push_back(i);
      by_number[read.parsed[i].number].push_back(i);
      ASSERT_EQ(s.Host(i), read.parsed[i].host);
      ASSERT_EQ(s.Slot(s.AtSlot(s.Slot(i))), s.Slot(i));
    }
    for (const auto& [name, found] : by_name) {
      std::vector<size_t> chain;
      for (size_t i = s.FindName(PadName(name)); i != ProjectSnapshot::kNone; i = s.NextSameName(i))
        chain.push_back(i);
      ASSERT_EQ(chain, found) << name;
    }
    for (const auto& [number, found] : by_number) {
      std::vector<size_t> chain;
      for (size_t i = s.FindNumber(number); i != ProjectSnapshot::kNone; i = s.NextSameNumber(i))
        chain.push_back(i);
      ASSERT_EQ(chain, found) << number;
    }
    EXPECT_EQ(s.FindName(PadName("Projekt 3000")), ProjectSnapshot::kNone);
    EXPECT_EQ(s.FindNumber(3001), ProjectSnapshot::kNone);
    EXPECT_EQ(s.FreeSlots().size(), 31u);
  }
}

TEST(ProjectTableCompactTest, EmptyAdministrationFindsNothing) {
  SmallInstallation inst;
  const Read read = ReadBoth(inst, false);
  EXPECT_EQ(read.snapshot->Count(), 0u);
  EXPECT_EQ(read.snapshot->FindName(PadName("A")), ProjectSnapshot::kNone);
  EXPECT_EQ(read.snapshot->FindNumber(1), ProjectSnapshot::kNone);
}

}  // namespace
}  // namespace dovrane::extlib
