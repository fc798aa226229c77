#include "support/installation_state.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "extlib/installation/hosts.h"
#include "extlib/records/record_line.h"
#include "extlib/installation/users.h"
#include "platform/text_codec.h"
#include "support/temp_dir.h"

namespace dovrane::testing {

namespace {

std::string Trim(const std::string& s) {
  size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? "" : s.substr(0, e + 1);
}

std::string ProjectFolderOfHost(const std::string& unc_root, const extlib::HostEntry& host) {
  std::string path = unc_root + "/" + host.name;
  for (char c : host.data_path) path.push_back(c == '\\' ? '/' : c);
  while (!path.empty() && path.back() == '/') path.pop_back();
  // Letter case of "Prj" as the host has it.
  for (const char* prj : {"/Prj", "/prj", "/PRJ"})
    if (std::filesystem::exists(path + prj)) return path + prj;
  return path + "/Prj";
}

}  // namespace

InstallationState ReadInstallationState(const std::string& unc_root, const std::string& net_dir) {
  InstallationState state;
  std::vector<extlib::HostEntry> hosts;
  int bad = 0;
  if (extlib::ParseHostList(ReadFile(net_dir + "/data.cfg"), &hosts, &bad) != 0 || bad != 0) {
    state.problem = "data.cfg unreadable at line " + std::to_string(bad);
    return state;
  }
  extlib::UserTable users;
  int containers = 1;
  if (Exists(net_dir + "/users.dat") && extlib::ParseUserTable(ReadFile(net_dir + "/users.dat"), &users, &bad) == 0)
    containers = users.containers;

  for (const extlib::HostEntry& host : hosts) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(ProjectFolderOfHost(unc_root, host), ec)) {
      std::string name = e.path().filename().string();
      unsigned n;
      char rest[8];
      if (name.size() == 12 && std::sscanf(name.c_str(), "n%7u.%3s", &n, rest) == 2 && std::string(rest) == "prj")
        state.folders.insert(host.name + "/" + name);
      if (name.size() > 4 && (name.ends_with(".prj.new~") || name.ends_with(".prj.del~")))
        state.unfinished.insert(host.name + "/" + name);
    }
  }
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(net_dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.ends_with(".prj.new") || name.ends_with(".prj.del")) state.unfinished.insert("Net/" + name);
  }

  std::string admin = ReadFile(net_dir + "/project.dat");
  extlib::AdminHeader header;
  if (admin.size() < 11 || extlib::ParseHeaderBytes(admin.data(), std::min<size_t>(admin.size(), 12), &header) != 0 ||
      header.version != 3) {
    state.problem = "project.dat header unreadable";
    return state;
  }
  const int words = containers;
  const size_t line = (words == 0 ? 84 : 106 + 8 * static_cast<size_t>(words)) + static_cast<size_t>(header.line_end);
  size_t pos = 10 + static_cast<size_t>(header.line_end);
  // A complete last record without its line end (or its LF) is a record.
  const size_t rest = (admin.size() - pos) % line;
  if (rest == line - static_cast<size_t>(header.line_end) || (header.line_end == 2 && rest == line - 1))
    admin.append(line - rest, '\n');
  if ((admin.size() - pos) % line != 0) {
    state.problem = "project.dat has a partial line";
    return state;
  }
  for (size_t slot = 1; pos < admin.size(); pos += line, ++slot) {
    extlib::PRJ record;
    if (extlib::ParseRecordV3(admin.data() + pos, line - static_cast<size_t>(header.line_end), words, containers, true,
                              &record) != 0) {
      state.problem = "record slot " + std::to_string(slot) + " unreadable";
      return state;
    }
    if (record.name[0] == '#' || record.number == 0) continue;
    ++state.numbered_records;
    state.records[record.number] = {platform::Cp1252ToUtf8(Trim(record.name)), Trim(record.host), record.status};
  }
  state.admin_readable = true;
  return state;
}

std::string ConsistencyProblems(const InstallationState& state) {
  if (!state.admin_readable) return state.problem;
  std::string problems;
  if (state.numbered_records != state.records.size()) problems += "a number is used twice\n";
  std::set<std::string> expected;
  for (const auto& [number, record] : state.records) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "/n%07u.prj", number);
    expected.insert(record.host + folder);
  }
  for (const std::string& f : expected)
    if (!state.folders.count(f)) problems += "record without folder: " + f + "\n";
  for (const std::string& f : state.folders)
    if (!expected.count(f)) problems += "folder without record: " + f + "\n";
  for (const std::string& f : state.unfinished) problems += "left unfinished: " + f + "\n";
  return problems;
}

}  // namespace dovrane::testing
