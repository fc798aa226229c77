// The program's own options: arguments beginning with "--" that come before
// the specified command line (which never begins so). They are taken off the
// front of the arguments; what is left is dispatched exactly as without them.
// "--" alone ends them, so a project name that begins with "--" stays reachable.
#pragma once

#include <string>
#include <vector>

namespace dovrane::app {

struct LongOptions {
  bool dry_run = false;  // run a repair read-only and print what it would change
  bool json = false;     // a query or the list as JSON
  bool list = false;     // every project of the administration, one line each
  bool verbose = false;  // per-project progress lines on a terminal too
  bool where = false;    // where each share of the installation was found
  bool has_host = false;
  std::string host;      // --host NAME: the list of one host
};

// Takes the leading long options off argv (entry 0 the program) into
// *options and leaves the rest, entry 0 kept, in *rest. False for an option
// this program does not know, --host without its name, or a combination
// that means nothing (see LongOptionsFit).
bool ParseLongOptions(const std::vector<std::string>& argv, LongOptions* options, std::vector<std::string>* rest);

// The options fit the command left in rest: --list stands alone (with --json,
// --host, --verbose); --where stands alone (with --json); --json only before a query (-exist, -info, -getpath,
// -getnumber, -getdbid without output file); --host only with --list;
// --dry-run only before -update [host], -restore, -usercfg N or -checkin path.
bool LongOptionsFit(const LongOptions& options, const std::vector<std::string>& rest);

// The options, as --help lists them after the usage text.
std::string LongOptionsHelp();

// The options a run was started with; set once by the command line.
const LongOptions& CurrentLongOptions();
void SetCurrentLongOptions(const LongOptions& options);

}  // namespace dovrane::app
