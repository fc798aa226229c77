// dovrane-mkinstall: makes a sample network installation and prints the
// shell lines that point dovrane at it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "extlib/installation/operation_context.h"
#include "extlib/installation/sample_installation.h"
#include "platform/text_codec.h"

namespace {

constexpr char kUsage[] =
    "usage: dovrane-mkinstall DIR [--hosts N] [--projects M] [--admin-version 1|2|3] [--seed S]\n"
    "                         [--containers K] [--attribute-projects A] [--laptop] [--no-folders]\n"
    "       dovrane-mkinstall --list-projects DIR   the project names, one a line\n"
    "       dovrane-mkinstall --env DIR             the export lines for DIR\n";

bool Number(const char* text, long min, long max, long* value) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < min || v > max) return false;
  *value = v;
  return true;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dovrane;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--env") {
    std::fputs(extlib::SampleEnvironment(extlib::DefaultContext(), args[1]).c_str(), stdout);
    return 0;
  }
  if (args.size() == 2 && args[0] == "--list-projects") {
    std::vector<std::string> names;
    if (extlib::ListInstallationProjects(extlib::DefaultContext(), args[1], &names) != 0) {
      std::fprintf(stderr, "dovrane-mkinstall: no project administration below %s\n", args[1].c_str());
      return 1;
    }
    for (const std::string& n : names) std::printf("%s\n", platform::Cp1252ToUtf8(n).c_str());
    return 0;
  }
  if (args.empty() || args[0].empty() || args[0][0] == '-') return Usage();
  extlib::SampleOptions options;
  for (size_t i = 1; i < args.size(); i += 2) {
    long v = 0;
    // A host that is this computer, to check out.
    if (args[i] == "--laptop") {
      options.laptop = true;
      --i;
      continue;
    }
    // The administration without the project folders (benchmarks of the
    // administration alone: a million folders take minutes).
    if (args[i] == "--no-folders") {
      options.project_folders = false;
      options.attribute_projects = 0;
      --i;
      continue;
    }
    if (i + 1 >= args.size()) return Usage();
    const std::string& opt = args[i];
    const char* val = args[i + 1].c_str();
    if (opt == "--hosts" && Number(val, 1, 999, &v)) options.hosts = static_cast<int>(v);
    else if (opt == "--projects" && Number(val, 0, 9999999, &v)) options.projects = static_cast<int>(v);
    else if (opt == "--admin-version" && Number(val, 1, 3, &v)) options.admin_version = static_cast<int>(v);
    else if (opt == "--seed" && Number(val, 0, 2147483647, &v)) options.seed = static_cast<uint64_t>(v);
    else if (opt == "--containers" && Number(val, 1, 31, &v)) options.containers = static_cast<int>(v);
    else if (opt == "--attribute-projects" && Number(val, 0, 9999999, &v)) options.attribute_projects = static_cast<int>(v);
    else return Usage();
  }
  std::string error;
  if (extlib::MakeSampleInstallation(extlib::DefaultContext(), args[0], options, &error) != 0) {
    std::fprintf(stderr, "dovrane-mkinstall: %s\n", error.c_str());
    return 1;
  }
  std::fputs(extlib::SampleEnvironment(extlib::DefaultContext(), args[0]).c_str(), stdout);
  return 0;
}
