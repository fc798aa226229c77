// Creates and erases cut short, in the states a crash leaves them, are put
// right by the next -update; journals that name anything else change nothing.
#include "admin/interrupted_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

#include "admin/administration_conversion.h"
#include "admin/checkout_file.h"
#include "admin/repair_fixture.h"
#include "extlib/installation/host_list_lock.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/operation_journal.h"
#include "network/host_registration.h"

namespace dovrane::admin {
namespace {

namespace fs = std::filesystem;

class InterruptedOperationsTest : public RepairTest {
 protected:
  void SetUp() override { MakeInstallation(2, 8); }
  std::string NetFile(const std::string& name) const { return Unc("SRV1/cad/Net/" + name); }
  static std::string Entry(const extlib::PRJ& r) { return extlib::NumberText(r.number) + ".prj"; }
  void Journal(bool create, const std::string& host, const std::string& entry) const {
    testing::WriteFile(NetFile(entry + (create ? ".new" : ".del")),
                       std::string(create ? "dovrane project create\n" : "dovrane project erase\n") + host + "\n" +
                           entry + "\n");
  }
  // Projects whose names a command line takes as they are.
  std::vector<extlib::PRJ> PlainNamed() const {
    std::vector<extlib::PRJ> out;
    for (const extlib::PRJ& r : Records()) {
      const std::string name = extlib::TrimmedName(r.name);
      if (std::all_of(name.begin(), name.end(), [](unsigned char c) { return c < 128; })) out.push_back(r);
    }
    return out;
  }
  bool NoJournalLeft() const {
    for (const auto& e : fs::directory_iterator(Unc("SRV1/cad/Net")))
      if (e.path().extension() == ".new" || e.path().extension() == ".del") return false;
    return true;
  }
};

TEST_F(InterruptedOperationsTest, CreateCutShortIsTakenBackOrFinished) {
  // Before its record was written: the folder being built goes.
  fs::create_directories(Unc("SRV1/cad/Prj/n0000040.prj.new~/data"));
  Journal(true, "SRV1", "n0000040.prj");
  // After: the folder goes into place.
  const extlib::PRJ r = OnHost("SRV2");
  const std::string folder = Folder("SRV2", r.number);
  fs::rename(folder, folder + ".new~");
  Journal(true, "SRV2", Entry(r));
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(Unc("SRV1/cad/Prj/n0000040.prj.new~")));
  EXPECT_FALSE(fs::exists(Folder("SRV1", 40)));
  EXPECT_TRUE(fs::exists(folder + "/version.txt"));
  EXPECT_FALSE(fs::exists(folder + ".new~"));
  EXPECT_TRUE(NoJournalLeft());
  EXPECT_NE(run.out.find("Interrupted creation of project <n0000040.prj> on host <SRV1> taken back.\n"),
            std::string::npos) << run.out;
}

TEST_F(InterruptedOperationsTest, EraseCutShortIsTakenBackOrFinished) {
  const std::vector<extlib::PRJ> plain = PlainNamed();
  ASSERT_GE(plain.size(), 2u);
  const extlib::PRJ kept = plain[0], erased = plain[1];
  // Before its record was written: the folder comes back.
  const std::string folder = Folder(kept.host, kept.number);
  fs::rename(folder, folder + ".del~");
  Journal(false, kept.host, Entry(kept));
  // After: what was taken away goes.
  ASSERT_EQ(Run({extlib::TrimmedName(erased.name), "-erase_y"}).status, 0);
  const std::string gone = Folder(erased.host, erased.number) + ".del~";
  fs::create_directories(gone + "/data");
  Journal(false, erased.host, Entry(erased));
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(folder + "/version.txt"));
  EXPECT_FALSE(fs::exists(folder + ".del~"));
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_TRUE(NoJournalLeft());
  // The project is whole again: a second erase goes through.
  EXPECT_EQ(Run({extlib::TrimmedName(kept.name), "-erase_y"}).status, 0);
}

