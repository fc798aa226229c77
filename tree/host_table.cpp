#include "tree/host_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "extlib/installation.h"
#include "extlib/library_init.h"
#include "extlib/prj_record.h"
#include "extlib/project_code.h"
#include "platform/text_codec.h"
#include "tree/item_kind.h"

namespace dovrane::tree {

namespace {

const std::string kEmpty;

std::string UpperKey(const std::string& text) {
  std::string key = text;
  for (char& c : key) c = static_cast<char>(platform::UpperCp1252(static_cast<unsigned char>(c)));
  return key;
}

HostRecord* AddHost(HostTable* table, std::unordered_map<std::string, HostRecord*>* by_name,
                    const std::string& name, const FillInput& input) {
  std::string key = UpperKey(name);
  auto found = by_name->find(key);
  if (found != by_name->end()) return found->second;
  auto host = std::make_unique<HostRecord>();
  host->name = name;
  host->user_names = table->user_names.data();
  host->admin = !input.admin_host.empty() && key == UpperKey(input.admin_host);
  host->kind = HostKind(host->admin, false, false);
  host->image = HostImage(host->kind, name, input.local_computer);
  HostRecord* raw = host.get();
  // The administration host is always the first item, however late it comes.
  if (host->admin) {
    table->hosts.insert(table->hosts.begin(), std::move(host));
  } else {
    table->hosts.push_back(std::move(host));
  }
  (*by_name)[key] = raw;
  return raw;
}

// The member bits of users 1 .. last_user.
// A name of up to 50 bytes copied in a few overlapping words: memcpy of a
// size not known at compile time became a string instruction whose start-up
// cost a quarter of the table's build.
void CopyName(char* to, const char* from, size_t n) {
  if (n >= 16) {
    for (size_t k = 0; k + 16 < n; k += 16) std::memcpy(to + k, from + k, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else {
    for (size_t k = 0; k < n; ++k) to[k] = from[k];
  }
}

size_t MemberBitCount(const unsigned char* members, size_t bytes) {
  size_t count = 0;
  for (size_t byte = 0; byte < bytes; ++byte) count += static_cast<size_t>(__builtin_popcount(members[byte]));
  return count;
}

}  // namespace

std::string_view ProjectRecord::ChildText(int child_row) const {
  if (child_row == 0) return location();
  const HostRecord* host = this->host();
  if (child_row < 1 || child_row > 1 + member_count || !users || !host || !host->user_names) return {};
  return host->user_names[users[child_row - 1]];
}

const std::string& ProjectRecord::location() const { return location_ ? *location_ : kEmpty; }

void ProjectRecord::SetLocation(std::string location) {
  if (location.empty()) {
    location_.reset();
  } else if (location_) {
    *location_ = std::move(location);
  } else {
    location_ = std::make_unique<std::string>(std::move(location));
  }
}

uint32_t ProjectRecord::ChildKind(int child_row) {
  return child_row == 0 ? kKindDirectory : child_row == 1 ? kKindOwner : kKindMember;
}

HostRecord* ProjectRecord::host() const { return static_cast<HostRecord*>(parent); }

HostRecord* HostTable::FindHost(const std::string& name) const {
  for (const auto& host : hosts) {
    if (platform::EqualsIgnoreCaseCp1252(host->name, name)) return host.get();
  }
  return nullptr;
}

ProjectRecord* HostTable::FindProject(const HostRecord& host, std::string_view name) {
  name = name.substr(0, name.find('\0'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  for (const ProjectRecord& project : host.projects) {
    if (project.name == name) return const_cast<ProjectRecord*>(&project);
  }
  return nullptr;
}

std::vector<std::string> HostTable::PingHostNames() const {
  std::vector<std::string> names;
  for (const auto& host : hosts) {
    if (host->kind != kKindDataHostOut && host->kind != kKindAdminHostOut) names.push_back(host->name);
  }
  return names;
}

bool HostTable::IsProjectOnOpenHost(uint32_t number) const {
  for (const auto& host : hosts) {
    for (const ProjectRecord& project : host->projects) {
      if (project.number == number) return host->kind == kKindDataHost || host->kind == kKindAdminHost;
    }
  }
  return false;
}

size_t HostTable::ProjectCount() const {
  size_t count = 0;
  for (const auto& host : hosts) count += host->projects.size();
  return count;
}

std::string AdministrationHostName(const std::string& net_path) {
  if (net_path.size() < 3 || net_path[0] != '\\' || net_path[1] != '\\') return "";
  size_t end = net_path.find('\\', 2);
  return net_path.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}

int ReadFillInput(extlib::Installation& installation, FillInput* input) {
  // A fill follows a change the refresh check has just seen: the file is
  // compared now, not trusted for the table's revalidation time.
  uint64_t generation = 0;
  (void)installation.Projects().Check(&generation);  // Take reports what Check finds
  int rc = installation.Projects().Take(&input->snapshot, false);
  if (rc != 0) {
    input->snapshot.reset();
    return rc;
  }
  // A missing or unreadable data.cfg adds no hosts, silently.
  input->host_list.clear();
  input->network = extlib::ReadHostList(installation, &input->host_list) != extlib::kPrjAdminMissing;
  if (!input->network) input->host_list.clear();
  extlib::UserTable users;
  if (extlib::ReadUserTable(&users) == 0) {
    input->containers = users.containers;
    for (const extlib::UserEntry& user : users.users) input->user_names[user.index] = user.name;
  }
  input->admin_host = AdministrationHostName(installation.Slot(extlib::kSlotNet));
  input->local_computer = extlib::lzrnamC();
  return 0;
}

uint32_t HostKind(bool admin, bool checked_out, bool ping_failed) {
  // A check-out information file wins over a failed ping.
  if (admin) return checked_out ? kKindAdminHostOut : ping_failed ? kKindAdminHostDown : kKindAdminHost;
  return checked_out ? kKindDataHostOut : ping_failed ? kKindDataHostDown : kKindDataHost;
}

void ComputeProjectKind(const ProjectRecord& project, unsigned char status, const FillInput& input,
                        uint32_t* kind, int* image) {
  unsigned char flags = extlib::StatusFlags(status);
  if (flags & extlib::kStatusProjectOut) {
    *kind = kKindProjectOut;
  } else if (flags & extlib::kStatusHostOut) {
    *kind = kKindProjectHostOut;
  } else if (project.in_use) {
    *kind = kKindProjectInUse;
  } else if (input.unreachable.count(project.number)) {
    *kind = kKindProjectUnreachable;
  } else {
    *kind = kKindProject;
  }
  const HostRecord* host = project.host();
  bool marked = !input.move_mark.project.empty() && input.move_mark.project == project.name && host &&
                input.move_mark.host == host->name;
  *image = ProjectImage(*kind, marked);
}

std::unique_ptr<HostTable> BuildHostTable(const FillInput& input) {
  auto table = std::make_unique<HostTable>();
  table->local_computer = input.local_computer;
  if (!input.snapshot) return table;
  table->generation = input.snapshot->Generation();
  std::unordered_map<std::string, HostRecord*> by_name;
  const extlib::ProjectSnapshot& snapshot = *input.snapshot;
  const size_t count = snapshot.Count();
  // Member bits of users 1 .. 32 x containers.
  const uint32_t last_user = static_cast<uint32_t>(extlib::kUsersPerContainer * input.containers);
  const size_t member_bytes = std::min<size_t>(snapshot.MemberBytes(), last_user / 8);
  // User numbers go up to 32 x 31 (user 0: none).
  const size_t user_count = extlib::kUsersPerContainer * extlib::kMaxUserContainers + 1;
  table->user_names.resize(user_count);
  std::vector<bool> named(user_count);
  for (const auto& [user, name] : input.user_names) {
    if (user >= user_count) continue;
    table->user_names[user] = name;
    named[user] = true;
  }
  // Two passes over the snapshot's fields in its order (a million records
  // are read in order, never jumped between): the first finds each record's
  // host and counts what each host needs, the second makes the projects.
  // Each host's records, names and user numbers still lie side by side, so
  // a walk over the tree (a search) reads memory in order.
  std::vector<HostRecord*> made;  // in the order the administration names them
  // The snapshot's host fields to their place in made.
  const std::vector<std::string>& fields = snapshot.HostNames();
  std::vector<uint32_t> made_of(fields.size(), UINT32_MAX);
  struct Need {
    size_t projects = 0, name_bytes = 0, users = 0;
    size_t name_at = 0, users_at = 0;  // where the host's part begins
  };
  std::vector<Need> need;
  for (size_t i = 0; i < count; ++i) {
    if (snapshot.Number(i) == 0) continue;
    const uint32_t field = snapshot.HostIndex(i);
    if (made_of[field] == UINT32_MAX) {
      HostRecord* host = AddHost(table.get(), &by_name, fields[field], input);
      uint32_t at = 0;
      while (at < made.size() && made[at] != host) ++at;
      if (at == made.size()) {
        made.push_back(host);
        need.emplace_back();
      }
      made_of[field] = at;
    }
    Need& host_need = need[made_of[field]];
    ++host_need.projects;
    host_need.name_bytes += snapshot.Name(i).size();
    host_need.users += 1 + (input.network ? MemberBitCount(snapshot.Members(i), member_bytes) : 0);
  }
  // Each host's part of the name buffer and the user numbers, in table order.
  size_t name_total = 0, users_total = 0;
  for (const auto& host : table->hosts) {
    for (size_t h = 0; h < made.size(); ++h) {
      if (made[h] != host.get()) continue;
      need[h].name_at = name_total;
      need[h].users_at = users_total;
      name_total += need[h].name_bytes;
      users_total += need[h].users;
      host->projects.reserve(need[h].projects);
    }
  }
  table->project_names.resize(name_total);
  table->project_users.resize(users_total);
  char* const names = table->project_names.data();
  uint16_t* const users = table->project_users.data();
  for (size_t i = 0; i < count; ++i) {
    const uint32_t number = snapshot.Number(i);
    if (number == 0) continue;
    const uint32_t h = made_of[snapshot.HostIndex(i)];
    Need& host_need = need[h];
    HostRecord* host = made[h];
    ProjectRecord* project = &host->projects.emplace_back();
    project->parent = host;
    project->number = number;
    const std::string_view name = snapshot.Name(i);
    CopyName(names + host_need.name_at, name.data(), name.size());
    project->name = std::string_view(names + host_need.name_at, name.size());
    host_need.name_at += name.size();
    uint16_t* user_at = users + host_need.users_at;
    project->users = user_at;
    const uint32_t owner = snapshot.Owner(i);
    *user_at++ = static_cast<uint16_t>(owner < user_count && named[owner] ? owner : 0);
    if (input.network) {
      // Only the bits that are set (user u is bit (u-1) % 8 of byte (u-1) / 8).
      const unsigned char* members = snapshot.Members(i);
      for (uint32_t byte = 0; byte < member_bytes; ++byte) {
        for (unsigned bits = members[byte]; bits != 0; bits &= bits - 1) {
          const uint32_t user = byte * 8 + static_cast<uint32_t>(__builtin_ctz(bits)) + 1;
          if (user > last_user || user >= user_count || user == owner || !named[user]) continue;
          *user_at++ = static_cast<uint16_t>(user);
          ++project->member_count;
        }
      }
    }
    host_need.users_at = static_cast<size_t>(user_at - users);
    ComputeProjectKind(*project, snapshot.Status(i), input, &project->kind, &project->image);
  }
  for (const extlib::HostEntry& entry : input.host_list) {
    HostRecord* host = AddHost(table.get(), &by_name, entry.name, input);
    if (!host->listed) {
      host->listed = true;
      host->data_path = entry.data_path;
    }
  }
  for (size_t h = 0; h < table->hosts.size(); ++h) {
    HostRecord& host = *table->hosts[h];
    host.row = static_cast<int>(h);
    for (size_t p = 0; p < host.projects.size(); ++p) host.projects[p].row = static_cast<int>(p);
  }
  return table;
}

}  // namespace dovrane::tree
