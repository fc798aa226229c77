// Several programs creating, copying, renaming, moving and erasing projects in one installation
// at the same time: every number unique, every record readable, every folder
// accounted for.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include "support/sample_installation.h"

namespace dovrane::testing {
namespace {

TEST(ConcurrencyTest, ParallelProgramsLeaveAConsistentAdministration) {
  SampleInstallation inst({"--hosts", "3", "--projects", "24"});
  const std::vector<std::string> existing = inst.ProjectNames();
  ASSERT_GE(existing.size(), 24u);
  std::map<std::string, std::string> host_of;
  for (const auto& [number, record] : inst.State().records) host_of[record.name] = record.host;
  constexpr int kWorkers = 4, kRounds = 6;
  std::vector<pid_t> children;
  for (int w = 0; w < kWorkers; ++w) {
    pid_t pid = ::fork();
    if (pid == 0) {
      int failures = 0;
      auto check = [&](const std::vector<std::string>& args) {
        // The tree commands' copy and rename run in the probe, as the window's worker runs them.
        const bool tree = args[0] == "copy" || args[0] == "rename";
        ProgramResult r = tree ? inst.RunOther(DOVRANE_TREE_PROBE, args) : inst.Run(args);
        if (r.status != 0) {
          ++failures;
          std::fprintf(stderr, "worker %d: %s %s -> %d: %s%s\n", w, args[0].c_str(), args[1].c_str(), r.status,
                       r.out.c_str(), r.err.c_str());
        }
      };
      for (int i = 0; i < kRounds; ++i) {
        std::string mine = "Worker " + std::to_string(w) + " project " + std::to_string(i);
        const char* hosts[] = {"SRV1", "SRV2", "SRV3"};
        check({mine, "-create", hosts[(w + i) % 3]});
        if (i % 2 == 0)
          check({"copy", mine, mine + " copy", hosts[(w + i + 1) % 3]});
        else
          check({"rename", mine, mine + " renamed"});
        // Each worker moves and erases projects of its own share of the sample.
        const std::string& theirs = existing[static_cast<size_t>(w * kRounds + i)];
        if (i % 2 == 0) {
          std::string target = host_of[theirs] == "SRV1" ? "SRV2" : "SRV1";
          check({theirs, "-move_y", target});
        } else
          check({theirs, "-erase_y"});
      }
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a worker's operation failed";
  }
  InstallationState state = inst.State();
  EXPECT_EQ(ConsistencyProblems(state), "");
  // 24 sample projects, 12 erased, 24 created, 12 of them copied and 12 renamed.
  EXPECT_EQ(state.records.size(), 24u - 12u + 24u + 12u);
  for (int w = 0; w < kWorkers; ++w)
    for (int i = 0; i < kRounds; ++i) {
      const std::string mine = "Worker " + std::to_string(w) + " project " + std::to_string(i);
      EXPECT_EQ(inst.Run({mine + (i % 2 == 0 ? "" : " renamed"), "-exist"}).status, 0) << mine;
      EXPECT_EQ(inst.Run({mine + (i % 2 == 0 ? " copy" : ""), "-exist"}).status, i % 2 == 0 ? 0 : 253) << mine;
    }
  EXPECT_EQ(inst.Run({"-update"}).status, 0);
  EXPECT_TRUE(inst.State() == state) << "the update found something to repair";
}

// Creates and moves racing a whole-file rewrite: -usercfg converts the
// administration and renames the new file into place while they wait for
// their locks.
TEST(ConcurrencyTest, CreatesAndMovesRacingUserCountChangesKeepEveryRecord) {
  SampleInstallation inst({"--hosts", "2", "--projects", "12"});
  constexpr int kCreators = 3, kCreates = 8, kSwitches = 8, kMoves = 4;
  std::map<std::string, std::string> target;
  for (const auto& [number, record] : inst.State().records)
    if (target.size() < kMoves) target[record.name] = record.host == "SRV1" ? "SRV2" : "SRV1";
  auto in_child = [](auto fn) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    return pid;
  };
  auto failed = [&](const std::vector<std::string>& args) {
    ProgramResult r = inst.Run(args);
    if (r.status != 0) std::fprintf(stderr, "%s %s -> %d: %s%s\n", args[0].c_str(), args[1].c_str(), r.status,
                                    r.out.c_str(), r.err.c_str());
    return r.status != 0 ? 1 : 0;
  };
  std::vector<pid_t> children;
  children.push_back(in_child([&] {
    int failures = 0;
    for (int i = 0; i < kSwitches; ++i) failures += failed({"-usercfg", i % 2 == 0 ? "64" : "32"});
    return failures;
  }));
  children.push_back(in_child([&] {
    int failures = 0;
    for (const auto& [name, host] : target) failures += failed({name, "-move_y", host});
    return failures;
  }));
  for (int w = 0; w < kCreators; ++w)
    children.push_back(in_child([&, w] {
      int failures = 0;
      for (int i = 0; i < kCreates; ++i)
        failures += failed({"Racer " + std::to_string(w) + " " + std::to_string(i), "-create",
                            w % 2 ? "SRV1" : "SRV2"});
      return failures;
    }));
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an operation failed";
  }
  InstallationState state = inst.State();
  EXPECT_EQ(ConsistencyProblems(state), "");
  EXPECT_EQ(state.records.size(), 12u + kCreators * kCreates);
  for (const auto& [number, record] : state.records)
    if (target.count(record.name)) {
      EXPECT_EQ(record.host, target[record.name]) << record.name;
    }
  for (int w = 0; w < kCreators; ++w)
    for (int i = 0; i < kCreates; ++i)
      EXPECT_EQ(inst.Run({"Racer " + std::to_string(w) + " " + std::to_string(i), "-exist"}).status, 0);
}

}  // namespace
}  // namespace dovrane::testing
