// Every operation that writes shared files, failed once at every possible
// point (the Nth open, write, flush, rename, close, unlink or folder creation):
// afterwards the installation is unchanged or completely changed, every record
// parses, folders and records match, and a failure was reported with a
// non-zero status.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <ostream>
#include <set>

#include "platform/file_util.h"
#include "support/sample_installation.h"

namespace dovrane::testing {
namespace {

struct Operation {
  const char* name;
  // Prepares the base installation (before the operation).
  std::function<void(SampleInstallation&)> setup;
  std::function<std::vector<std::string>(const SampleInstallation&)> args;
  // A rebuild writes record by record: in between, the next -update completes it.
  bool completes_on_update = false;
  std::vector<std::string> make_options = {"--hosts", "2", "--projects", "6"};
  // What the administrator runs after a crash: -update completes interrupted
  // conversions, rebuilds and moves.
  std::vector<std::string> recovery = {"-update"};
  // A create or erase killed before it reported success may as well be
  // taken back whole by the recovery.
  bool may_be_taken_back = false;
  // The program that runs the operation: the tool itself, or the probe that
  // runs a tree command's core as the main window's worker does.
  const char* program = DOVRANE_BIN;
};

// The test output names the operation instead of dumping its bytes.
void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

// The operation's arguments for a copy of the installation: paths into the
// base installation lead into the copy instead.
std::vector<std::string> ArgsFor(const std::vector<std::string>& args, const std::string& base_root,
                                 const std::string& root) {
  std::vector<std::string> out = args;
  for (std::string& a : out)
    if (a.rfind(base_root + "/", 0) == 0) a = root + a.substr(base_root.size());
  return out;
}

std::string Describe(const InstallationState& s) {
  std::string d = s.admin_readable ? "" : "unreadable: " + s.problem + "\n";
  for (const auto& [n, r] : s.records) d += std::to_string(n) + " " + r.name + " @" + r.host + "\n";
  for (const auto& f : s.folders) d += "folder " + f + "\n";
  return d;
}


// The base installation prepared for an operation, and fresh copies of it to
// run the operation on, with or without a fault.
class OperationSite {
 public:
  explicit OperationSite(const Operation& op) : inst_(op.make_options) {
    if (op.setup) op.setup(inst_);
    args_ = op.args(inst_);
    base_root_ = inst_.root();
    program_ = op.program;
    before_ = inst_.State();
  }
  const InstallationState& before() const { return before_; }
  SampleInstallation& inst() { return inst_; }

  // Points the installation at a new copy of the base.
  void FreshCopy(const std::string& name) {
    inst_.Rebase(base_root_);
    SampleInstallation::CopyInstallation(base_root_, scratch_ / name);
    inst_.Rebase(scratch_ / name);
  }
  ProgramResult Run() { return inst_.RunOther(program_, ArgsFor(args_, base_root_, inst_.root())); }
  // Runs with the fault armed; *fired tells whether the chosen call was reached.
  ProgramResult RunWithFault(const std::string& fault, bool* fired) {
    std::string log = scratch_ / "fault.log";
    std::remove(log.c_str());
    ProgramResult r = inst_.RunOther(program_, ArgsFor(args_, base_root_, inst_.root()),
                                     {{"DOVRANE_FAULT", fault}, {"DOVRANE_FAULT_LOG", log}});
    *fired = Exists(log);
    return r;
  }

