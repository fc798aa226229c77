// The trees with a large installation (N projects on 20 hosts, default
// 100,000): the project table in memory to both trees laid out, a refill
// with a host expanded, expanding a host of N/20 projects, a search with no
// match over every item, and the peak memory. Usage: trees_bench [N] [DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "extlib/installation.h"
#include "extlib/library_init.h"
#include "extlib/project_table.h"
#include "extlib/sample_installation.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/host_table.h"
#include "tree/item_kind.h"
#include "tree/project_tree_model_qt.h"
#include "tree/tree_search.h"

namespace {

using namespace dovrane;

double Ms(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

// This thread's processor time: on a shared machine it shows the work where
// the wall clock also shows the other processes.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Lays both views out as the first paint would.
void LayOut(tree::CDovraneTreeCtrl* a, tree::CDovraneTreeCtrl* b) {
  for (tree::CDovraneTreeCtrl* view : {a, b}) {
    view->doItemsLayout();
    view->viewport()->grab();
  }
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const int projects = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp/dovrane-tree-bench-" + std::to_string(projects);
  extlib::SampleOptions options;
  options.hosts = 20;
  options.projects = projects;
  options.project_folders = false;
  options.attribute_projects = 0;
  std::system(("rm -rf '" + dir + "'").c_str());
  // Made by a child process, so the peak memory is the trees' alone.
  pid_t child = fork();
  if (child == 0) {
    std::string error;
    int rc = extlib::MakeSampleInstallation(dir, options, &error);
    if (rc != 0) std::fprintf(stderr, "trees_bench: %s\n", error.c_str());
    _exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  platform::PathMap::Instance().SetUncRoot(dir + "/unc");
  extlib::lfinipC(23, "\\\\SRV1\\cad\\Net\\");
  QApplication app(argc, argv);

  tree::FillInput input;
  if (tree::ReadFillInput(extlib::ProcessInstallation(), &input) != 0) {
    std::fprintf(stderr, "trees_bench: the administration cannot be read\n");
    return 1;
  }
  tree::ProjectTreeModel model;
  tree::CDovraneTreeCtrl hosts(1), project_tree(0);
  hosts.resize(400, 800);
  project_tree.resize(400, 800);
  hosts.setModel(&model);
  project_tree.setModel(&model);

  QElapsedTimer timer;
  timer.start();
  model.SetTable(tree::BuildHostTable(input));
  project_tree.setRootIndex(model.index(0, 0));
  LayOut(&hosts, &project_tree);
  const double fill = Ms(timer);

  QModelIndex host = model.index(1, 0);
  timer.restart();
  hosts.expand(host);
  LayOut(&hosts, &project_tree);
  const double expand = Ms(timer);
  const int expanded_rows = model.rowCount(host);

  timer.restart();
  model.SetTable(tree::BuildHostTable(input));
  LayOut(&hosts, &project_tree);
  const double refill = Ms(timer);
  const bool kept = hosts.isExpanded(model.index(1, 0));

  timer.restart();
  const double cpu_start = ThreadCpuMs();
  tree::SearchWalk walk(model.table(), {}, "no such text anywhere", tree::kMaskAllItems);
  const bool none = !walk.NextMatch().valid();
  const double find = Ms(timer);
  const double find_cpu = ThreadCpuMs() - cpu_start;

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("projects %d hosts %zu\n", projects, model.table().hosts.size());
  std::printf("fill to both trees drawn: %.1f ms\n", fill);
  std::printf("refill, expansion kept (%s): %.1f ms\n", kept ? "yes" : "no", refill);
  std::printf("expand a host of %d projects: %.1f ms\n", expanded_rows, expand);
  std::printf("find with no match (%s): %.1f ms\n", none ? "none" : "found", find);
  std::printf("processor time of that find: %.1f ms\n", find_cpu);
  std::printf("peak memory: %.0f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
