#include "admin/move_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <future>
#include <thread>

#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "platform/file_util.h"
#include "repair_fixture.h"

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

namespace fs = std::filesystem;

class MoveJournalSiteTest : public RepairTest {
 protected:
  void SetUp() override { MakeInstallation(3, 12); }
  std::string Journal(uint32_t number) { return Unc("SRV1/cad/Net/" + extlib::NumberText(number) + ".mov"); }
  // What a move of project p from SRV1 to SRV2 leaves once its copy is made:
  // the journal and the copy (with contents, where given).
  void CopiedToSrv2(const extlib::PRJ& p, const std::string& contents = "") {
    fs::create_directories(Folder("SRV2", p.number));
    if (!contents.empty()) testing::WriteFile(Folder("SRV2", p.number) + "/objects.dat", contents);
    testing::WriteFile(Journal(p.number), FormatMoveJournal({p.number, "SRV1", "SRV2", Windows("SRV1", p.number),
                                                             Windows("SRV2", p.number)}));
  }
  static std::string Windows(const std::string& host, uint32_t number) {
    return "\\\\" + host + "\\cad\\Prj\\" + extlib::NumberText(number) + ".prj";
  }
};

// Anyone may write into \Net: a journal is followed only for the two folders a
// move of its number can have. Any other folder, in either line, is reported
// and left whole, and so is the journal.
TEST_F(MoveJournalSiteTest, AJournalNamingOtherFoldersIsReportedAndLeftAlone) {
  const extlib::PRJ p = OnHost("SRV1"), other = OnHost("SRV2");
  const std::string own = Windows("SRV1", p.number);
  fs::create_directories(Unc("ELSE/share/keep"));
  struct Case {
    const char* what;
    std::string folder;  // Windows form
    std::string native;
  } cases[] = {
      {"\\Net", "\\\\SRV1\\cad\\Net", Unc("SRV1/cad/Net")},
      {"office standard", "\\\\SRV1\\cad\\STD", Unc("SRV1/cad/STD")},
      {"outside the installation", "\\\\ELSE\\share\\keep", Unc("ELSE/share/keep")},
      {"a mapped local drive", "L:\\Pelomar\\work", root() + "/local/Pelomar/work"},
      {"another project", Windows("SRV2", other.number), Folder("SRV2", other.number)},
      {"the project itself", own, Folder("SRV1", p.number)},
  };
  for (const Case& c : cases)
    for (bool victim_new : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (victim_new ? " as new folder" : " as old folder"));
      const MoveJournal j = victim_new ? MoveJournal{p.number, "SRV1", "SRV2", own, c.folder}
                                       : MoveJournal{p.number, "SRV2", "SRV1", c.folder, own};
      testing::WriteFile(Journal(p.number), FormatMoveJournal(j));
      messages_.texts.clear();
      EXPECT_EQ(CompleteInterruptedMoves(quiet_), 0);
      EXPECT_TRUE(fs::is_directory(c.native));
      EXPECT_TRUE(fs::is_directory(Folder("SRV1", p.number)));
      EXPECT_TRUE(fs::exists(Journal(p.number)));
      EXPECT_NE(messages_.All().find("It is left alone."), std::string::npos) << messages_.All();
    }
}

// A FIFO or a link to an endless device under a journal's name is passed
// over: the update neither waits for a writer nor reads without end.
TEST_F(MoveJournalSiteTest, AJournalThatIsNotASmallRegularFileIsPassedOver) {
  const extlib::PRJ p = OnHost("SRV1");
  ASSERT_EQ(::mkfifo(Journal(p.number).c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", Journal(p.number + 100));
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 0);
  EXPECT_TRUE(fs::is_fifo(Journal(p.number)));
  EXPECT_TRUE(fs::is_symlink(Journal(p.number + 100)));
}

// A host added twice under another name reaches the same folder: the journal
// names the project's own folders, but neither is a copy to remove.
TEST_F(MoveJournalSiteTest, BothFoldersOneFolderUnderTwoHostNamesKeepThatFolder) {
  const extlib::PRJ p = OnHost("SRV1");
  fs::create_directory_symlink(Unc("SRV1"), Unc("SRV9"));
  testing::WriteFile(Unc("SRV1/cad/Net/data.cfg"), testing::ReadFile(Unc("SRV1/cad/Net/data.cfg")) + "SRV9 \\cad\n");
  testing::WriteFile(Journal(p.number),
                     FormatMoveJournal({p.number, "SRV1", "SRV9", Windows("SRV1", p.number), Windows("SRV9", p.number)}));
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 1);
  EXPECT_TRUE(fs::is_directory(Folder("SRV1", p.number)));
  EXPECT_FALSE(fs::exists(Journal(p.number)));
  EXPECT_STREQ(Find(Records(), p.number)->host, "SRV1");
}

