// A host check-out while another computer works on the same network
// installation: its command-line program creates projects and reads records
// and the whole list, and its window fills the trees, again and again until
// the check-out is through. Nobody loses a project or meets a half-written
// file, and the check-out marks every project of the host.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "checkout_fixture.h"
#include "platform/text_codec.h"

namespace dovrane::checkout {
namespace {

using CheckoutConcurrencyTest = CheckoutFixture;

// Every line of a --list: name, number, host, status, version, key.
bool WholeList(const std::string& out, size_t at_least) {
  std::istringstream lines(out);
  std::string line;
  size_t n = 0;
  while (std::getline(lines, line)) {
    if (std::count(line.begin(), line.end(), '\t') != 5) return false;
    ++n;
  }
  return n >= at_least;
}

TEST_F(CheckoutConcurrencyTest, AnotherComputerWorkingMeanwhileLosesNothing) {
  // The other computer has machine settings of its own.
  const std::string other_hklm = site_.root() + "/hklm-srv2.toml";
  std::filesystem::copy_file(site_.Environment().at("DOVRANE_HKLM"), other_hklm);
  const std::map<std::string, std::string> other = {{"DOVRANE_COMPUTERNAME", "SRV2"}, {"DOVRANE_HKLM", other_hklm}};
  const auto run = [&](const std::string& program, const std::vector<std::string>& args) {
    return site_.RunOther(program, args, other);
  };

  // The other computer is at work before the check-out starts and until it is through.
  std::atomic<bool> through{false}, started{false};
  std::vector<std::string> faults;
  int rounds = 0;
  std::thread outside([&] {
    for (int i = 0; i < 3 || !through; ++i, rounds = i) {
      const std::string name = "Beside " + std::to_string(i);
      const auto fault = [&](const char* what, const testing::ProgramResult& r) {
        faults.push_back(name + " " + what + ": " + std::to_string(r.status) + " " + r.out + r.err);
      };
      if (auto r = run(DOVRANE_BIN, {name, "-create", "SRV2"}); r.status != 0) fault("-create", r);
      if (auto r = run(DOVRANE_BIN, {platform::Cp1252ToUtf8(list_[1].project), "-info"}); r.status != 0) fault("-info", r);
      if (auto r = run(DOVRANE_BIN, {"--list"}); r.status != 0 || !WholeList(r.out, kProjects)) fault("--list", r);
      auto r = run(DOVRANE_TREE_PROBE, {"fill"});
      size_t hosts = 0, projects = 0;
      std::istringstream(r.out) >> hosts >> projects;
      if (r.status != 0 || hosts != 3 || projects < kProjects) fault("fill", r);
      started = true;
    }
  });
  while (!started) std::this_thread::yield();
  const int rc = CheckOut(ctx_, kCheckoutHost, list_, answers_);
  through = true;
  outside.join();
  ASSERT_EQ(rc, 1) << messenger_.All();
  EXPECT_EQ(faults, std::vector<std::string>{});

  for (int i = 0; i < rounds; ++i) {
    EXPECT_EQ(run(DOVRANE_BIN, {"Beside " + std::to_string(i), "-exist"}).status, 0) << i;
  }
  for (const CheckoutEntry& entry : list_) {
    const testing::ProgramResult r = run(DOVRANE_BIN, {"--json", platform::Cp1252ToUtf8(entry.project), "-info"});
    EXPECT_NE(r.out.find("\"checked_out\":true"), std::string::npos) << entry.project << ": " << r.out;
  }
  const std::string admin = testing::ReadFile(Unc("SRV1/cad/Net/project.dat"));
  ASSERT_EQ(run(DOVRANE_BIN, {"-update"}).status, 0);
  EXPECT_EQ(testing::ReadFile(Unc("SRV1/cad/Net/project.dat")), admin);
}

}  // namespace
}  // namespace dovrane::checkout
