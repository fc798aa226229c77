#include "app/long_options.h"

#include <cstring>

namespace dovrane::app {

namespace {

LongOptions g_options;

bool IsQuery(const std::string& option) {
  for (const char* q : {"-exist", "-info", "-getpath", "-getnumber", "-getdbid"})
    if (option == q) return true;
  return false;
}

bool IsRepair(const std::vector<std::string>& rest) {
  if (rest.size() == 2) return rest[1] == "-update" || rest[1] == "-restore";
  if (rest.size() == 3) return rest[1] == "-update" || rest[1] == "-usercfg" || rest[1] == "-checkin";
  return false;
}

}  // namespace

bool ParseLongOptions(const std::vector<std::string>& argv, LongOptions* options, std::vector<std::string>* rest) {
  *options = LongOptions();
  rest->clear();
  if (argv.empty()) return true;
  rest->push_back(argv[0]);
  size_t i = 1;
  for (; i < argv.size() && argv[i].rfind("--", 0) == 0; ++i) {
    const std::string& a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--dry-run") {
      options->dry_run = true;
    } else if (a == "--json") {
      options->json = true;
    } else if (a == "--list") {
      options->list = true;
    } else if (a == "--where") {
      options->where = true;
    } else if (a == "--verbose") {
      options->verbose = true;
    } else if (a == "--host" && i + 1 < argv.size() && !argv[i + 1].empty()) {
      options->has_host = true;
      options->host = argv[++i];
    } else if (a.rfind("--host=", 0) == 0 && a.size() > 7) {
      options->has_host = true;
      options->host = a.substr(7);
    } else {
      return false;
    }
  }
  rest->insert(rest->end(), argv.begin() + static_cast<long>(i), argv.end());
  return true;
}

bool LongOptionsFit(const LongOptions& o, const std::vector<std::string>& rest) {
  if (o.where) return rest.size() == 1 && !o.list && !o.dry_run && !o.has_host;
  if (o.list) return rest.size() == 1 && !o.dry_run;
  if (o.has_host) return false;
  if (rest.size() == 1) return false;  // options without a command
  if (o.json && !(rest.size() == 3 && IsQuery(rest[2]))) return false;
  if (o.dry_run && !IsRepair(rest)) return false;
  return true;
}

std::string LongOptionsHelp() {
  return "options (before the command):\n"
         "\t--dry-run\twith -update [hostname], -restore, -usercfg num_users, -checkin path:\n"
         "\t\t\tprint what the repair would change, change nothing\n"
         "\t--json\t\twith -exist, -info, -getpath, -getnumber, -getdbid, --list, --where: JSON output\n"
         "\t--list\t\tevery project: name, number, host, status, version, key (tab-separated)\n"
         "\t--host NAME\twith --list: the projects of one host\n"
         "\t--where\t\twhere each share of the installation was found (UNC root, CIFS mount, GVfs)\n"
         "\t\t\tor how to mount it\n"
         "\t--verbose\tevery progress line on a terminal too\n"
         "\t--\t\tends the options\n"
         "\t--help, --version\n";
}

const LongOptions& CurrentLongOptions() { return g_options; }
void SetCurrentLongOptions(const LongOptions& options) { g_options = options; }

}  // namespace dovrane::app