// While the administration cannot be read nobody can tell where the project
// is: the journal waits instead of being taken for one of a project that is gone.
TEST_F(MoveJournalSiteTest, AJournalWaitsWhileTheAdministrationCannotBeRead) {
  const extlib::PRJ p = OnHost("SRV1");
  CopiedToSrv2(p);
  const std::string admin = Admin();
  const size_t first = admin.find('\n') + 1;
  testing::WriteFile(Unc("SRV1/cad/Net/project.dat"), admin.substr(0, first + 40) + admin.substr(admin.find('\r', first)));
  extlib::UnCachPrjList(extlib::DefaultContext());
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 0);
  EXPECT_TRUE(fs::exists(Journal(p.number)));
  testing::WriteFile(Unc("SRV1/cad/Net/project.dat"), admin);
  extlib::UnCachPrjList(extlib::DefaultContext());
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 1);  // the copy on SRV2 was never used
  EXPECT_FALSE(fs::exists(Folder("SRV2", p.number)));
  EXPECT_TRUE(fs::is_directory(Folder("SRV1", p.number)));
}

// The journal of a move still at work (its record locked: the copy made, the
// record not yet written) is that move's: an update meanwhile leaves the copy
// and the journal alone, and puts them right once the move is gone.
TEST_F(MoveJournalSiteTest, AMoveAtWorkKeepsItsJournalAndItsCopy) {
  const extlib::PRJ p = OnHost("SRV1");
  CopiedToSrv2(p, "copied");
  const int timeout = extlib::RecordLockTimeoutMs();
  extlib::SetRecordLockTimeoutMs(100);
  std::promise<void> locked, finish;
  std::thread move([&] {  // the move holds its record's lock from before its journal
    const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    extlib::RecordLock lock;
    EXPECT_EQ(extlib::LockRecordByNumber(extlib::DefaultContext(), handle, p.number, &lock), 0);
    locked.set_value();
    finish.get_future().wait();
    EXPECT_EQ(lock.Release(), 0);
  });
  locked.get_future().wait();
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 0);
  EXPECT_TRUE(fs::exists(Folder("SRV2", p.number) + "/objects.dat"));
  EXPECT_TRUE(fs::exists(Journal(p.number)));
  finish.set_value();
  move.join();
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 1);  // a move that died there: its copy goes
  extlib::SetRecordLockTimeoutMs(timeout);
  EXPECT_FALSE(fs::exists(Folder("SRV2", p.number)));
  EXPECT_TRUE(fs::is_directory(Folder("SRV1", p.number)));
  EXPECT_FALSE(fs::exists(Journal(p.number)));
  EXPECT_STREQ(Find(Records(), p.number)->host, "SRV1");
}

// A move cut short after its record named the target but before its second
// look for the target's check-out file, onto a host that went out meanwhile:
// the update takes it back to its source instead of finishing it there.
TEST_F(MoveJournalSiteTest, AMoveOntoAHostThatWentOutIsTakenBack) {
  const extlib::PRJ p = OnHost("SRV1");
  CopiedToSrv2(p, "copied");
  {  // the record names the target already
    const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    extlib::RecordLock lock;
    ASSERT_EQ(extlib::LockRecordByNumber(extlib::DefaultContext(), handle, p.number, &lock), 0);
    extlib::PRJ moved = p;
    extlib::SetPrjHost(&moved, "SRV2");
    ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, lock.slot(), &moved), 0);
    ASSERT_EQ(lock.Release(), 0);
    extlib::UnCachPrjList(extlib::DefaultContext());
  }
  testing::WriteFile(Unc("SRV1/cad/Net/SRV2.out"), "checked out\r\n");
  EXPECT_EQ(CompleteInterruptedMoves(quiet_), 1);
  EXPECT_STREQ(Find(Records(), p.number)->host, "SRV1");
  EXPECT_TRUE(fs::is_directory(Folder("SRV1", p.number)));
  EXPECT_FALSE(fs::exists(Folder("SRV2", p.number)));
  EXPECT_FALSE(fs::exists(Journal(p.number)));
}

}  // namespace
}  // namespace dovrane::admin
