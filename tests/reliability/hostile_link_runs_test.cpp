// The hostile-link run: every writing command of the command line and every
// core the window calls for a change runs once without links, and what that
// run changed in the installation (files and folders rewritten, removed or
// made) is then replaced in turn by a symbolic link to a copy outside the
// installation, one run each. Afterwards nothing outside has changed, and the
// command either did its work on the installation or told of the link (a
// failure status or a message naming it). A new writer is one row.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::testing {
namespace {

namespace fs = std::filesystem;

struct Writer {
  const char* name;
  // The tool itself, or the probe that runs a window command's core as the
  // window's worker does.
  const char* program;
  std::function<void(SampleInstallation&)> setup;  // may be null
  std::function<std::vector<std::string>(const SampleInstallation&)> args;
  // Work files the run makes and removes again under a fixed name (the
  // listing after the run cannot show them).
  std::vector<std::string> work_names = {};
};

void PrintTo(const Writer& w, std::ostream* os) { *os << w.name; }

// Every entry below dir, links not followed: type and permissions, size and
// modification time, so a removed, added, grown or touched entry shows.
using Listing = std::map<std::string, std::string>;

std::string Describe(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
         "." + std::to_string(st.st_mtim.tv_nsec);
}

void AddListing(const std::string& root, const std::string& dir, Listing* out) {
  const fs::path top = fs::path(root) / dir;
  if (!fs::exists(fs::symlink_status(top))) return;
  (*out)[dir] = Describe(top);
  for (const auto& e : fs::recursive_directory_iterator(top))
    (*out)[fs::relative(e.path(), root).string()] = Describe(e.path());
}

// The installation's shared folders: the hosts' shares. This computer's own
// folders (settings, the work folder with STDERR.OUT) are nobody else's to
// link.
Listing InstallationListing(const std::string& root) {
  Listing out;
  AddListing(root, "unc", &out);
  return out;
}

Listing OutsideListing(const std::string& dir) {
  Listing out;
  AddListing(dir, ".", &out);
  return out;
}

std::string ListingDifference(const Listing& before, const Listing& after) {
  std::string d;
  for (const auto& [k, v] : before)
    if (!after.count(k)) d += "gone " + k + "\n";
    else if (after.at(k) != v) d += "changed " + k + "\n";
  for (const auto& [k, v] : after)
    if (!before.count(k)) d += "added " + k + "\n";
  return d;
}

// The folders that make the installation's shape: the UNC root, hosts and
// shares, and the \Net and Prj folders, which an administrator may move and
// link on purpose (the program follows those).
bool IsShapeFolder(const std::string& rel) {
  const fs::path p(rel);
  std::vector<std::string> parts(p.begin(), p.end());
  if (parts.size() <= 3) return true;
  return parts.size() == 4 && (parts[3] == "Net" || parts[3] == "Prj");
}

struct Position {
  std::string rel;    // relative to the installation's root
  bool existed;       // before the run (else the run made it)
  bool directory;     // what the link points to: a folder, or a file
};

// What a run without links changed: every entry it rewrote, touched or
// removed, and the first level of what it made.
std::vector<Position> TouchedPositions(const Listing& before, const Listing& after, const std::string& root_after) {
  std::vector<Position> out;
  for (const auto& [rel, what] : before) {
    if (IsShapeFolder(rel)) continue;
    auto it = after.find(rel);
    if (it != after.end() && it->second == what) continue;
    out.push_back({rel, true, S_ISDIR(static_cast<mode_t>(std::stoul(what.substr(0, what.find(' ')))))});
  }
  for (const auto& [rel, what] : after) {
    if (before.count(rel) || IsShapeFolder(rel) || !before.count(fs::path(rel).parent_path().string())) continue;
    out.push_back({rel, false, fs::is_directory(fs::symlink_status(fs::path(root_after) / rel))});
  }
  return out;
}

// The projects by name and host with their status: what a command's work
// shows (a create that meets a link at its folder's name takes the next
// number, which is as good).
std::multiset<std::string> Projects(const InstallationState& s) {
  std::multiset<std::string> out;
  for (const auto& [number, r] : s.records) out.insert(r.name + "@" + r.host + " " + std::to_string(r.status));
  return out;
}

class HostileLinkRunsTest : public ::testing::TestWithParam<Writer> {};

TEST_P(HostileLinkRunsTest, NothingOutsideTheInstallationChanges) {
  const Writer& w = GetParam();
  SampleInstallation inst({"--hosts", "2", "--projects", "4", "--laptop"});
  if (w.setup) w.setup(inst);
  const std::vector<std::string> base_args = w.args(inst);
  const std::string base_root = inst.root();
  TempDir scratch;
  auto args_for = [&](const std::string& root) {
    std::vector<std::string> out = base_args;
    for (std::string& a : out)
      if (a.rfind(base_root + "/", 0) == 0) a = root + a.substr(base_root.size());
    return out;
  };
  auto fresh = [&](const std::string& name) {
    inst.Rebase(base_root);
    SampleInstallation::CopyInstallation(base_root, scratch / name);
    inst.Rebase(scratch / name);
  };

  // The run without links: what it touches, and what it leaves.
  fresh("reference");
  const Listing before = InstallationListing(inst.root());
  const ProgramResult ok = inst.RunOther(w.program, args_for(inst.root()));
  ASSERT_EQ(ok.status, 0) << w.name << " without links:\n" << ok.out << ok.err;
  const Listing after = InstallationListing(inst.root());
  const auto done = Projects(inst.State());
  std::vector<Position> positions = TouchedPositions(before, after, inst.root());
  for (const std::string& rel : w.work_names) positions.push_back({rel, false, false});
  ASSERT_FALSE(positions.empty()) << w.name << " changed nothing in the installation";

  int n = 0;
  for (const Position& pos : positions) {
    SCOPED_TRACE(std::string(w.name) + ": " + pos.rel + " a link" + (pos.existed ? "" : " before it is made"));
    fresh("run");
    const fs::path at = fs::path(inst.root()) / pos.rel;
    // The link leads to a copy of what was there (or to something of the
    // same kind), so a program that follows it finds what it expects.
    TempDir outside;
    const fs::path target = fs::path(outside.path()) / ("t" + std::to_string(++n));
    if (pos.existed) {
      fs::copy(at, target, fs::copy_options::recursive);
      fs::remove_all(at);
    } else if (pos.directory) {
      WriteFile(target / "keep.txt", "not the installation's\n");
    } else {
      WriteFile(target, "not the installation's\n");
    }
    ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
    const Listing outside_before = OutsideListing(outside.path());

    const ProgramResult r = inst.RunOther(w.program, args_for(inst.root()));
    const std::string said = r.out + r.err;
    EXPECT_EQ(r.signal, 0) << said;
    EXPECT_EQ(OutsideListing(outside.path()), outside_before)
        << "written through the link:\n"
        << ListingDifference(outside_before, OutsideListing(outside.path())) << said;
    const bool named = said.find("symbolic link") != std::string::npos ||
                       said.find(at.filename().string()) != std::string::npos;
    EXPECT_TRUE(r.status != 0 || named || Projects(inst.State()) == done)
        << "ended 0 without its work and without naming the link:\n" << said;
  }
  std::printf("[ %s: %zu positions ]\n", w.name, positions.size());
}

// The projects of the sample installation (4 on SRV1, SRV2 and WS01).
RecordView RecordOn(const SampleInstallation& i, const std::string& host) {
  for (const auto& [number, record] : i.State().records)
    if (record.host == host) return record;
  ADD_FAILURE() << "no project on " << host;
  return {};
}

std::string FolderOn(const SampleInstallation& i, const std::string& host) {
  for (const auto& e : fs::directory_iterator(i.unc_root() + "/" + host + "/cad/Prj"))
    if (e.is_directory()) return e.path().string();
  return "";
}

// A record's status byte set (0x01: checked out alone).
void SetFirstStatus(SampleInstallation& i, char bit) {
  std::string admin = ReadFile(i.net_dir() + "/project.dat");
  admin[admin.find('\n') + 1 + 63] = static_cast<char>(32 | bit);
  WriteFile(i.net_dir() + "/project.dat", admin);
}

void Probe(SampleInstallation& i, const std::vector<std::string>& args) {
  const ProgramResult r = i.RunOther(DOVRANE_TREE_PROBE, args);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
}

using Args = std::vector<std::string>;

Writer Tool(const char* name, std::function<Args(const SampleInstallation&)> args,
            std::function<void(SampleInstallation&)> setup = nullptr) {
  return {name, DOVRANE_BIN, std::move(setup), std::move(args)};
}
Writer Window(const char* name, std::function<Args(const SampleInstallation&)> args,
              std::function<void(SampleInstallation&)> setup = nullptr) {
  return {name, DOVRANE_TREE_PROBE, std::move(setup), std::move(args)};
}

const Writer kWriters[] = {
    // The command line.
    Tool("create", [](const SampleInstallation&) { return Args{"Hostile", "-create", "SRV2"}; }),
    Tool("erase_y", [](const SampleInstallation& i) { return Args{RecordOn(i, "SRV2").name, "-erase_y"}; }),
    Tool("move", [](const SampleInstallation& i) { return Args{RecordOn(i, "SRV2").name, "-move", "SRV1"}; }),
    Tool("move_y", [](const SampleInstallation& i) { return Args{RecordOn(i, "SRV1").name, "-move_y", "SRV2"}; }),
    Tool("unblock", [](const SampleInstallation& i) { return Args{i.State().records.begin()->second.name, "-unblock"}; },
         [](SampleInstallation& i) { SetFirstStatus(i, 0x01); }),
    Tool("reorg", [](const SampleInstallation& i) { return Args{RecordOn(i, "SRV2").name, "-reorg"}; }),
    Tool("renewUUIDs", [](const SampleInstallation& i) { return Args{RecordOn(i, "SRV2").name, "-renewUUIDs"}; }),
    Tool("updateattr", [](const SampleInstallation& i) { return Args{RecordOn(i, "SRV2").name, "-updateattr"}; }),
    Tool("update_host",
         [](const SampleInstallation&) { return Args{"-update", "SRV2"}; },
         [](SampleInstallation& i) {
           // A project folder without its record: the update registers it.
           fs::copy(FolderOn(i, "SRV2"), i.unc_root() + "/SRV2/cad/Prj/n0000060.prj", fs::copy_options::recursive);
         }),
    Tool("update_rebuild", [](const SampleInstallation&) { return Args{"-update"}; },
         [](SampleInstallation& i) {
           // Two records of one number make the update rebuild the administration.
           std::string admin = ReadFile(i.net_dir() + "/project.dat");
           size_t first = admin.find('\n') + 1, second = admin.find('\n', first) + 1;
           admin.replace(second + 51, 8, admin.substr(first + 51, 8));
           WriteFile(i.net_dir() + "/project.dat", admin);
         }),
    Tool("restore", [](const SampleInstallation&) { return Args{"-restore"}; },
         [](SampleInstallation& i) { fs::remove(i.net_dir() + "/project.dat"); }),
    Tool("checkin",
         [](const SampleInstallation& i) {
           return Args{"-checkin", i.unc_root() + "/" + i.State().folders.begin()->substr(0, 4) + "/cad/Prj/" +
                                       i.State().folders.begin()->substr(5)};
         },
         [](SampleInstallation& i) {
           // The record of the first folder taken out: its folder waits to be registered again.
           const std::string folder = *i.State().folders.begin();
           const std::string number = folder.substr(folder.find('/') + 2, 7);
           std::string admin = ReadFile(i.net_dir() + "/project.dat");
           for (size_t at = admin.find('\n'); at != std::string::npos; at = admin.find('\n', at + 1))
             if (at + 1 + 59 <= admin.size() && admin.compare(at + 1 + 52, 7, number) == 0) admin[at + 1] = '#';
           WriteFile(i.net_dir() + "/project.dat", admin);
         }),
    Tool("usercfg", [](const SampleInstallation&) { return Args{"-usercfg", "100"}; }),
    // The window's cores.
    Window("tree_create", [](const SampleInstallation&) { return Args{"create", "SRV2"}; }),
    Window("tree_delete", [](const SampleInstallation& i) { return Args{"delete", RecordOn(i, "SRV2").name}; }),
    Window("tree_move", [](const SampleInstallation& i) { return Args{"move", RecordOn(i, "SRV2").name, "SRV1"}; }),
    Window("tree_copy",
           [](const SampleInstallation& i) { return Args{"copy", RecordOn(i, "SRV2").name, "Hostile Copy", "SRV1"}; }),
    Window("tree_rename",
           [](const SampleInstallation& i) { return Args{"rename", RecordOn(i, "SRV2").name, "Hostile Name"}; }),
    Window("add_host", [](const SampleInstallation&) { return Args{"add-host", "\\\\SRV3\\cad"}; },
           [](SampleInstallation& i) {
             fs::create_directories(i.unc_root() + "/SRV3/cad/Usr");
             fs::create_directories(i.unc_root() + "/SRV3/cad/Prj");
             fs::copy(FolderOn(i, "SRV2"), i.unc_root() + "/SRV3/cad/Prj/n0000060.prj", fs::copy_options::recursive);
           }),
    {"remove_host", DOVRANE_TREE_PROBE, nullptr, [](const SampleInstallation&) { return Args{"remove-host", "SRV2"}; },
     {"unc/SRV1/cad/Net/project.dat.new"}},
    Window("checkout_host", [](const SampleInstallation&) { return Args{"checkout-host", "WS01"}; }),
    Window("checkin_host", [](const SampleInstallation&) { return Args{"checkin-host", "WS01"}; },
           [](SampleInstallation& i) { Probe(i, {"checkout-host", "WS01"}); }),
    Window("checkout_project",
           [](const SampleInstallation& i) { return Args{"checkout-project", "SRV2", RecordOn(i, "SRV2").name}; }),
    Window("checkin_project",
           [](const SampleInstallation& i) { return Args{"checkin-project", "SRV2", RecordOn(i, "SRV2").name}; },
           [](SampleInstallation& i) { Probe(i, {"checkout-project", "SRV2", RecordOn(i, "SRV2").name}); }),
    Window("remove_lock_file", [](const SampleInstallation& i) { return Args{"remove-lock", RecordOn(i, "SRV2").name}; },
           [](SampleInstallation& i) { WriteFile(FolderOn(i, "SRV2") + "/project.lck", "left by a session\n"); }),
    Window("remove_host_mark", [](const SampleInstallation&) { return Args{"remove-host-mark", "WS01"}; },
           [](SampleInstallation& i) { Probe(i, {"checkout-host", "WS01"}); }),
};

// Links inside a project folder (to a folder and a file outside, and a
// relative one) are the project's entries, not what they point to: the
// window's copy takes them along as links, and the delete of the copy and
// of the original removes the links themselves; outside nothing changes.
TEST(HostileLinksInsideAProject, AreCopiedAsLinksAndRemovedThemselves) {
  SampleInstallation inst({"--hosts", "2", "--projects", "4", "--laptop"});
  TempDir outside;
  outside.Write("deep/keep.txt", "not the installation's\n");
  outside.Write("plan.txt", "nor this\n");
  const RecordView source = RecordOn(inst, "SRV2");
  const std::string folder = FolderOn(inst, "SRV2");
  ASSERT_EQ(::symlink(outside.path().c_str(), (folder + "/out").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "plan.txt").c_str(), (folder + "/plan.txt").c_str()), 0);
  ASSERT_EQ(::symlink("objects.dat", (folder + "/current").c_str()), 0);
  const Listing before = OutsideListing(outside.path());