TEST_F(InterruptedOperationsTest, JournalsOfWholeProjectsOrForeignFoldersChangeNothing) {
  const extlib::PRJ r = OnHost("SRV1");
  Journal(true, "SRV1", Entry(r));  // a project that is whole
  Journal(false, "SRV1", Entry(r));
  fs::create_directories(Folder("SRV1", 50) + "/data");  // a folder no create made
  Journal(true, "SRV1", "n0000050.prj");
  const std::string before = Admin();
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Admin(), before);
  EXPECT_TRUE(fs::exists(Folder("SRV1", r.number) + "/version.txt"));
  EXPECT_TRUE(fs::exists(Folder("SRV1", 50) + "/data"));
  EXPECT_TRUE(NoJournalLeft());
}

TEST_F(InterruptedOperationsTest, JournalsThatLeadElsewhereAreLeftAlone) {
  fs::create_directories(Unc("SRV1/cad/Net.del~"));
  testing::WriteFile(NetFile("Net.prj.del"), "dovrane project erase\nSRV1\n..\\Net.prj\n");
  testing::WriteFile(NetFile("n0000051.prj.new"), "dovrane project create\nSRV1\nn0000052.prj\n");
  // A symbolic link in a work folder's place never becomes a project's folder.
  const extlib::PRJ r = OnHost("SRV2");
  fs::rename(Folder("SRV2", r.number), Folder("SRV2", r.number) + ".keep");
  fs::create_directory_symlink(Unc("SRV1/cad/Net"), Folder("SRV2", r.number) + ".new~");
  Journal(true, "SRV2", Entry(r));
  EXPECT_EQ(Run({"-update"}).status, 0);
  EXPECT_TRUE(fs::exists(Unc("SRV1/cad/Net.del~")));
  EXPECT_FALSE(fs::exists(Folder("SRV2", r.number)));
  EXPECT_TRUE(fs::exists(Unc("SRV1/cad/Net/project.dat")));
  // Not journals of ours: left for a person to read.
  for (const std::string& name : {std::string("Net.prj.del"), std::string("n0000051.prj.new"), Entry(r) + ".new"})
    EXPECT_TRUE(fs::exists(NetFile(name))) << name;
}

// A create or erase killed while it wrote its journal leaves the journal's
// temporary, which is no journal: the next update removes it, unless a writer
// that may still be writing it holds the administration's lock. Anything that
// only looks like one (a link, a folder, another writer's work file) stays.
TEST_F(InterruptedOperationsTest, TemporariesOfJournalWritesCutShortGoUnlessAWriterMayHoldThem) {
  const extlib::PRJ r = OnHost("SRV1");
  const std::string create_temp = NetFile("n0000040.prj.new.new~23712");
  const std::string erase_temp = NetFile(Entry(r) + ".del.new~23713");
  const std::string erase_of_none = NetFile("n0000060.prj.del.new~5");
  for (const std::string& temp : {create_temp, erase_temp, erase_of_none})
    testing::WriteFile(temp, "dovrane project create\nSRV");  // cut short mid-write
  testing::WriteFile(root() + "/outside.txt", "not the office's\n");
  fs::create_symlink(root() + "/outside.txt", NetFile("n0000042.prj.new.new~9"));
  fs::create_directory(NetFile("n0000043.prj.new.new~10"));
  const std::vector<std::string> kept = {NetFile("n0000041.prj.new.new~x"), NetFile("Plan.prj.new.new~7"),
                                         NetFile("project.dat.new~7x"), NetFile("n0000044.prj.new~8")};
  for (const std::string& name : kept) testing::WriteFile(name, "another writer's\n");

  {
    // Another writer holds the whole administration: a create or an erase of
    // that record may be writing its journal now.
    const int fd = ::open(Unc("SRV1/cad/Net/project.dat").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &whole), 0);
    extlib::SetRecordLockTimeoutMs(100);
    (void)extlib::RemoveJournalTemporaries(extlib::DefaultContext());
    ::close(fd);
    EXPECT_TRUE(fs::exists(create_temp));
    EXPECT_TRUE(fs::exists(erase_temp));
  }
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const std::string& temp : {create_temp, erase_temp, erase_of_none}) EXPECT_FALSE(fs::exists(temp)) << temp;
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_TRUE(fs::is_symlink(NetFile("n0000042.prj.new.new~9")));
  EXPECT_EQ(testing::ReadFile(root() + "/outside.txt"), "not the office's\n");
  EXPECT_TRUE(fs::is_directory(NetFile("n0000043.prj.new.new~10")));
  EXPECT_NE(Find(Records(), r.number), nullptr);
}

