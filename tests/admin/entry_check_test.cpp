#include "admin/entry_check.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "admin/net_id_writer.h"
#include "admin/record_writes.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/projects/project_lifecycle.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "repair_fixture.h"
#include "support/stopping_progress.h"

namespace dovrane::admin {
namespace {

namespace fs = std::filesystem;

class EntryCheckTest : public RepairTest {
 protected:
  void SetUp() override { MakeInstallation(); }
  // Sets the status of a record in place.
  void SetStatus(const extlib::PRJ& r, unsigned char status) {
    extlib::PRJ changed = r;
    changed.status = status;
    int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    ASSERT_EQ(WriteWhole(changed, handle), 0);
  }
};

// What happened to the host's share, and whether the record of the project
// whose folder is gone must stay.
TEST_F(EntryCheckTest, MissingFolderIsRemovedOnlyWhereTheHostFolderIsThere) {
  struct Case {
    const char* what;
    void (*prepare)(const std::string& share);
    bool stays;
    const char* console;
  } cases[] = {
      {"folder deleted, share there", [](const std::string&) {}, false, "project removed from administration"},
      {"share not mounted (empty mount point)",
       [](const std::string& share) {
         fs::rename(share, share + ".away");
         fs::create_directory(share);
       },
       true, "Can't access path <\\\\SRV2\\cad\\Prj>"},
      {"project folder not mounted (empty mount point)",
       [](const std::string& share) {
         fs::rename(share + "/Prj", share + "/Prj.away");
         fs::create_directory(share + "/Prj");
       },
       true, "Can't access path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    MakeInstallation();
    const extlib::PRJ victim = OnHost("SRV2");
    fs::remove_all(Folder("SRV2", victim.number));
    c.prepare(Unc("SRV2/cad"));
    messages_.progress.clear();
    EXPECT_EQ(CheckValidEntries(console_), 0);
    EXPECT_EQ(Find(Records(), victim.number) != nullptr, c.stays);
    EXPECT_NE(messages_.progress.find(c.console), std::string::npos) << messages_.progress;
  }
}

// Cancel before the fifth project: four projects are checked whole (the one
// whose folder is gone among them), the rest is left as it was, and the bar
// only moves forward; without a cancel it ends at its end.
TEST_F(EntryCheckTest, CancelStopsBetweenProjectsAndTheBarOnlyMovesForward) {
  const auto before = Records();
  fs::remove_all(Folder(before[1].host, before[1].number));
  fs::remove_all(Folder(before[10].host, before[10].number));
  for (int cancel_at : {5, 0}) {
    testing::StoppingProgress person(cancel_at);
    extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &person);
    EXPECT_EQ(CheckValidEntries(ctx), cancel_at ? extlib::kPrjInterrupted : 0);
    const auto after = Records();  // readable
    EXPECT_EQ(Find(after, before[1].number), nullptr);
    EXPECT_EQ(Find(after, before[10].number) == nullptr, cancel_at == 0);
    EXPECT_EQ(std::count_if(person.lines.begin(), person.lines.end(),
                            [](const std::string& l) { return l.find("> on host <") != std::string::npos; }),
              cancel_at ? 4 : static_cast<long>(before.size()) - 1);
    ASSERT_FALSE(person.fractions.empty());
    EXPECT_TRUE(std::is_sorted(person.fractions.begin(), person.fractions.end()));
    EXPECT_EQ(person.fractions.back() == 1.0, cancel_at == 0);
  }
  testing::StoppingProgress person(1);
  extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &person);
  EXPECT_EQ(CheckHostEntries(ctx, "SRV1"), extlib::kPrjInterrupted);  // its lines are off, its cancel is not
  EXPECT_TRUE(person.lines.empty());
}

// The check runs on a worker, as the main window runs it; Cancel comes from
// the window's thread while the worker shows its first line.
TEST_F(EntryCheckTest, CancelFromAnotherThreadStopsTheCheckOnAWorker) {
  struct Window : testing::StoppingProgress {
    std::promise<void> shown, pressed;
    void Line(const std::string& text) override {
      if (lines.empty()) {
        shown.set_value();
        pressed.get_future().wait_for(std::chrono::seconds(30));
      }
      StoppingProgress::Line(text);
    }
  } window;
  extlib::OperationContext ctx(extlib::ProcessInstallation(), nullptr, &window);
  std::future<int> worker = std::async(std::launch::async, [&] { return CheckValidEntries(ctx); });
  window.shown.get_future().wait();
  ctx.Cancel();
  window.pressed.set_value();
  EXPECT_EQ(worker.get(), extlib::kPrjInterrupted);
  EXPECT_EQ(window.lines.size(), 3u);  // the check's head lines, no project
  EXPECT_FALSE(Records().empty());
}

TEST_F(EntryCheckTest, CheckedOutHostKeepsItsRecordInTheFullCheckOnly) {
  const extlib::PRJ out = OnHost("SRV3");
  SetStatus(out, extlib::kStatusBlank | extlib::kStatusHostOut);
  fs::remove_all(Folder("SRV3", out.number));
  testing::WriteFile(Unc("SRV1/cad/Net/" + extlib::NumberText(out.number) + ".out"), "checked out\r\n");
  fs::permissions(Unc("SRV1/cad/Net/" + extlib::NumberText(out.number) + ".out"), fs::perms::owner_read);

  EXPECT_EQ(CheckValidEntries(console_), 0);
  EXPECT_NE(Find(Records(), out.number), nullptr);
  EXPECT_NE(messages_.progress.find("project is moved out."), std::string::npos);

  EXPECT_EQ(CheckHostEntries(quiet_, "srv3"), 0);  // the host compared without letter case
  EXPECT_EQ(Find(Records(), out.number), nullptr);
  EXPECT_FALSE(fs::exists(Unc("SRV1/cad/Net/" + extlib::NumberText(out.number) + ".out")));
}

TEST_F(EntryCheckTest, VersionFromTheFolderIsTakenOverAndStoredWithTheIdentifier) {
  const extlib::PRJ p = OnHost("SRV1");
  testing::WriteFile(Folder("SRV1", p.number) + "/version.txt", "7\r\n");
  const std::string before = Admin();
  EXPECT_EQ(CheckValidEntries(quiet_), 0);
  EXPECT_EQ(Find(Records(), p.number)->version, 7);
  uint32_t id = 0;
  extlib::PRJ stored;
  ASSERT_EQ(extlib::ReadProjectInfo(Folder("SRV1", p.number), &id, &stored), 0);
  EXPECT_EQ(id, extlib::get_PRJVekNetID(extlib::DefaultContext()));
  EXPECT_EQ(stored.version, 7);
  EXPECT_EQ(Admin().size(), before.size());  // rewritten in place
}

// Runs a hook when the check reads a folder's version file, between its
// reading of the list and its write of the record.
class HookOnVersionFileEnv : public platform::Env {
 public:
  HookOnVersionFileEnv(std::string folder, std::function<void()> hook)
      : folder_(std::move(folder)), hook_(std::move(hook)) {}
  int OpenAt(int dirfd, const std::string& path, int flags, mode_t mode) override {
    if (path.ends_with(folder_ + "/version.txt") && !ran) {
      ran = true;
      hook_();
    }
    return Env::OpenAt(dirfd, path, flags, mode);
  }
  bool ran = false;

