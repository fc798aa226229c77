#include "tree/tree_search.h"

#include <gtest/gtest.h>

#include "tree/item_kind.h"
#include "tree/tree_fixture.h"

namespace dovrane::tree {
namespace {

TEST(MatchItemTextTest, WordModeStarsQuestionMarksAndCase) {
  struct Case { const char* pattern; const char* text; bool case_sensitive, word; int result; } cases[] = {
      {"n0000012.prj", "n0000012.prj", true, true, 0},
      {"n0000012.prj", "xn0000012.prj", true, true, 1},     // only a whole word
      {"n0000012.prj", "a n0000012.prj b", true, true, 0},
      {"N0000012.PRJ", "n0000012.prj", true, true, 1},
      {"n00000*", "\\\\SRV1\\Prj\\N0000012.PRJ", false, false, 0},
      {"*ABC*", "xxabcxx", false, false, 0},
      {"a*c", "abc", false, false, 1},                       // one star in the middle is a character
      {"a*c", "xa*cx", false, false, 0},
      {"n?0", "N10", false, false, 0},
      {"n?0", "n20", false, false, 0},
      {"n?0", "n0", false, false, 1},
      {"n?", "xn", false, false, 1},                         // "?" does not match the end of the text
      {"b c", "a b c d", true, true, 0},                     // a blank: scanned as a whole
      {"", "abc", false, false, 0},                          // nothing to look for is in every text
      {"*", "", false, false, 1},
      {"abcd", "abc", false, false, 1},                      // longer than the text
      {"ABC", "xxabc", false, false, 0},                     // at the very end
      {"ab?", "xab", false, false, 1},
      {"ab?", "xabc", false, false, 0},
      {"?b", "ab?b", false, false, 0},                       // a first "?" is a character
      {"gr\xDC\xDF", "GR\xFC\xDF", false, false, 0},           // Windows-1252 letters fold too
      {"gr\xDC", "GR\xFC", true, false, 1},
      {"", "a  b", true, true, 0},                           // the empty word between two blanks
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchItemText(c.pattern, c.text, c.case_sensitive, c.word), c.result) << c.pattern << " / " << c.text;
  }
}

TEST(TreeSearchTest, FindTreeItemWalksPreOrderWithMaskFromStart) {
  TreeFixture fixture;
  auto table = fixture.Build();
  ItemRef srv2 = FindTreeItem(*table, {}, "SRV2", kMaskHosts);
  ASSERT_TRUE(srv2.valid());
  EXPECT_EQ(srv2.text(), "SRV2");
  EXPECT_FALSE(FindTreeItem(*table, {}, "srv2", kMaskHosts).valid());  // case-sensitive
  EXPECT_EQ(FindTreeItem(*table, {}, "one", kMaskAllItems).node, &table->FindHost("SRV2")->projects[1]);
  EXPECT_FALSE(FindTreeItem(*table, {}, "one", kMaskProjects).valid());  // checked out: not a kind of mask 1
  EXPECT_FALSE(FindTreeItem(*table, {}, "Bet", kMaskAllItems).valid());  // a whole word only
  // From a project on: its subtree and its following siblings, not the next host.
  ItemRef alpha{&table->FindHost("SRV2")->projects[0], -1};
  EXPECT_EQ(FindTreeItem(*table, alpha, "MUELLER", kKindMember).node, alpha.node);
  EXPECT_FALSE(FindTreeItem(*table, alpha, "Zeta", kMaskProjects).valid());
  EXPECT_FALSE(FindTreeItem(*table, alpha, "SRV3", kMaskHosts).valid());
}

TEST(TreeSearchTest, SearchWalkStepsThroughEveryMatchThenEnds) {
  TreeFixture fixture;
  auto table = fixture.Build();
  SearchWalk walk(*table, {}, "*TA*", kMaskAllItems);
  std::vector<std::string> found;
  for (ItemRef item = walk.NextMatch(); item.valid(); item = walk.NextMatch()) found.emplace_back(item.text());
  EXPECT_EQ(found, (std::vector<std::string>{"Delta", "Beta one", "Zeta"}));
  EXPECT_FALSE(walk.NextMatch().valid());
  SearchWalk none(*table, {}, "no such text", kMaskAllItems);
  EXPECT_FALSE(none.NextMatch().valid());
  // The names compared ahead in the snapshot's order answer as the items do:
  // without letter case, only for the kinds asked, from the start item on.
  SearchWalk lower(*table, {}, "*ta*", kMaskAllItems);
  EXPECT_EQ(lower.NextMatch().text(), "Delta");
  SearchWalk hosts(*table, {}, "*TA*", kMaskHosts);  // with the checked-out projects
  EXPECT_EQ(hosts.NextMatch().text(), "Beta one");
  EXPECT_FALSE(hosts.NextMatch().valid());
  SearchWalk from_zeta(*table, {&table->FindHost("SRV3")->projects[0], -1}, "*TA*", kMaskAllItems);
  EXPECT_EQ(from_zeta.NextMatch().text(), "Zeta");
  EXPECT_FALSE(from_zeta.NextMatch().valid());
}

}  // namespace
}  // namespace dovrane::tree