// A project check-out cut short while it wrote its information file (killed,
// or its share stopped answering) leaves the write's temporary in \Net. The
// update removes it while no check-out can be writing it: the record carries
// no mark, nobody holds its lock, or there is no such record.
TEST_F(InterruptedOperationsTest, TemporariesOfCheckoutFilesGoWhileNoCheckOutCanWriteThem) {
  const std::vector<extlib::PRJ> records = PlainNamed();
  ASSERT_GE(records.size(), 3u);
  auto temp_of = [&](uint32_t number, const std::string& pid) {
    return NetFile(extlib::NumberText(number) + ".out.new~" + pid);
  };
  const std::string idle = temp_of(records[0].number, "6252"), marked = temp_of(records[1].number, "6253"),
                    locked = temp_of(records[2].number, "6254"), of_none = temp_of(9999, "6255");
  for (const std::string& temp : {idle, marked, locked, of_none}) testing::WriteFile(temp, "Projekt: ");
  // Another writer's, or only looking like one: they stay.
  const std::vector<std::string> kept = {NetFile(extlib::NumberText(records[0].number) + ".out.new~x"),
                                         NetFile("Plan.out.new~7"), NetFile("WS01.out.new~8")};
  for (const std::string& name : kept) testing::WriteFile(name, "another writer's\n");
  testing::WriteFile(root() + "/outside.txt", "not the office's\n");
  fs::create_symlink(root() + "/outside.txt", temp_of(records[0].number, "9"));
  {
    // The second project is checked out.
    const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    extlib::RecordLock lock;
    ASSERT_EQ(extlib::LockRecordByNumber(extlib::DefaultContext(), handle, records[1].number, &lock), 0);
    extlib::PRJ r;
    ASSERT_EQ(extlib::ReadRecordAtSlot(handle, lock.slot(), &r), extlib::kRecordRead);
    r.status |= extlib::kStatusProjectOut;
    ASSERT_EQ(extlib::WriteRecordAtSlot(extlib::DefaultContext(), handle, lock.slot(), &r), extlib::kPrjOk);
    ASSERT_EQ(lock.Release(), 0);
  }
  // The third record's lock is held by another process (a check-out marking it).
  int locked_pipe[2], done_pipe[2];
  ASSERT_EQ(::pipe(locked_pipe), 0);
  ASSERT_EQ(::pipe(done_pipe), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::close(done_pipe[1]);
    ::close(locked_pipe[0]);
    extlib::close_prj_info_handle(extlib::kSlotNet);  // a lock of its own, not this process's
    const int handle = extlib::open_prj_info(extlib::DefaultContext(), extlib::kSlotNet, extlib::kOpenExisting);
    extlib::RecordLock lock;
    const bool held = extlib::LockRecordByNumber(extlib::DefaultContext(), handle, records[2].number, &lock) == 0;
    char byte = held ? 'l' : 'x';
    (void)!::write(locked_pipe[1], &byte, 1);
    (void)!::read(done_pipe[0], &byte, 1);  // until the parent closes its end
    ::_exit(0);
  }
  ::close(done_pipe[0]);
  ::close(locked_pipe[1]);
  char byte = 0;
  ASSERT_EQ(::read(locked_pipe[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'l');
  extlib::SetRecordLockTimeoutMs(100);
  EXPECT_EQ(RemoveCheckoutFileTemporaries(extlib::DefaultContext()), 2);
  ::close(done_pipe[1]);
  ::close(locked_pipe[0]);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);

  EXPECT_FALSE(fs::exists(idle));
  EXPECT_FALSE(fs::exists(of_none));
  EXPECT_TRUE(fs::exists(marked));
  EXPECT_TRUE(fs::exists(locked));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_TRUE(fs::is_symlink(temp_of(records[0].number, "9")));
  EXPECT_EQ(testing::ReadFile(root() + "/outside.txt"), "not the office's\n");
  // Once the lock is gone, the update takes the third; the marked one stays.
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(locked));
  EXPECT_TRUE(fs::exists(marked));
}