  ProgramResult r = inst.RunOther(DOVRANE_TREE_PROBE, {"copy", source.name, "Linked Copy", "SRV1"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string copy;
  for (const auto& e : fs::directory_iterator(inst.unc_root() + "/SRV1/cad/Prj"))
    if (fs::is_symlink(e.path() / "out")) copy = e.path().string();
  ASSERT_FALSE(copy.empty()) << "the copy did not take the link along";
  EXPECT_EQ(fs::read_symlink(copy + "/out").string(), outside.path());
  EXPECT_EQ(fs::read_symlink(copy + "/plan.txt").string(), outside / "plan.txt");
  EXPECT_EQ(fs::read_symlink(copy + "/current").string(), "objects.dat");
  EXPECT_EQ(OutsideListing(outside.path()), before);

  for (const std::string& name : {std::string("Linked Copy"), source.name}) {
    r = inst.RunOther(DOVRANE_TREE_PROBE, {"delete", name});
    EXPECT_EQ(r.status, 0) << name << r.out << r.err;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(copy)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder)));
  EXPECT_EQ(OutsideListing(outside.path()), before) << "deleted through a link";
}

// A project whose entry in Prj is a symbolic link to a folder outside: the
// commands that would work in the folder refuse it, the erase (command line
// and window) removes the link and the record, and the folder outside stays.
TEST(HostileLinksInsideAProject, AnEntryThatIsALinkIsRefusedAndErasedAsALink) {
  SampleInstallation inst({"--hosts", "2", "--projects", "4", "--laptop"});
  TempDir outside;
  const std::vector<std::string> names = {RecordOn(inst, "SRV2").name, RecordOn(inst, "SRV1").name};
  std::vector<std::string> entries;
  for (const char* host : {"SRV2", "SRV1"}) {
    const std::string entry = FolderOn(inst, host);
    const fs::path target = fs::path(outside.path()) / host;
    fs::rename(entry, target);
    ASSERT_EQ(::symlink(target.c_str(), entry.c_str()), 0);
    entries.push_back(entry);
  }
  const Listing before = OutsideListing(outside.path());
  for (const Args& args : {Args{names[0], "-reorg"}, Args{names[0], "-renewUUIDs"}, Args{names[0], "-updateattr"},
                           Args{names[0], "-move", "SRV1"}}) {
    const ProgramResult r = inst.Run(args);
    EXPECT_EQ(r.status, 250) << args[1] << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("is a symbolic link"), std::string::npos) << args[1] << r.out << r.err;
  }
  ProgramResult r = inst.Run({names[0], "-erase_y"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  r = inst.RunOther(DOVRANE_TREE_PROBE, {"delete", names[1]});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const std::string& entry : entries) EXPECT_FALSE(fs::exists(fs::symlink_status(entry))) << entry;
  EXPECT_EQ(inst.Run({names[0], "-exist"}).status, 253);
  EXPECT_EQ(inst.Run({names[1], "-exist"}).status, 253);
  EXPECT_EQ(OutsideListing(outside.path()), before) << "written or removed through a link";
}

INSTANTIATE_TEST_SUITE_P(Writers, HostileLinkRunsTest, ::testing::ValuesIn(kWriters),
                         [](const ::testing::TestParamInfo<Writer>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dovrane::testing
