#include "support/sample_installation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace dovrane::testing {

SampleInstallation::SampleInstallation(const std::vector<std::string>& options) : root_(dir_ / "inst") {
  std::vector<std::string> args = {root_};
  args.insert(args.end(), options.begin(), options.end());
  ProgramResult r = RunProgram(DOVRANE_MKINSTALL, args);
  EXPECT_EQ(r.status, 0) << r.err;
  r = RunProgram(DOVRANE_MKINSTALL, {"--env", root_});
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("export ", 0) != 0) continue;
    size_t eq = line.find('=');
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
    env_[line.substr(7, eq - 7)] = value;
  }
  env_["DOVRANE_RES_DIR"] = DOVRANE_SOURCE_RES_DIR;
}

namespace {
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
    text.replace(p, from.size(), to);
  return text;
}
}  // namespace

void SampleInstallation::CopyInstallation(const std::string& from, const std::string& to) {
  std::filesystem::remove_all(to);
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  for (const auto& e : std::filesystem::directory_iterator(to))
    if (e.path().extension() == ".toml") WriteFile(e.path(), ReplaceAll(ReadFile(e.path()), from + "/", to + "/"));
}

void SampleInstallation::Rebase(const std::string& root) {
  for (auto& [k, v] : env_) v = ReplaceAll(v, root_ + "/", root + "/");
  root_ = root;
}

std::string SampleInstallation::net_dir() const { return unc_root() + "/SRV1/cad/Net"; }

std::map<std::string, std::string> SampleInstallation::Environment() const { return env_; }

std::vector<std::string> SampleInstallation::ProjectNames() const {
  ProgramResult r = RunProgram(DOVRANE_MKINSTALL, {"--list-projects", root_});
  std::vector<std::string> names;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty()) names.push_back(line);
  return names;
}

ProgramResult SampleInstallation::Run(const std::vector<std::string>& args,
                                      const std::map<std::string, std::string>& extra_env) const {
  return RunOther(DOVRANE_BIN, args, extra_env);
}

ProgramResult SampleInstallation::RunOther(const std::string& program, const std::vector<std::string>& args,
                                           const std::map<std::string, std::string>& extra_env) const {
  std::map<std::string, std::string> env = Environment();
  for (const auto& [k, v] : extra_env) env[k] = v;
  return RunProgram(program, args, env, root_);
}

}  // namespace dovrane::testing
