// Projects made on or moved onto the laptop's host by another computer while
// the host goes out: either the check-out takes them into its copy and marks
// them, or they are refused, or the check-out stops and is taken back; never
// a project that neither the copy nor a mark covers.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "checkout_fixture.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_lifecycle.h"
#include "extlib/records/record_layout.h"
#include "platform/fault_injection_env.h"

namespace dovrane::checkout {
namespace {

namespace fs = std::filesystem;
using HostGoingOutTest = CheckoutFixture;

// The record line of the administration at path that holds name, or "".
std::string LineOf(const std::string& path, const std::string& name) {
  const std::string text = testing::ReadFile(path);
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(pos, end - pos);
    if (line.size() > static_cast<size_t>(extlib::layout::kV3NameEnd) &&
        extlib::TrimmedName(line.substr(0, extlib::layout::kNameWidth).c_str()) == name)
      return line;
    pos = end;
  }
  return "";
}

// While the host's check-out information file is in \Net (written first by
// its check-out, there until its check-in), a create, a copy and a move onto
// the host are refused and leave everything as it was.
TEST_F(HostGoingOutTest, CreatesCopiesAndMovesOntoAHostGoingOutAreRefused) {
  // Another computer, with machine settings of its own.
  const std::string other_hklm = site_.root() + "/hklm-srv2.toml";
  fs::copy_file(site_.Environment().at("DOVRANE_HKLM"), other_hklm);
  const std::map<std::string, std::string> other = {{"DOVRANE_COMPUTERNAME", "SRV2"}, {"DOVRANE_HKLM", other_hklm}};
  testing::WriteFile(site_.NetDir() + "/WS01.out", "VARNHOLTEK\xAE Host Checkout Information\r\n");
  uint32_t on_srv1 = 0;
  for (uint32_t n = 1; n <= kProjects && on_srv1 == 0; ++n) {
    extlib::PRJ r;
    if (site_.Record(n, &r) && std::string(r.host) == "SRV1") on_srv1 = n;
  }
  ASSERT_NE(on_srv1, 0u);
  // The installation's shares; this computer's work folder logs each run.
  const auto shares = [&] {
    auto files = State();
    std::erase_if(files, [](const auto& f) { return !f.first.starts_with("/unc/"); });
    return files;
  };
  const auto before = shares();
  constexpr int kRefused = extlib::kPrjHostCheckedOut & 0xff;
  testing::ProgramResult r = site_.RunOther(DOVRANE_BIN, {"Neu am Laptop", "-create", "WS01"}, other);
  EXPECT_EQ(r.status, kRefused) << r.out << r.err;
  r = site_.RunOther(DOVRANE_BIN, {site_.Name(on_srv1), "-move_y", "WS01"}, other);
  EXPECT_EQ(r.status, kRefused) << r.out << r.err;
  r = site_.RunOther(DOVRANE_TREE_PROBE, {"copy", site_.Name(on_srv1), "Kopie am Laptop", "WS01"}, other);
  EXPECT_NE(r.status, 0) << r.out << r.err;
  r = site_.RunOther(DOVRANE_TREE_PROBE, {"move", site_.Name(on_srv1), "WS01"}, other);
  EXPECT_NE(r.status, 0) << r.out << r.err;
  EXPECT_EQ(extlib::ltbpcrC(extlib::DefaultContext(), extlib::kSlotNet, "Neu am Laptop", "WS01", nullptr, 0, 0, 0, 0,
                            nullptr, nullptr),
            extlib::kPrjHostCheckedOut);
  EXPECT_EQ(Difference(before, shares()), "");
  // The file is what refuses them: without it the same create goes through.
  fs::remove(site_.NetDir() + "/WS01.out");
  r = site_.RunOther(DOVRANE_BIN, {"Neu am Laptop", "-create", "WS01"}, other);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// A slow share that tells through fd when a create journal went into place.
class JournalToldEnv : public platform::FaultInjectionEnv {
 public:
  explicit JournalToldEnv(int fd) : fd_(fd) {}
  int Rename(const std::string& from, const std::string& to) override {
    const int rc = FaultInjectionEnv::Rename(from, to);
    if (rc == 0 && to.ends_with(".prj.new")) (void)!::write(fd_, "j", 1);
    return rc;
  }

 private:
  int fd_;
};

// A create on the host that looked for the file just before the check-out
// wrote it, and is still at work (its host's share is slow) when the
// check-out reads the administration for its copy. The check-out waits for
// it: then the project is in its copy and marked, or the check-out stops and
// is taken back; the project is made either way.
TEST_F(HostGoingOutTest, ACreateUnderWayWhenTheCheckOutBeginsIsInItsCareOrStopsIt) {
  extlib::lzende(extlib::DefaultContext());  // the child opens the administration on its own
  site_.Activate();
  const std::string name = "Neu unterwegs";
  // The child tells through a pipe when its journal is in place: it has then
  // looked for the host's file, under the null record's lock.
  int told[2];
  ASSERT_EQ(::pipe(told), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(told[0]);
    JournalToldEnv slow(told[1]);
    slow.SetPathDelay(Unc("WS01/cad/Prj"), 150);
    (void)platform::SetCurrentEnv(&slow);
    const int rc = extlib::ltbpcrC(extlib::DefaultContext(), extlib::kSlotNet, name, "WS01", nullptr, 0, 0, 0, 0,
                                   nullptr, nullptr);
    ::_exit(rc == 0 ? 0 : 1);
  }
  ::close(told[1]);
  pollfd wait_for{told[0], POLLIN, 0};
  char byte = 0;
  const bool looked = ::poll(&wait_for, 1, 10000) == 1 && ::read(told[0], &byte, 1) == 1;
  ::close(told[0]);
  ASSERT_TRUE(looked) << "the create never got under way";

  const int out = CheckOut(ctx_, kCheckoutHost, list_, answers_);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the create failed";

  const std::string network = LineOf(Unc("SRV1/cad/Net/project.dat"), name);
  ASSERT_FALSE(network.empty()) << "the project was not made";
  const bool marked = (network[extlib::layout::kV3Status] & extlib::kStatusHostOut) != 0;
  if (out == 1) {
    EXPECT_TRUE(marked) << "out with the host, but not marked: " << network;
    EXPECT_FALSE(LineOf(Unc("WS01/cad/Net/project.dat"), name).empty()) << "out with the host, but not in its copy";
  } else {
    // Stopped and taken back: nothing of the check-out is left.
    EXPECT_FALSE(marked) << network;
    EXPECT_FALSE(fs::exists(site_.NetDir() + "/WS01.out"));
    EXPECT_EQ(CheckedOutPath(), "<none>");
    for (uint32_t n : numbers_) EXPECT_EQ(Status(n) & extlib::kStatusHostOut, 0u) << n;
    EXPECT_NE(messenger_.All().find(name), std::string::npos) << messenger_.All();
  }
}

}  // namespace
}  // namespace dovrane::checkout