// A user count change killed while it wrote users.dat, its new administration
// or the copy it keeps, or a rebuild killed while it wrote a new empty
// administration, leaves the write's temporary in \Net. The next update
// removes it under the lock the change held, never while a writer holds one,
// and leaves alone what only looks like one.
TEST_F(InterruptedOperationsTest, TemporariesOfAUserCountChangeCutShortGoUnderTheWholeFileLock) {
  const std::vector<std::string> temporaries = {NetFile("users.dat.new~30590"), NetFile("project.dat.conv~30591"),
                                                NetFile("project.dat.old.new~30592"), NetFile("project.dat.new~30593")};
  for (const std::string& temp : temporaries) testing::WriteFile(temp, "containers 2\nADM");  // cut short
  testing::WriteFile(root() + "/outside.txt", "not the office's\n");
  fs::create_symlink(root() + "/outside.txt", NetFile("users.dat.new~9"));
  const std::vector<std::string> kept = {NetFile("users.dat.new~x"), NetFile("data.cfg.new~5x"),
                                         NetFile("project.dat.conv~")};
  for (const std::string& name : kept) testing::WriteFile(name, "another writer's\n");
  {
    const int fd = ::open(Unc("SRV1/cad/Net/project.dat").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock record = {};
    record.l_type = F_RDLCK;  // any lock: a writer at work
    record.l_whence = SEEK_SET;
    record.l_start = 20;
    record.l_len = 1;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &record), 0);
    EXPECT_EQ(RemoveConversionTemporaries(extlib::DefaultContext()), 0);
    ::close(fd);
  }
  for (const std::string& temp : temporaries) EXPECT_TRUE(fs::exists(temp)) << temp;
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const std::string& temp : temporaries) EXPECT_FALSE(fs::exists(temp)) << temp;
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_TRUE(fs::is_symlink(NetFile("users.dat.new~9")));
  EXPECT_EQ(testing::ReadFile(root() + "/outside.txt"), "not the office's\n");
}