 private:
  std::string folder_;
  std::function<void()> hook_;
};

// A window checked the project out while an administrator's -restore checked
// it: the check wrote its copy of the record, read before the mark, over the
// marked one, and the window's check-in then found nothing to give back.
TEST_F(EntryCheckTest, AProjectCheckedOutWhileTheCheckRunsKeepsItsMark) {
  const extlib::PRJ p = OnHost("SRV1");
  testing::WriteFile(Folder("SRV1", p.number) + "/version.txt", "7\r\n");
  HookOnVersionFileEnv env(extlib::NumberText(p.number) + ".prj", [&] {
    unsigned char status = extlib::kStatusBlank | extlib::kStatusProjectOut;
    EXPECT_EQ(extlib::put_project_status(extlib::DefaultContext(), p.name, &status), 0);
  });
  platform::SetCurrentEnv(&env);
  EXPECT_EQ(CheckValidEntries(quiet_), 0);
  platform::SetCurrentEnv(nullptr);
  EXPECT_TRUE(env.ran);
  const auto records = Records();
  const extlib::PRJ* now = Find(records, p.number);
  ASSERT_NE(now, nullptr);
  EXPECT_TRUE(extlib::StatusFlags(now->status) & extlib::kStatusProjectOut);
  // The record of a project that is out is its check-out's until the check-in.
  EXPECT_EQ(now->version, p.version);
  // Given back, the next check takes the folder's version over.
  unsigned char back = extlib::kStatusBlank;
  ASSERT_EQ(extlib::put_project_status(extlib::DefaultContext(), p.name, &back), 0);
  EXPECT_EQ(CheckValidEntries(quiet_), 0);
  EXPECT_EQ(Find(Records(), p.number)->version, 7);
}

TEST_F(EntryCheckTest, InvalidLinkIsDeletedWithItsRecordUnreachableTargetIsKept) {
  extlib::PRJ a = OnHost("SRV1"), b = OnHost("SRV2");
  // Both projects become link files: a's target is gone below a reachable
  // folder, b's target lies on a share that is not there now.
  fs::rename(Folder("SRV1", a.number), Unc("SRV3/cad/Prj/moved_a.prj"));
  fs::remove_all(Unc("SRV3/cad/Prj/moved_a.prj"));
  testing::WriteFile(Folder("SRV1", a.number), "\\\\SRV3\\cad\\Prj\\moved_a.prj\r\n");
  fs::remove_all(Folder("SRV2", b.number));
  testing::WriteFile(Folder("SRV2", b.number), "\\\\SRV9\\cad\\Prj\\moved_b.prj\r\n");
  EXPECT_EQ(CheckValidEntries(console_), 0);
  const auto records = Records();
  EXPECT_EQ(Find(records, a.number), nullptr);
  EXPECT_FALSE(fs::exists(Folder("SRV1", a.number)));
  EXPECT_NE(messages_.progress.find("Invalid link removed"), std::string::npos);
  EXPECT_NE(Find(records, b.number), nullptr);
  EXPECT_TRUE(fs::exists(Folder("SRV2", b.number)));
}

// Dies, as a killed process does, at the nth positioned write.
class KillingEnv : public platform::Env {
 public:
  explicit KillingEnv(int nth) : nth_(nth) {}
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset) override {
    if (++calls_ == nth_) ::kill(::getpid(), SIGKILL);
    return Env::PWrite(fd, buf, n, offset);
  }

