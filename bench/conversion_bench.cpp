// The conversion of the administration against awk rewriting the same file
// (awk '{print}' old > new), in one run: a version 2 administration of N
// records with their version.txt files, and a version 3 administration from
// one to two user containers; then the peak memory of the container change
// for N/10 and N records, each in its own process. Usage: conversion_bench [N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "admin/administration_conversion.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/sample_installation.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace dovrane;

class QuietMessenger : public platform::Messenger {
 public:
  int MessageBox(const std::string& text, const std::string&, unsigned) override {
    std::fprintf(stderr, "message: %s", text.c_str());
    return platform::kIdOk;
  }
  long ShowProgressNotice(const std::string&) override { return 1; }
  void CloseProgressNotice(long) override {}
  void ProgressLine(const std::string&) override {}
};

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Awk(const std::string& file) {
  auto start = Clock::now();
  std::system(("awk '{print}' '" + file + "' > '" + file + ".awk'").c_str());
  double t = Seconds(start);
  std::remove((file + ".awk").c_str());
  return t;
}

std::string Make(const std::string& dir, int records, int version, bool folders) {
  extlib::SampleOptions o;
  o.projects = records;
  o.admin_version = version;
  o.attribute_projects = 0;
  o.project_folders = folders;
  o.project_data = false;
  std::string error;
  std::system(("rm -rf '" + dir + "'").c_str());
  if (extlib::MakeSampleInstallation(extlib::DefaultContext(), dir, o, &error) != 0) {
    std::fprintf(stderr, "conversion_bench: %s\n", error.c_str());
    std::exit(1);
  }
  extlib::close_prj_info_handle(23);
  extlib::UnCachPrjList(extlib::DefaultContext());
  platform::PathMap::Instance().SetUncRoot(dir + "/unc");
  extlib::lfinipC(extlib::DefaultContext(), 23, "\\\\SRV1\\cad\\Net\\");
  return dir + "/unc/SRV1/cad/Net/project.dat";
}

void SetContainers(const std::string& dir, int containers) {
  std::string path = dir + "/unc/SRV1/cad/Net/users.dat", text;
  platform::ReadWholeFile(path, &text, uint64_t{1} << 40);
  size_t at = text.find("containers ");
  text.replace(at, text.find('\r', at) - at, "containers " + std::to_string(containers));
  platform::WriteFileAtomic(path, text);
}

// Peak memory (MiB) of a container change of `records` records, in a child.
double ChildPeak(const std::string& dir, int records) {
  Make(dir, records, 3, false);
  SetContainers(dir, 2);
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(admin::CheckAdministrationVersion(extlib::DefaultContext()) == 0 ? 0 : 1);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  QuietMessenger quiet;
  platform::SetCurrentMessenger(&quiet);
  const std::string base = "/tmp/dovrane-conversion-bench";

  // "containers" as second argument: only the container change (no project folders).
  const bool with_v2 = !(argc > 2 && std::string(argv[2]) == "containers");
  double awk_v2 = 1, v2 = 0;
  int rc_v2 = 0;
  std::string file;
  auto start = Clock::now();
  if (with_v2) {
    file = Make(base + "-v2", n, 2, true);
    awk_v2 = Awk(file);
    start = Clock::now();
    rc_v2 = admin::CheckAdministrationVersion(extlib::DefaultContext());
    v2 = Seconds(start);
  }

  file = Make(base + "-v3", n, 3, false);
  SetContainers(base + "-v3", 2);
  double awk_v3 = Awk(file);
  start = Clock::now();
  int rc_v3 = admin::CheckAdministrationVersion(extlib::DefaultContext());
  double v3 = Seconds(start);

  double peak_small = ChildPeak(base + "-small", n / 10), peak_large = ChildPeak(base + "-large", n);
  std::printf("records                            %d\n", n);
  if (with_v2)
    std::printf("version 2 -> 3 (with version.txt)  %8.3f s   awk %8.3f s   ratio %.2f%s\n", v2, awk_v2, v2 / awk_v2,
                rc_v2 ? "   FAILED" : "");
  std::printf("1 -> 2 user containers             %8.3f s   awk %8.3f s   ratio %.2f (goal < 3)%s\n", v3, awk_v3,
              v3 / awk_v3, rc_v3 ? "   FAILED" : "");
  std::printf("peak memory of the container change: %d records %.1f MiB, %d records %.1f MiB (flat: ratio %.2f)\n",
              n / 10, peak_small, n, peak_large, peak_large / peak_small);
  std::system(("rm -rf '" + base + "-v2' '" + base + "-v3' '" + base + "-small' '" + base + "-large'").c_str());
  return rc_v2 || rc_v3;
}
