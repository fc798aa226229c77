#include "extlib/records/record_line.h"

#include <gtest/gtest.h>

#include "extlib/records/record_layout.h"

namespace dovrane::extlib {
namespace {

PRJ Sample() {
  PRJ r;
  SetPrjName(&r, "Bahnhof Nord");
  SetPrjHost(&r, "SRV1");
  r.number = 42;
  r.version = 19;
  r.status = kStatusBlank | kStatusLink;
  r.dbkey = 7;
  r.begin = 0x5F000000;
  r.owner = 3;
  SetMemberBit(&r, 3, true);
  SetMemberBit(&r, 40, true);
  return r;
}

TEST(RecordLineTest, V3RoundTripsForEachContainerCount) {
  for (int k : {0, 1, 2, 31}) {
    std::string line;
    ASSERT_TRUE(FormatRecordV3(Sample(), k, &line)) << k;
    EXPECT_EQ(line.size(), static_cast<size_t>(layout::V3LineLength(k)));
    PRJ back;
    ASSERT_EQ(ParseRecordV3(line.data(), line.size(), k, k, true, &back), 0) << line;
    EXPECT_EQ(std::string(back.name), PadName("Bahnhof Nord"));
    EXPECT_EQ(back.number, 42u);
    EXPECT_EQ(back.version, 19);
    EXPECT_EQ(back.status, kStatusBlank | kStatusLink);
    EXPECT_EQ(std::string(back.host), k == 0 ? "localhost" : "SRV1");
    EXPECT_EQ(MemberBit(back, 40), k >= 2) << k;  // user 40 lives in the second container
  }
}

TEST(RecordLineTest, V3FieldsSitAtTheirOffsets) {
  std::string line;
  ASSERT_TRUE(FormatRecordV3(Sample(), 1, &line));
  EXPECT_EQ(line.substr(layout::kV3NameEnd, 1), "@");
  EXPECT_EQ(line.substr(layout::kV3Number, 8), "n0000042");
  EXPECT_EQ(line.substr(layout::kV3Key, 10), "0000000007");
  EXPECT_EQ(line.substr(layout::kV3Begin, 8), "5F000000");
  EXPECT_EQ(line.substr(layout::kV3Host, 17), "SRV1            @");
  EXPECT_EQ(line.substr(layout::kV3Owner, 3), "003");
  EXPECT_EQ(line.substr(layout::kV3Members, 8), "04000000");
}

TEST(RecordLineTest, BadV3LinesAreRefused) {
  std::string good;
  ASSERT_TRUE(FormatRecordV3(Sample(), 1, &good));
  struct Case { int offset; std::string text; } cases[] = {
      {layout::kV3Number, "x"},           // number letter
      {layout::kV3Number + 3, "a"},       // number digit
      {layout::kV3NameEnd, " "},          // no field end after the name
      {layout::kV3HostEnd, "X"},          // no field end after the host
      {layout::kV3Members + 1, "G"},      // member digit
  };
  for (const Case& c : cases) {
    std::string bad = good;
    bad.replace(c.offset, c.text.size(), c.text);
    PRJ r;
    EXPECT_EQ(ParseRecordV3(bad.data(), bad.size(), 1, 1, true, &r), -1) << bad;
  }
  PRJ r;
  EXPECT_EQ(ParseRecordV3(good.data(), good.size() - 1, 1, 1, true, &r), -1);
}

// The number fields: written zero-filled, read also with leading blanks (an
// older writer's); a blank inside or after the digits, an empty field and a
// hexadecimal letter in a decimal field are refused.
TEST(RecordLineTest, NumberFieldsTakeLeadingBlanksOnly) {
  std::string good;
  ASSERT_TRUE(FormatRecordV3(Sample(), 1, &good));
  struct Case {
    int offset;
    std::string text;
    bool parsed;
    uint64_t key, begin, owner;
  } cases[] = {
      {layout::kV3Key, "    123456", true, 123456, 0x5F000000, 3},
      {layout::kV3Key, "4294967295", true, 4294967295u, 0x5F000000, 3},
      {layout::kV3Key, "4294967296", false, 0, 0, 0},  // beyond 32 bits
      {layout::kV3Key, "00000 0007", false, 0, 0, 0},
      {layout::kV3Key, "000000000A", false, 0, 0, 0},
      {layout::kV3Key, "          ", false, 0, 0, 0},
      {layout::kV3Begin, "  abCDef", true, 7, 0xABCDEF, 3},
      {layout::kV3Begin, "FFFFFFFF", true, 7, 0xFFFFFFFF, 3},
      {layout::kV3Begin, "5F00000G", false, 0, 0, 0},
      {layout::kV3Begin, "5F0000 0", false, 0, 0, 0},
      {layout::kV3Owner, "  9", true, 7, 0x5F000000, 9},
      {layout::kV3Owner, "9  ", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string line = good;
    const size_t width = c.offset == layout::kV3Key ? 10 : c.offset == layout::kV3Begin ? 8 : 3;
    const std::string& field = c.text;
    ASSERT_EQ(field.size(), width) << field;
    line.replace(c.offset, width, field);
    PRJ r;
    const bool parsed = ParseRecordV3(line.data(), line.size(), 1, 1, true, &r) == 0;
    EXPECT_EQ(parsed, c.parsed) << field;
    EXPECT_EQ(RecordV3Valid(line.data(), line.size(), 1, 1, true), c.parsed) << field;
    if (parsed && c.parsed) {
      EXPECT_EQ(r.dbkey, c.key) << field;
      EXPECT_EQ(static_cast<uint32_t>(r.begin), c.begin) << field;
      EXPECT_EQ(r.owner, c.owner) << field;
    }
  }
}

// The check without a record refuses exactly the lines the parser refuses:
// every position of a line, changed to each kind of character.
TEST(RecordLineTest, CheckAgreesWithTheParserOnEveryChangedPosition) {
  for (int k : {0, 2}) {
    for (bool network : {true, false}) {
      std::string good;
      ASSERT_TRUE(FormatRecordV3(Sample(), k, &good));
      for (size_t i = 0; i < good.size(); ++i)
        for (char c : {' ', '@', '0', '9', 'A', 'f', 'G', 'n', '\t', '\0'}) {
          std::string line = good;
          line[i] = c;
          PRJ r;
          const bool parsed = ParseRecordV3(line.data(), line.size(), k, k, network, &r) == 0;
          ASSERT_EQ(RecordV3Valid(line.data(), line.size(), k, k, network), parsed) << i << " " << c << " " << k;
        }
    }
  }
}

TEST(RecordLineTest, WriterRefusesFieldsThatDoNotFit) {
  PRJ r = Sample();
  std::string line;
  r.number = 10000000;
  EXPECT_FALSE(FormatRecordV3(r, 1, &line));
  r = Sample();
  SetPrjName(&r, "a@b");
  EXPECT_FALSE(FormatRecordV3(r, 1, &line));
  r = Sample();
  r.owner = 1000;
  EXPECT_FALSE(FormatRecordV3(r, 1, &line));
}

// A NUL in a stored line reads as the writer would write that record: the
// name and the host end there (blanks follow), a NUL status is the blank. So
// the record is the same one after it is written again.
TEST(RecordLineTest, NulInAStoredLineReadsAsTheWriterWritesIt) {
  std::string v3;
  ASSERT_TRUE(FormatRecordV3(Sample(), 1, &v3));
  v3[7] = '\0';  // "Bahnhof\0Nord"
  PRJ parsed, again;
  ASSERT_EQ(ParseRecordV3(v3.data(), v3.size(), 1, 1, true, &parsed), 0);
  EXPECT_EQ(std::string(parsed.name, kNameLength), PadName("Bahnhof"));
  std::string written;
  ASSERT_TRUE(FormatRecordV3(parsed, 1, &written));
  ASSERT_EQ(ParseRecordV3(written.data(), written.size(), 1, 1, true, &again), 0);
  EXPECT_EQ(std::string(again.name, kNameLength), std::string(parsed.name, kNameLength));
  // The host ends at a NUL too, without the blanks before it.
  v3 = written;
  v3.replace(layout::kV3Host, 8, std::string("SRV1  \0X", 8));
  ASSERT_EQ(ParseRecordV3(v3.data(), v3.size(), 1, 1, true, &parsed), 0);
  EXPECT_EQ(std::string(parsed.host), "SRV1");
  v3[layout::kV3Status] = '\0';
  ASSERT_EQ(ParseRecordV3(v3.data(), v3.size(), 1, 1, true, &parsed), 0);
  EXPECT_EQ(parsed.status, kStatusBlank);
}

TEST(RecordLineTest, V12RoundTripKeepsFourContainersAtMost) {
  std::string line;
  ASSERT_TRUE(FormatRecordV12(Sample(), &line));
  ASSERT_EQ(line.size(), 135u);
  PRJ back;
  ASSERT_EQ(ParseRecordV12(line.data(), line.size(), 1, true, &back), 0);
  EXPECT_EQ(back.number, 42u);
  EXPECT_TRUE(MemberBit(back, 3));
  EXPECT_FALSE(MemberBit(back, 40));  // only one container now
  EXPECT_EQ(back.version, 0);
  line[70] = 'z';
  EXPECT_EQ(ParseRecordV12(line.data(), line.size(), 1, true, &back), -1);
}

TEST(RecordLineTest, HeaderBytes) {
  struct Case { std::string bytes; int rc; int version; uint32_t highest; int eol; } cases[] = {
      {" 3n0000042\r\n", 0, 3, 42, 2},
      {" 2n9999999\nx", 0, 2, 9999999, 1},
      {" 4n0000001\r\n", -1, 4, 0, 2},
      {" 0n0000001\r\n", -1, 0, 0, 2},
      {" 3x0000001\r\n", -1, 3, 0, 2},
      {" 3n00", -1, 0, 0, 1},
  };
  for (const Case& c : cases) {
    AdminHeader h;
    EXPECT_EQ(ParseHeaderBytes(c.bytes.data(), c.bytes.size(), &h), c.rc) << c.bytes;
    if (c.bytes.size() < 11) continue;
    EXPECT_EQ(h.version, c.version) << c.bytes;
    EXPECT_EQ(h.highest, c.highest) << c.bytes;
    EXPECT_EQ(h.line_end, c.eol) << c.bytes;
  }
  EXPECT_EQ(FormatHeader(3, 42, 2), " 3n0000042\r\n");
}

TEST(RecordLineTest, ProjectNamesThatCannotBeStoredOrUsedAsFolders) {
  for (const char* bad : {"", "   ", "#x", " x", "a@b", "50%", "a\\b", "a/b", "..", "x..y", "a\tb"})
    EXPECT_FALSE(IsValidProjectName(bad)) << bad;
  for (const char* good : {"Bahnhof Nord", "M\xFCller-Haus 2", "a.b"}) EXPECT_TRUE(IsValidProjectName(good));
  EXPECT_FALSE(IsValidProjectName(std::string(51, 'x')));
}

TEST(RecordLineTest, SafeNamesPassTheNameCheckAndKeepWhatTheyCan) {
  struct Case { std::string in, out; } cases[] = {
      {"#hash", "_hash"}, {"a@b", "a_b"}, {"x\ny\r\tz", "x_y__z"}, {"a:b?c*", "a_b_c_"},
      {"../../../evil", "_________evil"}, {" lead", "_lead"}, {"%x", "_x"}, {"a.b", "a.b"},
      {"M\xFCller", "M\xFCller"}, {"   ", ""}, {std::string(60, 'y'), std::string(50, 'y')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeProjectName(c.in), c.out) << c.in;
    if (!c.out.empty()) {
      EXPECT_TRUE(IsValidProjectName(SafeProjectName(c.in))) << c.in;
    }
  }
}

TEST(RecordLineTest, StatusCharacterIsTheBlankPlusTheFlags) {
  EXPECT_EQ(StatusCharacter(kStatusLink), '@');
  EXPECT_EQ(StatusCharacter(kStatusLink | kStatusPlainName), 'H');
  EXPECT_EQ(StatusCharacter(kStatusPlainName), '(');
  EXPECT_EQ(StatusFlags('@'), kStatusLink);
  EXPECT_EQ(StatusFlags('M'), kStatusKnownBits);
  EXPECT_EQ(StatusFlags(' '), 0);
  EXPECT_EQ(StatusFlags('\n'), 0);  // below the blank: no flags
  EXPECT_EQ(StatusFlags(0x8A), kStatusLink | kStatusPlainName);  // unknown bits dropped
}

}  // namespace
}  // namespace dovrane::extlib