 private:
  int nth_, calls_ = 0;
};

TEST_F(EntryCheckTest, KilledWhileRemovingLeavesAReadableAdministration) {
  auto before = Records();
  std::set<uint32_t> gone;
  for (size_t i = 0; i < before.size(); i += 4) {
    gone.insert(before[i].number);
    fs::remove_all(Folder(before[i].host, before[i].number));
  }
  for (int nth = 1; nth <= static_cast<int>(gone.size()) + 1; ++nth) {
    SCOPED_TRACE(nth);
    pid_t child = ::fork();
    if (child == 0) {
      KillingEnv killing(nth);
      platform::SetCurrentEnv(&killing);
      (void)CheckValidEntries(quiet_);  // killed within it
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    auto after = Records();
    ASSERT_FALSE(after.empty());
    for (const extlib::PRJ& r : before) {
      if (gone.count(r.number)) continue;
      EXPECT_NE(Find(after, r.number), nullptr) << r.number;
    }
    for (const extlib::PRJ& r : after) EXPECT_TRUE(Find(before, r.number));
  }
  EXPECT_EQ(CheckValidEntries(quiet_), 0);
  EXPECT_EQ(Records().size(), before.size() - gone.size());
}

// The check decides a removal on the record as it read it (its folder gone
// from its host). A move that took the project to another host meanwhile
// rewrote the record under its lock: the removal must find it changed and
// leave it, not write the stale copy back deleted.
TEST_F(EntryCheckTest, ARecordMovedMeanwhileIsNotDeletedFromItsStaleCopy) {
  auto records = Records();
  const extlib::PRJ seen = records[0];
  int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  extlib::PRJ moved = seen;
  std::memset(moved.host, ' ', sizeof moved.host);
  const std::string other = std::string(seen.host, 4) == "SRV2" ? "SRV3" : "SRV2";
  std::memcpy(moved.host, other.data(), other.size());
  ASSERT_EQ(WriteWhole(moved, handle), 0);
  EXPECT_EQ(MarkRecordDeleted(extlib::DefaultContext(), seen, handle), extlib::kPrjNotFound);
  const auto after_move = Records();
  const extlib::PRJ* now = Find(after_move, seen.number);
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(std::string(now->host, 4), other);
  // The record as it is on disk is still removed.
  extlib::PRJ current = *now;
  EXPECT_EQ(MarkRecordDeleted(extlib::DefaultContext(), current,
                              extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting)),
            0);
  EXPECT_EQ(Find(Records(), seen.number), nullptr);
}

