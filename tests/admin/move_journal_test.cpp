#include "admin/move_journal.h"

#include <gtest/gtest.h>

namespace dovrane::admin {
namespace {

TEST(MoveJournalTest, RoundTripAndDamagedJournals) {
  const MoveJournal j{12, "SRV1", "SRV2", "\\\\SRV1\\cad\\Prj\\n0000012.prj", "\\\\SRV2\\cad\\Prj\\n0000012.prj"};
  const std::string text = FormatMoveJournal(j);
  MoveJournal back;
  ASSERT_TRUE(ParseMoveJournal(text, &back));
  EXPECT_EQ(back.number, 12u);
  EXPECT_EQ(back.new_host, "SRV2");
  EXPECT_EQ(back.new_dir, j.new_dir);
  const std::string bad[] = {
      "",
      text.substr(0, text.size() / 2),                                   // cut short
      "other file\nn0000012\nSRV1\nSRV2\n\\\\a\n\\\\b\n",               // not a journal
      "dovrane project move\nn12\nSRV1\nSRV2\n\\\\a\n\\\\b\n",          // bad number
      "dovrane project move\nn0000012\nSRV/1\nSRV2\n\\\\a\n\\\\b\n",    // bad host
      "dovrane project move\nn0000012\nSRV1\nSRV2\n\n\\\\b\n",          // no old folder
  };
  for (const std::string& t : bad) EXPECT_FALSE(ParseMoveJournal(t, &back)) << t;
}

}  // namespace
}  // namespace dovrane::admin
