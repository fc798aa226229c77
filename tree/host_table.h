// The host table: every host of the installation with its projects, each
// project with its directory, owner and members, as plain records both trees
// are drawn from. Built from the shared project table snapshot and the host
// list (never a second parse of project.dat); the records are the model's
// nodes, so each keeps its address for the table's life and knows its row.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "extlib/installation/hosts.h"
#include "extlib/records/project_table.h"
#include "extlib/installation/users.h"

namespace dovrane::tree {

struct HostRecord;

// What a host and a project record have in common as tree items.
struct TreeNode {
  TreeNode* parent = nullptr;  // the host of a project; null for a host
  int row = 0;                 // among its parent's children
  uint32_t kind = 0;
  uint8_t image = 0;           // below kImageCount
};

// A project and its three kinds of child items: row 0 the directory, row 1
// the owner, rows 2.. the members. Small and without allocations of its own
// (a million of them lie in their hosts' arrays): the name is read in the
// snapshot the table was built from, the owner and members in the table's
// user numbers, the directory in its host's few looked-up ones.
struct ProjectRecord : TreeNode {
  bool in_use = false;  // its lock file is held (the last check said so)
  uint16_t member_count = 0;
  uint32_t number = 0;
  uint32_t record = 0;    // its place in the snapshot
  uint32_t users_at = 0;  // where its owner and members begin in its host's user numbers
  // Trailing blanks removed; Windows-1252.
  std::string_view name() const;
  int ChildCount() const { return 2 + member_count; }
  // The text and kind of child `row`.
  std::string_view ChildText(int row) const;
  static uint32_t ChildKind(int row);
  HostRecord* host() const;
  // The directory, empty until it has been looked up: only the projects
  // someone looked at have one, so it is held apart.
  const std::string& location() const;
  void SetLocation(std::string location);
};

// A million of them: the fields fill the node's tail, 32 bytes in all.
static_assert(sizeof(ProjectRecord) <= 32);

struct HostRecord : TreeNode {
  std::string name;
  bool checked_out = false;  // its host check-out information file exists
  bool ping_failed = false;  // did not answer the last ping of the checks
  // In administration order; made once, never grows, so each keeps its address.
  std::vector<ProjectRecord> projects;
  bool admin = false;        // the host that holds the network data path
  bool listed = false;       // data.cfg names it
  std::string data_path;     // its data path from data.cfg
  const std::string* user_names = nullptr;  // the table's, by user number
  const uint16_t* users = nullptr;          // its projects' owners and members, as user numbers
  const extlib::ProjectSnapshot* snapshot = nullptr;  // the table's
  // The directories looked up, by project row.
  std::unordered_map<int, std::string> locations;
  // The model's: how many of the projects the views have been given (rows
  // 0 .. shown-1); the rest are handed out as the views fetch them.
  int shown = 0;
};

// The transfer state's part the images need: a project marked for moving.
struct MoveMark {
  std::string project, host;  // empty: none
};

struct HostTable {
  std::vector<std::unique_ptr<HostRecord>> hosts;
  uint64_t generation = 0;  // of the snapshot it was built from
  std::string local_computer;
  // By user number (0 and users without a name: ""), and the projects'
  // owners and members; both are filled once and never grow afterwards.
  std::vector<std::string> user_names;
  std::vector<uint16_t> project_users;
  // What the projects' names are read in: the project table's own, shared,
  // so that a table holds no second copy of a million names.
  extlib::SnapshotPtr snapshot;

  // The first host of that name (case-insensitive), or null.
  HostRecord* FindHost(const std::string& name) const;
  // The host's first project of that name (exact, trailing blanks ignored), or null.
  static ProjectRecord* FindProject(const HostRecord& host, std::string_view name);
  // The names the ping thread pings: every host that is not checked out.
  std::vector<std::string> PingHostNames() const;
  // True if the first project with this number lies on a host that is
  // neither checked out nor not answering; false for an empty table.
  bool IsProjectOnOpenHost(uint32_t number) const;
  size_t ProjectCount() const;
};

// Everything the table is built from, read once (off the window's thread).
struct FillInput {
  extlib::SnapshotPtr snapshot;
  std::vector<extlib::HostEntry> host_list;  // data.cfg's order
  std::unordered_map<uint32_t, std::string> user_names;
  int containers = 1;
  bool network = true;
  std::string admin_host;       // the server part of the network \Net directory
  std::string local_computer;
  std::set<uint32_t> unreachable;  // the project mark map
  MoveMark move_mark;
};

// The server part of a UNC path ("\\SRV1\cad\Net\" -> "SRV1"); "" otherwise.
std::string AdministrationHostName(const std::string& net_path);
// Reads the snapshot, the host list, the user table and the names of the
// current installation into *input (the mark map and the move mark are the
// caller's). 0; non-zero when the administration cannot be read: the table
// then stays empty, not even data.cfg's hosts are shown.
[[nodiscard]] int ReadFillInput(extlib::OperationContext& ctx, FillInput* input);
// The table of the input: the administration host first, then the hosts in
// the order the administration names them, then those only data.cfg lists;
// projects in administration order, records with number 0 left out. Kinds
// from the status bits and the mark map; the checks of the hosts' disks and
// the pings come later (item checks).
std::unique_ptr<HostTable> BuildHostTable(const FillInput& input);
// The kind and image of a project from what the snapshot and the marks say.
void ComputeProjectKind(const ProjectRecord& project, unsigned char status, const FillInput& input,
                        uint32_t* kind, uint8_t* image);
// The host's kind from its role and its check results.
uint32_t HostKind(bool admin, bool checked_out, bool ping_failed);

}  // namespace dovrane::tree
