// The output for scripts through the real program on a sample installation.
#include "app/projects/project_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <map>
#include <sstream>

#include "extlib/records/prj_record.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "extlib/records/written_line.h"
#include "platform/text_codec.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

class ProjectJsonTest : public ::testing::Test {
 protected:
  testing::SampleSite site_{12};
};

// Every query answers with the record -info shows; a missing project with its code.
TEST_F(ProjectJsonTest, QueriesAsJsonMatchTheRecordAndKeepTheirStatus) {
  extlib::PRJ record;
  ASSERT_TRUE(site_.Record(4, &record));
  const std::string info = site_.Run({site_.Name(4), "-info"}).out;
  for (const char* option : {"-exist", "-info", "-getpath", "-getnumber", "-getdbid"}) {
    auto r = site_.Run({"--json", site_.Name(4), option});
    ASSERT_EQ(r.status, 0) << option << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["name"], site_.Name(4));
    EXPECT_NE(info.find("PrjNumber : " + j["number_text"].get<std::string>() + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("PrjHost\t : " + j["host"].get<std::string>() + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("PrjPath\t : " + j["path"].get<std::string>() + "\\\n"), std::string::npos) << info;
    EXPECT_EQ(j["dbkey"], record.dbkey);
  }
  auto missing = site_.Run({"--json", "Nobody", "-info"});
  EXPECT_EQ(missing.status, 256 - 3);
  EXPECT_EQ(nlohmann::json::parse(missing.out)["result"], -3);
}

// Every live project once, in administration order; --host keeps one host's.
TEST_F(ProjectJsonTest, ListHasEveryProjectOnceAndTheHostsOnlyWithHost) {
  std::string expected, on_srv2;
  for (uint32_t n = 1; n <= 12; ++n) {
    extlib::PRJ r;
    ASSERT_TRUE(site_.Record(n, &r));
    expected += ListLine(r);
    if (std::string(r.host) == "SRV2") on_srv2 += ListLine(r);
  }
  const std::string list = site_.Run({"--list"}).out;
  EXPECT_EQ(list, expected);
  // Names in UTF-8, converted once ("Museum S\xFCd 6" of the sample).
  EXPECT_NE(list.find("Museum S\xC3\xBC"
                      "d 6\t"),
            std::string::npos)
      << list;
  EXPECT_EQ(site_.Run({"--list", "--host", "srv2"}).out, on_srv2);
  std::istringstream lines(site_.Run({"--json", "--list"}).out);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count)
    EXPECT_EQ(nlohmann::json::parse(line)["number"], count + 1) << line;
  EXPECT_EQ(count, 12);
}

// The list is printed whole or not at all: an erased project is left out,
// and a record damaged at the end prints no line of the records before it.
TEST_F(ProjectJsonTest, ListLeavesOutErasedProjectsAndPrintsNothingOfADamagedFile) {
  ASSERT_EQ(site_.Run({site_.Name(3), "-erase_y"}).status, 0);
  const std::string listed = site_.Run({"--list"}).out;
  EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 11) << listed;
  EXPECT_EQ(listed.find(site_.Name(3) + "\t"), std::string::npos) << listed;
  std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  admin.insert(admin.size() - 20, "#");  // the last record one character too long
  testing::WriteFile(site_.NetDir() + "/project.dat", admin);
  const auto damaged = site_.Run({"--list"});
  EXPECT_NE(damaged.status, 0);
  EXPECT_EQ(damaged.out, "");
}

// While the administration is being rebuilt (or a rebuild stopped) it does
// not hold every project: no reader answers from it as if it did. The update
// that completes the rebuild makes them answer again.
TEST_F(ProjectJsonTest, ReadersSayTheAdministrationIsBeingRebuilt) {
  // A rebuild from the hosts under way: part of the records written so far.
  std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  testing::WriteFile(site_.NetDir() + "/project.dat", admin.substr(0, admin.find('\n', admin.size() / 2) + 1));
  testing::WriteFile(site_.NetDir() + "/project.dat.rebuild", "rebuild of project.dat under way\n");
  const std::vector<std::vector<std::string>> readers = {
      {"--list"}, {"--list", "--json"}, {site_.Name(12), "-exist"}, {site_.Name(12), "-info"},
      {site_.Name(1), "-getpath"}, {"--json", site_.Name(12), "-info"}};
  for (const auto& args : readers) {
    const auto r = site_.Run(args);
    EXPECT_EQ(r.status, 255) << args.back();
    EXPECT_NE(r.err.find("The project administration is being rebuilt"), std::string::npos) << args.back() << r.err;
    if (args[0] == "--json") {
      EXPECT_EQ(nlohmann::json::parse(r.out)["result"], -1) << r.out;
    } else {
      EXPECT_EQ(r.out, "") << args.back();
    }
  }
  ASSERT_EQ(site_.Run({"-update"}).status, 0);
  EXPECT_EQ(site_.Run({site_.Name(12), "-exist"}).status, 0);
  const std::string list = site_.Run({"--list"}).out;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 12) << list;
}

