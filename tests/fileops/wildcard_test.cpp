#include "fileops/wildcard.h"

#include <gtest/gtest.h>

namespace dovrane::fileops {
namespace {

TEST(WildcardTest, MatchesAsWindowsListingsDo) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "Makefile", true},         {"*.*", "a.b.c", true},
      {"*.prj", "n0000001.PRJ", true},   {"*.prj", "n0000001.prj.old", false},
      {"n???????.prj", "n0000001.prj", true}, {"n???????.prj", "n000001.prj", false},
      {"data.*", "data", true},          {"data.*", "database", false},
      {"*.out", "out", false},           {"\xDC*", "\xC3\x9C" "ber", true},  // Ü in both code pages
      {"?ber", "\xC3\x9C" "ber", true},  // "?" takes one character, not one byte
      {"a*b*c*d", "aXbXcXe", false},     {"*", "", true},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

}  // namespace
}  // namespace dovrane::fileops
