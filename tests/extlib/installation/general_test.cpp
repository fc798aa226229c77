#include "extlib/installation/general.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dovrane::extlib {
namespace {

TEST(GeneralTest, CommandLinesSplitByWindowsRules) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  } cases[] = {
      {"dovrane  \"My Project\" -info", {"dovrane", "My Project", "-info"}},
      {"dovrane a\\\"b c", {"dovrane", "a\"b", "c"}},
      {"dovrane C:\\dir\\ x", {"dovrane", "C:\\dir\\", "x"}},
      {"dovrane \"a\\\\\" b", {"dovrane", "a\\", "b"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    int argc = 20;
    std::vector<std::string> argv;
    ASSERT_NE(String2ArgcArgv(c.line, &argc, &argv), 0) << c.line;
    EXPECT_EQ(argv, c.args) << c.line;
    EXPECT_EQ(argc, static_cast<int>(c.args.size()));
  }
}

TEST(GeneralTest, SplittingRefusesTooManyEntriesAndOpenQuotes) {
  std::string line = "p";
  for (int i = 0; i < 19; ++i) line += " a";
  int argc = 20;
  std::vector<std::string> argv;
  EXPECT_NE(String2ArgcArgv(line, &argc, &argv), 0);
  EXPECT_EQ(argc, 20);
  argc = 20;
  EXPECT_EQ(String2ArgcArgv(line + " one-more", &argc, &argv), 0);
  argc = 20;
  EXPECT_EQ(String2ArgcArgv("p \"open", &argc, &argv), 0);
}

TEST(GeneralTest, TextHelpers) {
  EXPECT_EQ(StringLaenge0("Office    ", 50), 6);
  EXPECT_EQ(StringLaenge0("          ", 50), 0);
  EXPECT_EQ(StringLaenge0("abcdef", 3), 3);
  char text[] = "m\xFCller-x";
  StringGross(text, 4);
  EXPECT_STREQ(text, "M\xDCLLer-x");
  char date[16];
  int d, m, y;
  TodayDate(&d, &m, &y);
  EXPECT_GE(y, 2024);
  d = 7, m = 3, y = 1999;
  kgdate(&d, &m, &y, date);
  EXPECT_STREQ(date, "07.03.1999");
  d = m = y = 0;  // an unknown date stays visibly unknown
  kgdate(&d, &m, &y, date);
  EXPECT_STREQ(date, "00.00.0000");
}

}  // namespace
}  // namespace dovrane::extlib