// A file large enough to be read in pieces by both threads lists every
// project once, in administration order: lines in the written form and
// others (a blank before a version's digit), names beyond ASCII, erased
// projects left out.
TEST_F(ProjectJsonTest, AListReadInPiecesKeepsTheOrderOfTheAdministration) {
  const std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  const size_t first_end = admin.find('\n'), second_end = admin.find('\n', first_end + 1);
  const int containers =
      extlib::layout::V3ContainersOfLength(static_cast<long>(second_end - first_end - 1 - 1));  // without CR LF
  ASSERT_GT(containers, 0);
  constexpr uint32_t kRecords = 3000;
  std::string text = admin.substr(0, first_end + 1), expected;
  for (uint32_t n = 1; n <= kRecords; ++n) {
    extlib::PRJ r;
    const std::string name = (n % 5 == 0    ? "S\xFC"
                                              "d "
                              : n % 11 == 0 ? "#gone "
                                            : "Bau ") +
                             std::to_string(n);
    std::memcpy(r.name, name.data(), name.size());
    std::memcpy(r.host, n % 2 ? "SRV1" : "SRV2", 4);
    r.number = n;
    r.version = static_cast<unsigned char>(n % 20);
    r.dbkey = n * 1000;
    std::string line;
    ASSERT_TRUE(extlib::FormatRecordV3(r, containers, &line));
    if (n % 7 == 0) line[extlib::layout::kV3Version] = ' ';
    text += line + "\r\n";
    extlib::PRJ parsed;
    ASSERT_EQ(extlib::ParseRecordV3(line.data(), line.size(), containers, containers, true, &parsed), 0);
    if (!extlib::IsDeleted(parsed)) expected += ListLine(parsed);
  }
  testing::WriteFile(site_.NetDir() + "/project.dat", text);
  const auto listed = site_.Run({"--list"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out, expected);
}

// Records an older program wrote (or anyone who can write the share) may
// hold a TAB, a line end or an escape sequence in a name or host: the list
// keeps one line of six fields a project, and no output of the program
// hands such a character to the terminal; it is shown instead (\t, \xHH).
// The JSON list stays as it was: JSON escapes them itself.
TEST_F(ProjectJsonTest, StoredControlCharactersAreShownNotPrinted) {
  std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  const size_t first_end = admin.find('\n'), second_end = admin.find('\n', first_end + 1);
  const int containers =
      extlib::layout::V3ContainersOfLength(static_cast<long>(second_end - first_end - 1 - 1));  // without CR LF
  const struct { const char* name; const char* host; const char* shown; } hostile[] = {
      {"Tab\there", "SRV1", "Tab\\there\t"},
      {"Line\nfeed", "SRV2", "Line\\nfeed\t"},
      {"Esc\x1b]0;owned\x07", "SRV1", "Esc\\x1b]0;owned\\x07\t"},
      {"Del\x7f\x9d", "SR\x1b" "V", "Del\\x7f\\x9d\t"},
  };
  uint32_t number = 900;
  for (const auto& h : hostile) {
    extlib::PRJ r;
    std::memcpy(r.name, h.name, std::strlen(h.name));
    std::memcpy(r.host, h.host, std::strlen(h.host));
    r.number = ++number;
    std::string line;
    ASSERT_TRUE(extlib::FormatRecordV3(r, containers, &line));
    admin += line + "\r\n";
  }
  testing::WriteFile(site_.NetDir() + "/project.dat", admin);
  const auto listed = site_.Run({"--list"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  std::istringstream lines(listed.out);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count)
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5) << line;
  EXPECT_EQ(count, 12 + 4);
  for (const auto& h : hostile) EXPECT_NE(listed.out.find(h.shown), std::string::npos) << h.shown;
  EXPECT_NE(listed.out.find("\tSR\\x1bV\t"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(listed.out.find('\x7f'), std::string::npos);
  const auto json = site_.Run({"--list", "--json"});
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"Esc\\u001b]0;owned\\u0007\""), std::string::npos) << json.out;
  // -info and the messages quoting the name show it too.
  const auto info = site_.Run({"Esc\x1b]0;owned\x07", "-info"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Esc\\x1b]0;owned\\x07"), std::string::npos) << info.out;
  const auto refused = site_.Run({"Esc\x1b]0;owned\x07", "-move_y", "NOHOST"});
  EXPECT_NE(refused.status, 0);
  for (const auto* out : {&info.out, &info.err, &refused.out, &refused.err})
    EXPECT_EQ(out->find('\x1b'), std::string::npos) << *out;
}

// A NUL in a stored name ends it, for the list as for every command: the
// project is reached by the name the list shows.
TEST_F(ProjectJsonTest, ANameEndedByANulIsReachedAsListed) {
  std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  const size_t end = admin.find("@n0000003");  // the name field's end
  ASSERT_NE(end, std::string::npos);
  admin.replace(end - extlib::kNameLength, 8, std::string("Nul\0Rest", 8));
  testing::WriteFile(site_.NetDir() + "/project.dat", admin);
  const auto listed = site_.Run({"--list"});
  ASSERT_EQ(listed.status, 0);
  EXPECT_NE(listed.out.find("Nul\tn0000003\t"), std::string::npos) << listed.out;
  EXPECT_EQ(site_.Run({"Nul", "-exist"}).status, 0);
  EXPECT_NE(site_.Run({"Nul", "-info"}).out.find("PrjNumber : n0000003"), std::string::npos);
  EXPECT_EQ(site_.Run({"Nul", "-erase_y"}).status, 0);
  EXPECT_EQ(site_.Run({"Nul", "-exist"}).status, 253);
}

// A command refused or failed says why, where its caller looks: a refused
// name gives the JSON a script reads and an audit line like any other
// refusal; an output file that cannot be written is named with its error.
TEST_F(ProjectJsonTest, RefusalsAndFailedAnswersAreNamed) {
  const auto invalid = site_.Run({"--json", "a\\b", "-info"});
  EXPECT_EQ(invalid.status, 256 - 8);
  ASSERT_FALSE(invalid.out.empty());
  EXPECT_EQ(nlohmann::json::parse(invalid.out)["result"], -8) << invalid.out;
  const auto too_long = site_.Run({"--json", std::string(51, 'x'), "-exist"});
  EXPECT_EQ(nlohmann::json::parse(too_long.out)["result"], -8) << too_long.out;
  ASSERT_EQ(site_.Run({"a\\b", "-create", "SRV1"}).status, 256 - 8);
  const std::string log = testing::ReadFile(site_.NetDir() + "/dovrane.log");
  EXPECT_NE(log.find("-create a\\b SRV1\t-8\t"), std::string::npos) << log;
  // No usable installation at all: the script still gets its object.
  std::map<std::string, std::string> none = site_.Environment();
  none["DOVRANE_HKLM"] = site_.start_dir() + "/no-such-settings.toml";
  const auto unusable = testing::RunProgram(DOVRANE_BIN, {"--json", "Office", "-info"}, none, site_.start_dir());
  EXPECT_EQ(unusable.status, 1);
  ASSERT_FALSE(unusable.out.empty()) << unusable.err;
  // The object's result is the exit status, as for every other query.
  EXPECT_EQ(nlohmann::json::parse(unusable.out)["result"], unusable.status) << unusable.out;
  for (const char* file : {"/nonexistent/dir/f", "/dev/full"}) {
    const auto r = site_.Run({site_.Name(2), "-getpath", file});
    EXPECT_EQ(r.status, 255) << file;
    EXPECT_NE(r.err.find(std::string("Can't write the output file ") + file), std::string::npos) << r.err;
  }
}

// A line as the program writes it is listed from its text, any other from
// its parsed record: both ways give the same line, whatever the fields
// (characters beyond ASCII in name and host, versions and keys with leading
// zeros, the largest key, every status).
TEST(ListLineTest, LinesInTheWrittenFormListAsTheirParsedRecords) {
  const extlib::WrittenLineCheck check(2, 2, true);
  int lines = 0;
  for (const char* name : {"Bahnhof",
                           "Museum S\xFC"
                           "d 6",
                           "\x80uro \x9F", "#", "a b  c"}) {
    for (const char* host : {"SRV1", "SRV\xC4\x81"}) {
      for (uint32_t key : {0u, 7u, 1000000000u, 0xFFFFFFFFu}) {
        for (unsigned char version : {0, 5, 10, 99}) {
          extlib::PRJ record;
          std::memcpy(record.name, name, std::strlen(name));
          std::memcpy(record.host, host, std::strlen(host));
          record.number = key % 9999999;
          record.version = version;
          record.dbkey = key;
          record.status = static_cast<unsigned char>(extlib::kStatusBlank + (key + version) % 64);
          std::string text;
          ASSERT_TRUE(extlib::FormatRecordV3(record, 2, &text));
          extlib::PRJ parsed;
          ASSERT_EQ(extlib::ParseRecordV3(text.data(), text.size(), 2, 2, true, &parsed), 0);
          extlib::WrittenFields fields;
          ASSERT_TRUE(check.Read(text.data(), &fields)) << text;
          EXPECT_EQ(WrittenListLine(fields), ListLine(parsed)) << text;
          ++lines;
        }
      }
    }
  }
  EXPECT_EQ(lines, 5 * 2 * 4 * 4);
  // And the text itself, for one of them: UTF-8, no padding, no leading zeros.
  extlib::PRJ record;
  std::memcpy(record.name,
              "S\xFC"
              "d",
              3);
  std::memcpy(record.host, "SRV1", 4);
  record.number = 42;
  record.version = 5;
  record.dbkey = 70;
  record.status = extlib::StatusCharacter(extlib::kStatusLink);
  EXPECT_EQ(ListLine(record),
            "S\xC3\xBC"
            "d\tn0000042\tSRV1\t32\t5\t70\n");
}

}  // namespace
}  // namespace dovrane::app
