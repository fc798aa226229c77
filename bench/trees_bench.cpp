// The trees with a large installation (N projects on H hosts, default
// 100,000 on 20): project.dat read to both trees laid out, the project table
// in memory to both trees laid out, a refill with a host expanded, expanding
// a host of N/H projects, a search with no match over every item, and the
// peak memory. Usage: trees_bench [N] [H] [DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/sample_installation.h"
#include "extlib/records/project_table.h"
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

// The two trees on one model, as the main window shows them.
struct Trees {
  tree::ProjectTreeModel model;
  tree::CDovraneTreeCtrl hosts{1}, projects{0};
  Trees() {
    for (tree::CDovraneTreeCtrl* view : {&hosts, &projects}) {
      view->resize(400, 800);
      view->setModel(&model);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const int projects = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int host_count = argc > 2 ? std::atoi(argv[2]) : 20;
  const std::string dir = argc > 3 ? argv[3] : "/tmp/dovrane-tree-bench-" + std::to_string(projects);
  extlib::SampleOptions options;
  options.hosts = host_count;
  options.projects = projects;
  options.project_folders = false;
  options.attribute_projects = 0;
  std::system(("rm -rf '" + dir + "'").c_str());
  // Made by a child process, so the peak memory is the trees' alone.
  pid_t child = fork();
  if (child == 0) {
    std::string error;
    int rc = extlib::MakeSampleInstallation(extlib::DefaultContext(), dir, options, &error);
    if (rc != 0) std::fprintf(stderr, "trees_bench: %s\n", error.c_str());
    _exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  platform::PathMap::Instance().SetUncRoot(dir + "/unc");
  extlib::lfinipC(extlib::DefaultContext(), 23, "\\\\SRV1\\cad\\Net\\");
  QApplication app(argc, argv);

  Trees shown;
  tree::ProjectTreeModel& model = shown.model;
  tree::CDovraneTreeCtrl &hosts = shown.hosts, &project_tree = shown.projects;

  // The first fill as the window makes it: project.dat read and parsed
  // (the fill's worker), the table built, the trees laid out.
  QElapsedTimer timer;
  timer.start();
  const double complete_cpu_start = ThreadCpuMs();
  tree::FillInput input;
  if (tree::ReadFillInput(extlib::DefaultContext(), &input) != 0) {
    std::fprintf(stderr, "trees_bench: the administration cannot be read\n");
    return 1;
  }
  const double read = Ms(timer);
  double complete = 0, complete_cpu = 0;
  {
    Trees first;
    first.model.SetTable(tree::BuildHostTable(input));
    first.projects.setRootIndex(first.model.index(0, 0));
    LayOut(&first.hosts, &first.projects);
    complete = Ms(timer);
    complete_cpu = ThreadCpuMs() - complete_cpu_start;
  }

  timer.restart();
  const double fill_cpu_start = ThreadCpuMs();
  std::unique_ptr<tree::HostTable> built = tree::BuildHostTable(input);
  const double build = Ms(timer);
  model.SetTable(std::move(built));
  project_tree.setRootIndex(model.index(0, 0));
  LayOut(&hosts, &project_tree);
  const double fill = Ms(timer);
  const double fill_cpu = ThreadCpuMs() - fill_cpu_start;

  QModelIndex host = model.index(1, 0);
  timer.restart();
  hosts.expand(host);
  LayOut(&hosts, &project_tree);
  const double expand = Ms(timer);
  const int expanded_rows = model.rowCount(host);  // the rows the views were given
  const size_t host_projects = model.table().hosts[1]->projects.size();

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
  std::printf("project.dat read to both trees drawn: %.1f ms (read %.1f ms, processor time %.1f ms)\n", complete, read,
              complete_cpu);
  std::printf("fill to both trees drawn: %.1f ms (table built %.1f ms, processor time %.1f ms)\n", fill, build, fill_cpu);
  std::printf("refill, expansion kept (%s): %.1f ms\n", kept ? "yes" : "no", refill);
  std::printf("expand a host of %zu projects: %.1f ms (rows given to the views %d)\n", host_projects, expand,
              expanded_rows);
  std::printf("find with no match (%s): %.1f ms\n", none ? "none" : "found", find);
  std::printf("processor time of that find: %.1f ms\n", find_cpu);
  std::printf("peak memory: %.0f MiB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
  const double table_bytes = static_cast<double>(input.snapshot->MemoryBytes());
  std::printf("project table: %.0f MiB (%.0f bytes a record with its indexes)\n", table_bytes / 1048576.0,
              table_bytes / static_cast<double>(std::max<size_t>(input.snapshot->Count(), 1)));
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
