// Every operation that writes shared files, failed once at every possible
// point (the Nth open, write, flush, rename, close, unlink or folder creation):
// afterwards the installation is unchanged or completely changed, every record
// parses, folders and records match, and a failure was reported with a
// non-zero status.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <set>

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
};

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
  ProgramResult Run() { return inst_.Run(ArgsFor(args_, base_root_, inst_.root())); }
  // Runs with the fault armed; *fired tells whether the chosen call was reached.
  ProgramResult RunWithFault(const std::string& fault, bool* fired) {
    std::string log = scratch_ / "fault.log";
    std::remove(log.c_str());
    ProgramResult r = inst_.Run(ArgsFor(args_, base_root_, inst_.root()),
                                {{"DOVRANE_FAULT", fault}, {"DOVRANE_FAULT_LOG", log}});
    *fired = Exists(log);
    return r;
  }

 private:
  TempDir scratch_;
  SampleInstallation inst_;
  std::vector<std::string> args_;
  std::string base_root_;
  InstallationState before_;
};

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

  const char* points[] = {"open", "write", "sync", "rename", "close", "unlink", "mkdir"};
  int failures_seen = 0;
  for (const char* point : points) {
    for (int n = 1; n <= 400; ++n) {
      site.FreshCopy("run");
      std::string fault = std::string(point) + ":" + std::to_string(n) + ":ENOSPC";
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

// The program killed at every write, flush, rename and close of the operation:
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
  for (const char* point : {"write", "sync", "rename", "close"}) {
    for (int n = 1; n <= 400; ++n) {
      site.FreshCopy("run");
      std::string fault = std::string(point) + ":" + std::to_string(n) + ":KILL";
      bool fired = false;
      ProgramResult r = site.RunWithFault(fault, &fired);
      if (!fired) break;
      ++kills;
      EXPECT_EQ(r.signal, SIGKILL) << fault;
      ProgramResult again = base.Run(op.recovery);
      EXPECT_EQ(again.status, 0) << fault << ": " << again.err;
      InstallationState state = base.State();
      EXPECT_EQ(ConsistencyProblems(state), "") << fault << "\n" << Describe(state);
      EXPECT_EQ(Names(state), Names(after)) << fault << "\n" << Describe(state);
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(kills, 0);
}

std::string First(const SampleInstallation& inst) { return inst.ProjectNames().at(0); }

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
    {"move", nullptr,
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
};

Operation Named(const char* name) {
  for (const Operation& op : kOperations)
    if (std::string(op.name) == name) return op;
  ADD_FAILURE() << "no operation " << name;
  return kOperations[0];
}

const Operation kKilledOperations[] = {
    {"convert_v2", nullptr, [](const SampleInstallation&) { return std::vector<std::string>{"-update"}; }, true,
     {"--hosts", "2", "--projects", "6", "--admin-version", "2"}},
    Named("move"),
    Named("move_unterminated"),
    Named("update_rebuild"),
    Named("restore"),
};

INSTANTIATE_TEST_SUITE_P(Operations, KillRunsTest, ::testing::ValuesIn(kKilledOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Operations, FaultRunsTest, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dovrane::testing