// A host registration killed in its rewrite of the host list leaves the
// rewrite's temporary in \Net. The next writer of the list removes it under
// the list's lock, and so does -update; while someone holds that lock it
// stays, and what only looks like such a temporary (a link, a folder, other
// names) stays too, as does everything else in \Net.
TEST_F(InterruptedOperationsTest, TemporariesOfAHostListWriteCutShortGoUnderTheListsLock) {
  const std::string cfg = NetFile("data.cfg");
  const std::string before = testing::ReadFile(cfg);
  auto killed_writer = [&](const std::string& host) {
    std::map<std::string, std::string> env = env_;
    env["DOVRANE_FAULT"] = "rename:1:KILL";  // just before the new list goes into place
    const testing::ProgramResult r =
        testing::RunProgram(DOVRANE_TREE_PROBE, {"add-host", "\\\\" + host + "\\cad"}, env, root());
    EXPECT_EQ(r.signal, SIGKILL) << r.status << r.err;
    std::vector<std::string> temps;
    for (const auto& e : fs::directory_iterator(Unc("SRV1/cad/Net"))) {
      const std::string name = e.path().filename().string();
      if (name.rfind("data.cfg.new~", 0) == 0 && name.size() > 13 &&
          name.find_first_not_of("0123456789", 13) == std::string::npos && fs::is_regular_file(e.symlink_status()))
        temps.push_back(e.path().string());
    }
    EXPECT_EQ(temps.size(), 1u);
    return temps.empty() ? std::string() : temps[0];
  };
  const std::string first = killed_writer("SRV7");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(testing::ReadFile(cfg), before);
  EXPECT_NE(testing::ReadFile(first).find("SRV7"), std::string::npos);

  testing::WriteFile(root() + "/outside.txt", "not the office's\n");
  fs::create_symlink(root() + "/outside.txt", NetFile("data.cfg.new~9"));
  fs::create_directories(NetFile("data.cfg.new~10/inside"));
  const std::vector<std::string> kept = {NetFile("data.cfg.new~x"), NetFile("data.cfg.new~"),
                                         NetFile("data.cfg.new~12a"), NetFile("data.cfg.old"),
                                         NetFile("net.id.new~44")};
  for (const std::string& name : kept) testing::WriteFile(name, "someone else's\n");

  // Held by another writer: the next one waits its time and gives up, nothing goes.
  {
    const int fd = ::open(cfg.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &whole), 0);
    extlib::SetRecordLockTimeoutMs(200);
    EXPECT_EQ(network::RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\SRV8\\cad"), 0);
    EXPECT_EQ(extlib::RemoveDeadHostListTemporaries(extlib::DefaultContext(), cfg), 0);
    const testing::ProgramResult update = Run({"-update"});
    EXPECT_EQ(update.status, 0) << update.err;
    ::close(fd);
    extlib::SetRecordLockTimeoutMs(500);
  }
  EXPECT_TRUE(fs::exists(first));
  EXPECT_EQ(testing::ReadFile(cfg), before);

  // Everything in \Net but the list, the temporary and the audit log, as it is now.
  auto listing = [&] {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(Unc("SRV1/cad/Net"))) {
      const std::string name = fs::relative(e.path(), Unc("SRV1/cad/Net")).string();
      if (name == "data.cfg" || e.path() == first || name == "dovrane.log") continue;
      struct stat st = {};
      if (::lstat(e.path().c_str(), &st) != 0) continue;
      out[name] = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                  std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    return out;
  };
  const auto net_before = listing();
  ASSERT_EQ(network::RegisterHostInDataCfg(extlib::DefaultContext(), "\\\\SRV8\\cad"), 1);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_EQ(testing::ReadFile(cfg), before + "SRV8 \\cad\n");
  EXPECT_EQ(listing(), net_before);
  EXPECT_TRUE(fs::is_symlink(NetFile("data.cfg.new~9")));
  EXPECT_TRUE(fs::is_directory(NetFile("data.cfg.new~10/inside")));
  for (const std::string& name : kept) EXPECT_EQ(testing::ReadFile(name), "someone else's\n") << name;
  EXPECT_EQ(testing::ReadFile(root() + "/outside.txt"), "not the office's\n");

  // A second one killed; the update removes its temporary.
  const std::string second = killed_writer("SRV6");
  ASSERT_FALSE(second.empty());
  const testing::ProgramResult update = Run({"-update"});
  EXPECT_EQ(update.status, 0) << update.err;
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::is_symlink(NetFile("data.cfg.new~9")));
  EXPECT_TRUE(fs::is_directory(NetFile("data.cfg.new~10/inside")));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(name)) << name;
  EXPECT_EQ(testing::ReadFile(cfg), before + "SRV8 \\cad\n");
}

// A create killed after its folder went into place and before it raised the
// header's highest number leaves its record above the header, where no
// repair looked before. The update's journal pass raises it.
TEST_F(InterruptedOperationsTest, ACreateKilledBeforeItRaisedTheHeaderHasItRaised) {
  testing::ProgramResult made = Run({"Kurz vor Schluss", "-create", "SRV2"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::vector<extlib::PRJ> records = Records();  // FindName points into it
  const extlib::PRJ* r = FindName(records, "Kurz vor Schluss");
  ASSERT_NE(r, nullptr);
  const uint32_t number = r->number;
  std::string admin = Admin();
  ASSERT_EQ(admin.substr(2, 8), extlib::NumberText(number));
  admin.replace(2, 8, extlib::NumberText(number - 1));  // the header as the kill left it
  testing::WriteFile(Unc("SRV1/cad/Net/project.dat"), admin);
  Journal(true, "SRV2", extlib::NumberText(number) + ".prj");
  testing::ProgramResult run = Run({"-update"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Admin().substr(2, 8), extlib::NumberText(number));
  EXPECT_TRUE(NoJournalLeft());
  EXPECT_NE(FindName(Records(), "Kurz vor Schluss"), nullptr);
  EXPECT_TRUE(fs::exists(Folder("SRV2", number) + "/version.txt"));
}

}  // namespace
}  // namespace dovrane::admin
