// The disk and network work of the tree commands, as the window's workers
// run it: each is a blocking function over copies of the item's texts that a
// test can call without a window. Texts of the UI text table are looked up
// by the window afterwards, in its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::tree {

// The ping of the commands: 0 answered, else the ping's error code.
using CommandPing = std::function<int(const std::string& host)>;

struct PropertiesRequest {
  uint32_t kind = 0;
  std::string name;            // the item's text, trimmed
  std::string host;            // the project's host
  int children = 0;            // a host's projects in the tree
  uint32_t first_child_kind = 0;
  std::string first_project;   // a host's first project, trimmed
  CommandPing ping;            // null: the library's ping (200 ms)
  bool ping_allowed = true;    // the window's ping check box
};

struct PropertiesResult {
  bool show_dialog = false;    // a project's or a host's figures were gathered
  bool host_without_projects = false;  // the plain box of a host without projects
  bool local_host = false;
  bool host = false;
  std::string name, path;      // path: Windows form, as the record holds it
  int number = 0;
  int64_t files = 0;           // -1: cancelled
  uint64_t bytes = 0;
  int projects = 0;
  std::string free_space;      // FreeSpaceLine of the path
};

// The properties command's facts: the directory looked up and measured with
// ctx's progress and cancel. A directory that is not known, or that the file
// system cannot reach, is shown with the library's error text (error icon, no
// caption; the server's ping error when pinging is on and it does not answer)
// and gathers nothing; a folder that cannot be listed is named in a box. A
// host without projects is only pinged, when pinging is on.
// Checked-out items show their check-out information instead. Returns 0.
int GatherProperties(extlib::OperationContext& ctx, const PropertiesRequest& request, PropertiesResult* result);

// The first free name of the new-project series: UI text (2, 5), then (2, 6)
// with 1..99; "" when all 100 are taken. taken(padded name) tells a name in use.
std::string FirstFreeProjectName(const std::function<bool(const std::string&)>& taken);
// Creates a project with the first free name on host: 0 with *name (trimmed),
// -1 when all 100 names are taken, else the create's code.
int CreateNewProject(extlib::OperationContext& ctx, const std::string& host, std::string* name);

// Deletes the lock information file of project name unless a session holds
// it; a file that resists is shown with the system's error text and the
// project's name as caption. 0 deleted (or none was there), 1 not.
int RemoveLockFile(extlib::OperationContext& ctx, const std::string& name);

// Removes the host's check-out mark: its check-out information file in the
// network \Net, attributes set to normal first. 0 gone (or was not there);
// otherwise the system's error text is shown and the result is -1. A host
// name that is no plain file name is refused (-1, nothing touched).
int RemoveHostCheckoutFile(extlib::OperationContext& ctx, const std::string& host);

// The single-project check-out: the directory looked up, a one-entry list
// (project name, its directory, no host) checked out in project mode with
// the comment. CheckOut's 1 or 0.
int CheckOutOneProject(extlib::OperationContext& ctx, const std::string& host, const std::string& name,
                       const std::string& comment);
// Gives back the single checked-out project name of host (its information
// file found through its directory): 1 when it was given back.
int CheckInOneProject(extlib::OperationContext& ctx, const std::string& host, const std::string& name);

}  // namespace dovrane::tree