 private:
  TempDir scratch_;
  SampleInstallation inst_;
  std::vector<std::string> args_;
  std::string base_root_;
  std::string program_;
  InstallationState before_;
};

// Work folders of a create or erase (".new~", ".del~") left in the hosts' project
// folders, and a work file (its name and a process id) of the rebuild's marker or
// of a move's journal, or of a new administration.
std::string Leftovers(const std::string& unc_root) {
  std::string found;
  for (const auto& e : std::filesystem::recursive_directory_iterator(unc_root)) {
    const std::string name = e.path().filename().string();
    const bool move_journal_work = name.size() > 12 && name.compare(9, 3, "mov") == 0 &&
                                   platform::IsProcessWorkName(name, name.substr(0, 12) + ".new~");
    if (name.ends_with(".new~") || name.ends_with(".del~") || move_journal_work ||
        platform::IsProcessWorkName(name, "project.dat.rebuild.new~") || platform::IsProcessWorkName(name, "project.dat.new~"))
      found += e.path().string() + "\n";
  }
  return found;
}

class FaultRunsTest : public ::testing::TestWithParam<Operation> {};

TEST_P(FaultRunsTest, EveryFailurePointLeavesAWholeInstallation) {
  const Operation& op = GetParam();
  OperationSite site(op);
  SampleInstallation& work = site.inst();
  const InstallationState& before = site.before();

  site.FreshCopy("reference");
  ProgramResult ok = site.Run();
  ASSERT_EQ(ok.status, 0) << op.name << ": " << ok.err;
  const InstallationState after = work.State();
  ASSERT_EQ(ConsistencyProblems(after), "") << op.name;

  std::vector<std::string> points = {"open", "write", "sync", "rename", "close", "unlink", "mkdir"};
  // A rebuild also meets a volume that stays full from one write on ("write:N+").
  if (op.completes_on_update) points.push_back("write+");
  int failures_seen = 0;
  for (const std::string& point : points) {
    for (int n = 1; n <= 400; ++n) {
      site.FreshCopy("run");
      const bool lasting = point.back() == '+';
      std::string fault = point.substr(0, point.size() - lasting) + ":" + std::to_string(n) + (lasting ? "+" : "") +
                          ":ENOSPC";
      bool fired = false;
      ProgramResult r = site.RunWithFault(fault, &fired);
      const InstallationState state = work.State();
      if (!fired) {  // the operation needs fewer such calls: it ran whole
        EXPECT_EQ(r.status, 0) << fault;
        EXPECT_TRUE(state == after) << fault;
        break;
      }
      ++failures_seen;
      EXPECT_EQ(r.signal, 0) << fault << " crashed";
      if (op.completes_on_update) {
        // Between the steps of a rebuild the administration may be missing (it is
        // kept as project.dat.sav), never unreadable.
        const bool missing = !Exists(work.net_dir() + "/project.dat");
        EXPECT_TRUE(state.admin_readable || state == before || missing) << fault << ": " << state.problem;
        // A rebuild that lost a record (a full volume) says so and keeps its
        // marker, so that the next update completes it.
        if (r.status == 0)
          EXPECT_TRUE(state == after) << fault << ": reported success but\n" << Describe(state);
        else
          EXPECT_TRUE(Exists(work.net_dir() + "/project.dat.rebuild") || state == before)
              << fault << " (status " << r.status << ") left no rebuild marker\n" << Describe(state);
        ProgramResult again = work.Run({"-update"});
        EXPECT_EQ(again.status, 0) << fault << ": " << again.err;
        InstallationState repaired = work.State();
        EXPECT_EQ(ConsistencyProblems(repaired), "") << fault;
        EXPECT_EQ(repaired.records.size(), after.records.size()) << fault << "\n" << Describe(repaired);
      } else if (r.status == 0) {
        // A failure the operation could live with (a trace file, a flush of a folder).
        EXPECT_TRUE(state == after) << fault << ": reported success but\n" << Describe(state);
      } else {
        EXPECT_TRUE(state == before || state == after)
            << fault << " (status " << r.status << ") left\n" << Describe(state) << r.err;
        EXPECT_TRUE(state.admin_readable) << fault << ": " << state.problem;
        EXPECT_FALSE(r.err.empty() && r.out.empty()) << fault << ": failure not reported";
      }
      if (!Leftovers(work.unc_root()).empty()) {
        // A work folder the operation could not remove stays for the next update.
        EXPECT_EQ(work.Run({"-update"}).status, 0) << fault;
        EXPECT_EQ(Leftovers(work.unc_root()), "") << fault;
        EXPECT_TRUE(work.State() == state) << fault;
      }
      if (::testing::Test::HasFailure()) return;  // one broken point is enough to read
    }
  }
  EXPECT_GT(failures_seen, 0) << "no call of the operation could be failed";
}

std::set<std::string> Names(const InstallationState& s) {
  std::set<std::string> names;
  for (const auto& [n, r] : s.records) names.insert(r.name);
  return names;
}

class KillRunsTest : public ::testing::TestWithParam<Operation> {};

// The program killed at every write, flush, rename and close of the operation,
// and just after every rename and folder creation:
// the next -update finds a whole administration and no project is lost.
TEST_P(KillRunsTest, NextUpdateFindsEveryProject) {
  const Operation& op = GetParam();
  OperationSite site(op);
  SampleInstallation& base = site.inst();
  site.FreshCopy("reference");
  ASSERT_EQ(site.Run().status, 0);
  ASSERT_EQ(base.Run({"-update"}).status, 0);
  const InstallationState after = base.State();
  int kills = 0;
  // Killed at a call, or just after a rename or a folder's creation was made.
  const std::pair<const char*, const char*> kills_at[] = {{"write", "KILL"},        {"sync", "KILL"},
                                                          {"rename", "KILL"},       {"close", "KILL"},
                                                          {"rename", "KILL_AFTER"}, {"mkdir", "KILL_AFTER"}};
  for (const auto& [point, how] : kills_at) {
    for (int n = 1; n <= 400; ++n) {
      site.FreshCopy("run");
      std::string fault = std::string(point) + ":" + std::to_string(n) + ":" + how;
      bool fired = false;
      ProgramResult r = site.RunWithFault(fault, &fired);
      if (!fired) break;
      ++kills;
      EXPECT_EQ(r.signal, SIGKILL) << fault;
      ProgramResult again = base.Run(op.recovery);
      EXPECT_EQ(again.status, 0) << fault << ": " << again.err;
      InstallationState state = base.State();
      EXPECT_EQ(ConsistencyProblems(state), "") << fault << "\n" << Describe(state);
      if (!op.may_be_taken_back || Names(state) != Names(site.before())) {
        EXPECT_EQ(Names(state), Names(after)) << fault << "\n" << Describe(state);
      }
      EXPECT_EQ(Leftovers(base.unc_root()), "") << fault;
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(kills, 0);
}

std::string First(const SampleInstallation& inst) { return inst.ProjectNames().at(0); }

// Anyone may write into \Net: a move journal of the second project whose new
// folder is the third project's. Every recovery meets it and must leave that folder.
void PlantHostileJournal(SampleInstallation& i) {
  const InstallationState s = i.State();
  auto it = std::next(s.records.begin());
  const auto& [number, record] = *it++;
  const auto& [victim, victim_record] = *it;
  auto folder = [](const std::string& host, uint32_t n) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "n%07u", n);
    return "\\\\" + host + "\\cad\\Prj\\" + entry + ".prj";
  };
  char name[16];
  std::snprintf(name, sizeof name, "n%07u", number);
  WriteFile(i.net_dir() + "/" + name + ".mov", std::string("dovrane project move\n") + name + "\n" + record.host +
                                                   "\n" + victim_record.host + "\n" + folder(record.host, number) +
                                                   "\n" + folder(victim_record.host, victim) + "\n");
}

// The last record of project.dat has lost its line end (an editor dropped it).
void CutLastLineEnd(SampleInstallation& i) {
  std::string admin = ReadFile(i.net_dir() + "/project.dat");
  WriteFile(i.net_dir() + "/project.dat", admin.substr(0, admin.size() - 2));
}

// Moves the project of that last record to the other host.
std::vector<std::string> MoveLastRecord(const SampleInstallation& i) {
  std::string admin = ReadFile(i.net_dir() + "/project.dat");
  const uint32_t number = static_cast<uint32_t>(std::stoul(admin.substr(admin.rfind('\n') + 1 + 52, 7)));
  const RecordView record = i.State().records.at(number);
  return {record.name, "-move", record.host == "SRV1" ? "SRV2" : "SRV1"};
}

const Operation kOperations[] = {
    {"create", nullptr, [](const SampleInstallation&) { return std::vector<std::string>{"Fault Test", "-create", "SRV2"}; }},
    {"move", PlantHostileJournal,
     [](const SampleInstallation& i) {
       auto s = i.State();
       const auto& [number, record] = *s.records.begin();
       return std::vector<std::string>{record.name, "-move", record.host == "SRV1" ? "SRV2" : "SRV1"};
     }},
    {"erase", nullptr, [](const SampleInstallation& i) { return std::vector<std::string>{First(i), "-erase_y"}; }},
    {"unblock",
     [](SampleInstallation& i) {
       // The first record checked out on its own (status bit 0x01).
       std::string admin = ReadFile(i.net_dir() + "/project.dat");
       admin[admin.find('\n') + 1 + 63] = static_cast<char>(32 | 0x01);
       WriteFile(i.net_dir() + "/project.dat", admin);
     },
     [](const SampleInstallation& i) {
       return std::vector<std::string>{i.State().records.begin()->second.name, "-unblock"};
     }},
    {"checkin",
     [](SampleInstallation& i) {
       // The first record removed: its folder waits to be registered again.
       std::string admin = ReadFile(i.net_dir() + "/project.dat");
       admin[admin.find('\n') + 1] = '#';
       WriteFile(i.net_dir() + "/project.dat", admin);
     },
     [](const SampleInstallation& i) {
       // The folder without its record: HOST/n0000001.prj.
       const InstallationState state = i.State();
       std::string folder;
       for (const std::string& f : state.folders)
         if (!state.records.count(static_cast<uint32_t>(std::stoul(f.substr(f.find('/') + 2, 7))))) folder = f;
       std::string host = folder.substr(0, folder.find('/'));
       return std::vector<std::string>{"-checkin", i.unc_root() + "/" + host + "/cad/Prj/" + folder.substr(host.size() + 1)};
     }},
    {"checkin_case",
     [](SampleInstallation& i) {
       // The first record removed and its folder named in upper case.
       std::string admin = ReadFile(i.net_dir() + "/project.dat");
       const std::string number = admin.substr(admin.find('\n') + 1 + 52, 7);
       admin[admin.find('\n') + 1] = '#';
       WriteFile(i.net_dir() + "/project.dat", admin);
       for (const auto& host : std::filesystem::directory_iterator(i.unc_root())) {
         const std::string prj = host.path().string() + "/cad/Prj/";
         if (std::filesystem::exists(prj + "n" + number + ".prj"))
           std::filesystem::rename(prj + "n" + number + ".prj", prj + "N" + number + ".PRJ");
       }
     },
     [](const SampleInstallation& i) {
       for (const auto& host : std::filesystem::directory_iterator(i.unc_root()))
         for (const auto& e : std::filesystem::directory_iterator(host.path().string() + "/cad/Prj"))
           if (e.path().filename().string()[0] == 'N') return std::vector<std::string>{"-checkin", e.path().string()};
       return std::vector<std::string>{"-checkin", "none"};
     },
     false, {"--hosts", "2", "--projects", "6"}, {"-restore"}},  // a killed check-in is registered by a rebuild
    {"usercfg", nullptr, [](const SampleInstallation&) { return std::vector<std::string>{"-usercfg", "100"}; }},
    {"create_unterminated", CutLastLineEnd,
     [](const SampleInstallation&) { return std::vector<std::string>{"Fault Test", "-create", "SRV2"}; }},
    {"move_unterminated", CutLastLineEnd, MoveLastRecord},
    {"update_rebuild",
     [](SampleInstallation& i) {
       // Two records of one number make the update rebuild the administration.
       std::string admin = ReadFile(i.net_dir() + "/project.dat");
       size_t first = admin.find('\n') + 1, second = admin.find('\n', first) + 1;
       admin.replace(second + 51, 8, admin.substr(first + 51, 8));
       WriteFile(i.net_dir() + "/project.dat", admin);
     },
     [](const SampleInstallation&) { return std::vector<std::string>{"-update"}; }, true},
    {"restore", [](SampleInstallation& i) { std::remove((i.net_dir() + "/project.dat").c_str()); },
     [](const SampleInstallation&) { return std::vector<std::string>{"-restore"}; }, true},
    {"restore_hostile",
     [](SampleInstallation& i) {
       // Folders named in upper case or not as a project name, and a link to \Net.
       std::remove((i.net_dir() + "/project.dat").c_str());
       const std::string prj = i.unc_root() + "/SRV2/cad/Prj/";
       for (const auto& e : std::filesystem::directory_iterator(prj)) {
         const std::string name = e.path().filename().string();
         if (name.size() == 12 && name[0] == 'n') {
           std::filesystem::rename(e.path(), prj + "N" + name.substr(1, 7) + ".PRJ");
           break;
         }
       }
       std::filesystem::create_directories(prj + "#hash.prj");
       WriteFile(prj + "net.prj", "\\\\SRV1\\cad\\Net\r\n");
     },
     [](const SampleInstallation&) { return std::vector<std::string>{"-restore"}; }, true},
};

// The tree commands' copy (to the other host) and rename of the first project.
std::vector<std::string> CopyFirst(const SampleInstallation& i) {
  const RecordView first = i.State().records.begin()->second;
  return {"copy", first.name, "Copy Test", first.host == "SRV1" ? "SRV2" : "SRV1"};
}

std::vector<std::string> RenameFirst(const SampleInstallation& i) {
  return {"rename", i.State().records.begin()->second.name, "Renamed Test"};
}

Operation TreeCommand(const char* name, std::vector<std::string> (*args)(const SampleInstallation&)) {
  Operation op{name, nullptr, args};
  op.program = DOVRANE_TREE_PROBE;
  op.may_be_taken_back = true;  // killed before it reported success: either name, never both
  return op;
}

const Operation kTreeOperations[] = {TreeCommand("tree_copy", CopyFirst), TreeCommand("tree_rename", RenameFirst)};

Operation Named(const char* name) {
  for (const Operation& op : kOperations)
    if (std::string(op.name) == name) return op;
  ADD_FAILURE() << "no operation " << name;
  return kOperations[0];
}

Operation TakenBackOrDone(const char* name) {
  Operation op = Named(name);
  op.may_be_taken_back = true;
  return op;
}

const Operation kKilledOperations[] = {
    TakenBackOrDone("create"),
    TakenBackOrDone("erase"),
    {"convert_v2", nullptr, [](const SampleInstallation&) { return std::vector<std::string>{"-update"}; }, true,
     {"--hosts", "2", "--projects", "6", "--admin-version", "2"}},
    Named("move"),
    Named("move_unterminated"),
    Named("update_rebuild"),
    Named("restore"),
    Named("restore_hostile"),
    Named("checkin_case"),
};

// The exit statuses the manual page documents (a project code seen as its low
// 8 bits, 1 for an operation's own failure, 22 after the usage text).
bool DocumentedStatus(int status) {
  static const std::set<int> kDocumented = {0, 1, 22, 255, 254, 253, 252, 251, 250, 249, 248, 243, 242, 241, 239, 237, 236};
  return kDocumented.count(status) != 0;
}

// Whatever error the system answers, a script reads a documented status, and
// never the errno value itself taken for a project code (EIO as -5 "private
// project", EACCES as -13 "no access rights"). One run per error, each at
// another kind of call of another writing operation; -usercfg, whose
// conversion passed the rename's error on, meets every error at its rename.
TEST(ExitStatusTest, EveryInjectedErrorEndsInADocumentedStatus) {
  const int kErrors[] = {ENOSPC, EACCES, EIO, EROFS, EDQUOT, EPERM, ENOENT, EEXIST, EBUSY, EINTR, ENAMETOOLONG};
  const char* const kOperationsRun[] = {"create", "move", "erase", "unblock", "checkin", "update_rebuild", "restore"};
  const char* const kPoints[] = {"rename:1", "write:2", "open:3", "sync:1", "mkdir:1", "unlink:1", "close:2"};
  OperationSite usercfg(Named("usercfg"));
  for (size_t i = 0; i < std::size(kErrors); ++i) {
    const int e = kErrors[i];
    OperationSite site(Named(kOperationsRun[i % std::size(kOperationsRun)]));
    const std::pair<OperationSite*, std::string> runs[] = {
        {&usercfg, "rename:1:" + std::to_string(e)}, {&site, kPoints[i % std::size(kPoints)] + (":" + std::to_string(e))}};
    for (const auto& [op, fault] : runs) {
      op->FreshCopy("run");
      bool fired = false;
      ProgramResult r = op->RunWithFault(fault, &fired);
      EXPECT_TRUE(DocumentedStatus(r.status)) << fault << ": status " << r.status << "\n" << r.err;
      // EPERM and ENOENT share their numbers with "general failure" and "administration missing".
      if (e != EPERM && e != ENOENT) {
        EXPECT_NE(r.status, 256 - e) << fault << ": the errno passed on";
      }
      if (op == &usercfg) {
        EXPECT_TRUE(fired) << fault;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, KillRunsTest, ::testing::ValuesIn(kKilledOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Operations, FaultRunsTest, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(TreeCommands, FaultRunsTest, ::testing::ValuesIn(kTreeOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(TreeCommands, KillRunsTest, ::testing::ValuesIn(kTreeOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dovrane::testing