// Runs a record check at the moment a create puts its built folder into
// place, as another workstation's -update may: the record is written then,
// the folder still has its work name.
class CheckBeforeTheFolderEnv : public platform::Env {
 public:
  explicit CheckBeforeTheFolderEnv(std::function<void()> check) : check_(std::move(check)) {}
  int Rename(const std::string& from, const std::string& to) override {
    if (from.ends_with(".prj.new~") && !ran) {
      ran = true;
      check_();
    }
    return Env::Rename(from, to);
  }
  bool ran = false;

 private:
  std::function<void()> check_;
};

// The check saw the new record without its folder and removed it; the create
// then put the folder into place and reported success: a project made and
// said so, with its folder and no record. The create's journal says it is at
// work (or, cut short, waits for the journal pass).
TEST_F(EntryCheckTest, ARecordWhoseCreateHasNotPutItsFolderInPlaceYetStays) {
  for (bool host_scoped : {false, true}) {
    SCOPED_TRACE(host_scoped);
    const std::string name = host_scoped ? "Made meanwhile 2" : "Made meanwhile 1";
    CheckBeforeTheFolderEnv env(
        [&] { EXPECT_EQ(host_scoped ? CheckHostEntries(quiet_, "SRV3") : CheckValidEntries(quiet_), 0); });
    platform::SetCurrentEnv(&env);
    extlib::PRJ made;
    uint32_t number = 0;
    const int rc = extlib::ltbpcrC(extlib::DefaultContext(), extlib::kSlotNet, extlib::PadName(name), "SRV3", nullptr,
                                   0, 0, 0, 0, &made, &number);
    platform::SetCurrentEnv(nullptr);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(env.ran);
    EXPECT_TRUE(fs::is_directory(Folder("SRV3", number)));
    const auto records = Records();
    const extlib::PRJ* now = Find(records, number);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(extlib::TrimmedName(now->name), name);
  }
  // Once the creates are through, the check has nothing to put right.
  const std::string before = Admin();
  EXPECT_EQ(CheckValidEntries(quiet_), 0);
  EXPECT_EQ(Admin(), before);
}

TEST_F(EntryCheckTest, UnknownHostIsNamedOnce) {
  auto records = Records();
  extlib::PRJ r = records[0], s = records[1];
  int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), r, handle), 0);
  ASSERT_EQ(MarkRecordDeleted(extlib::DefaultContext(), s, handle), 0);
  extlib::SetPrjHost(&r, "GONE");
  extlib::SetPrjHost(&s, "GONE");
  ASSERT_EQ(AppendRecord(extlib::DefaultContext(), r), 0);
  ASSERT_EQ(AppendRecord(extlib::DefaultContext(), s), 0);
  EXPECT_EQ(CheckValidEntries(quiet_), 0);
  int named = 0;
  for (const std::string& t : messages_.texts) named += t == "Unkown host <GONE> in project administration\n";
  EXPECT_EQ(named, 1);
  EXPECT_NE(Find(Records(), r.number), nullptr);  // an unknown host's folder is not reachable
}

}  // namespace
}  // namespace dovrane::admin
