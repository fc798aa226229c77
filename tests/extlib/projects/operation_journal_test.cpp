#include "extlib/projects/operation_journal.h"

#include <gtest/gtest.h>

namespace dovrane::extlib {
namespace {

TEST(OperationJournalTest, RoundTripAndJournalsThatLeadElsewhere) {
  const OperationJournal erase{JournalKind::kErase, "SRV2", "Kopie.prj"};
  OperationJournal back;
  ASSERT_TRUE(ParseOperationJournal(FormatOperationJournal(erase), &back));
  EXPECT_EQ(back.kind, JournalKind::kErase);
  EXPECT_EQ(back.host + " " + back.entry, "SRV2 Kopie.prj");
  EXPECT_EQ(JournalFileName(back), "Kopie.prj.del");
  const std::string bad[] = {
      "",
      "dovrane project create\nSRV1\n",                  // cut short
      "dovrane project move\nSRV1\nn0000001.prj\n",      // another kind
      "dovrane project create\nSRV1\nKopie.prj\n",       // a create makes a numbered folder
      "dovrane project erase\nSRV/1\nn0000001.prj\n",    // bad host
      "dovrane project erase\nSRV1\n..\\Net.prj\n",      // out of the project folder
      "dovrane project erase\nSRV1\n../../Net.prj\n",
      "dovrane project erase\nSRV1\n\\\\SRV2\\cad.prj\n",
      "dovrane project erase\nSRV1\n.prj\n",             // no name
      "dovrane project erase\nSRV1\n#gone.prj\n",        // a deleted slot's name
      "dovrane project erase\nSRV1\nn0000001.prj\nmore\n",
  };
  for (const std::string& text : bad) EXPECT_FALSE(ParseOperationJournal(text, &back)) << text;
}

}  // namespace
}  // namespace dovrane::extlib
