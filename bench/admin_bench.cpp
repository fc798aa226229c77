// The project list against plain tools: with N records (default 100,000),
// 10,000 get_project_info calls against reading project.dat twice with cat,
// the first list build against one cat and grep -c, the bytes the build reads
// against the file size, and the peak memory. Usage: admin_bench [N] [DIR]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/sample_installation.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Shell(const std::string& command) {
  auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return Seconds(start);
}

// Counts what the list build reads.
class CountingEnv : public dovrane::platform::Env {
 public:
  int64_t Read(int fd, void* buf, size_t n) override {
    int64_t got = Env::Read(fd, buf, n);
    if (got > 0) bytes += got;
    ++calls;
    return got;
  }
  int64_t PRead(int fd, void* buf, size_t n, int64_t offset) override {
    ++positioned;
    return Env::PRead(fd, buf, n, offset);
  }
  int64_t bytes = 0, calls = 0, positioned = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace dovrane;
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp/dovrane-bench-" + std::to_string(records);
  std::string error;
  extlib::SampleOptions o;
  o.projects = records;
  o.project_folders = false;
  o.attribute_projects = 0;
  std::system(("rm -rf '" + dir + "'").c_str());
  if (extlib::MakeSampleInstallation(extlib::DefaultContext(), dir, o, &error) != 0) {
    std::fprintf(stderr, "admin_bench: %s\n", error.c_str());
    return 1;
  }
  platform::PathMap::Instance().SetUncRoot(dir + "/unc");
  extlib::lfinipC(extlib::DefaultContext(), 23, "\\\\SRV1\\cad\\Net\\");
  const std::string file = dir + "/unc/SRV1/cad/Net/project.dat";
  std::vector<std::string> names;
  extlib::ListInstallationProjects(extlib::DefaultContext(), dir, &names);

  Shell("cat '" + file + "' > /dev/null");  // warm the page cache for every contender
  const double cat_once = Shell("cat '" + file + "' > /dev/null");
  const double cat_twice = Shell("cat '" + file + "' > /dev/null; cat '" + file + "' > /dev/null");
  const double grep = Shell("grep -c '@n' '" + file + "' > /dev/null");

  CountingEnv counting;
  platform::SetCurrentEnv(&counting);
  extlib::UnCachPrjList(extlib::DefaultContext());
  extlib::PRJ record;
  auto start = Clock::now();
  int rc = extlib::get_project_info(extlib::DefaultContext(), names.front(), &record);
  const double build = Seconds(start);
  const int64_t build_bytes = counting.bytes, build_calls = counting.calls;
  platform::SetCurrentEnv(nullptr);

  start = Clock::now();
  int found = 0;
  for (int i = 0; i < 10000; ++i)
    found += extlib::get_project_info(extlib::DefaultContext(), names[(static_cast<size_t>(i) * 7919) % names.size()],
                                      &record) == 0;
  const double lookups = Seconds(start);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("records                      %d (%s)\n", records, rc == 0 && found == 10000 ? "all found" : "LOOKUPS FAILED");
  std::printf("10,000 get_project_info      %8.4f s   cat twice %8.4f s   ratio %.2f (goal < 1)\n", lookups,
              cat_twice, lookups / cat_twice);
  std::printf("first list build             %8.4f s   cat once  %8.4f s   ratio %.2f   grep -c %8.4f s   ratio %.2f\n",
              build, cat_once, build / cat_once, grep, build / grep);
  std::printf("bytes read by the build      %lld in %lld reads, file %lld bytes: ratio %.2f (goal 1, sequential)\n",
              static_cast<long long>(build_bytes), static_cast<long long>(build_calls),
              static_cast<long long>(names.size() * 116 + 12), static_cast<double>(build_bytes) / (names.size() * 116.0 + 12));
  std::printf("peak memory                  %.1f MiB (goal < 64 MiB)\n", usage.ru_maxrss / 1024.0);
  return rc == 0 && found == 10000 ? 0 : 1;
}
