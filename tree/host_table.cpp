#include "tree/host_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/prj_record.h"
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
  host->snapshot = table->snapshot.get();
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
size_t MemberBitCount(const unsigned char* members, size_t bytes) {
  size_t count = 0;
  for (size_t byte = 0; byte < bytes; ++byte) count += static_cast<size_t>(__builtin_popcount(members[byte]));
  return count;
}

}  // namespace

std::string_view ProjectRecord::name() const {
  const HostRecord* host = this->host();
  return host && host->snapshot ? host->snapshot->Name(record) : std::string_view();
}

std::string_view ProjectRecord::ChildText(int child_row) const {
  if (child_row == 0) return location();
  const HostRecord* host = this->host();
  if (child_row < 1 || child_row > 1 + member_count || !host || !host->users || !host->user_names) return {};
  return host->user_names[host->users[users_at + static_cast<uint32_t>(child_row) - 1]];
}

const std::string& ProjectRecord::location() const {
  const HostRecord* host = this->host();
  if (!host) return kEmpty;
  const auto it = host->locations.find(row);
  return it == host->locations.end() ? kEmpty : it->second;
}

void ProjectRecord::SetLocation(std::string location) {
  HostRecord* host = this->host();
  if (!host) return;
  if (location.empty()) {
    host->locations.erase(row);
  } else {
    host->locations[row] = std::move(location);
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
    if (project.name() == name) return const_cast<ProjectRecord*>(&project);
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

int ReadFillInput(extlib::OperationContext& ctx, FillInput* input) {
  extlib::Installation& installation = ctx.installation();
  // A fill follows a change the refresh check has just seen: the file is
  // compared now, not trusted for the table's revalidation time.
  uint64_t generation = 0;
  (void)installation.Projects().Check(&generation);  // Take reports what Check finds
  int rc = installation.Projects().Take(ctx, &input->snapshot, false);
  if (rc != 0) {
    input->snapshot.reset();
    return rc;
  }
  // A missing or unreadable data.cfg adds no hosts, silently.
  input->host_list.clear();
  input->network = extlib::ReadHostList(ctx, &input->host_list) != extlib::kPrjAdminMissing;
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
                        uint32_t* kind, uint8_t* image) {
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
  bool marked = !input.move_mark.project.empty() && input.move_mark.project == project.name() && host &&
                input.move_mark.host == host->name;
  *image = static_cast<uint8_t>(ProjectImage(*kind, marked));
}

namespace {

// One host table made from a snapshot in two passes over the snapshot's
// fields in its order (a million records are read in order, never jumped
// between): the first finds each record's host and counts what each host
// needs, the second makes the projects. Each host's records and user numbers
// lie side by side; the names stay in the snapshot, which a search reads in
// its own order.
class TableBuild {
 public:
  TableBuild(const FillInput& input, HostTable* table)
      : input_(input),
        table_(table),
        snapshot_(*input.snapshot),
        count_(snapshot_.Count()),
        // Member bits of users 1 .. 32 x containers.
        last_user_(static_cast<uint32_t>(extlib::kUsersPerContainer * input.containers)),
        member_bytes_(std::min<size_t>(snapshot_.MemberBytes(), last_user_ / 8)),
        made_of_(snapshot_.HostNames().size(), UINT32_MAX) {}

  // The names of users 1 .. 32 x 31 (user 0: none).
  void NameUsers() {
    table_->user_names.resize(kUserCount);
    named_.assign(kUserCount, false);
    for (const auto& [user, name] : input_.user_names) {
      if (user >= kUserCount) continue;
      table_->user_names[user] = name;
      named_[user] = true;
    }
  }

  // The first pass: each record's host, and what each host needs.
  void CountNeeds() {
    const std::vector<std::string>& fields = snapshot_.HostNames();
    for (size_t i = 0; i < count_; ++i) {
      if (snapshot_.Number(i) == 0) continue;
      const uint32_t field = snapshot_.HostIndex(i);
      if (made_of_[field] == UINT32_MAX) {
        HostRecord* host = AddHost(table_, &by_name_, fields[field], input_);
        uint32_t at = 0;
        while (at < made_.size() && made_[at] != host) ++at;
        if (at == made_.size()) {
          made_.push_back(host);
          need_.emplace_back();
        }
        made_of_[field] = at;
      }
      Need& host_need = need_[made_of_[field]];
      ++host_need.projects;
      host_need.users += 1 + (input_.network ? MemberBitCount(snapshot_.Members(i), member_bytes_) : 0);
    }
  }

  // Each host's part of the user numbers, in table order.
  void PlaceParts() {
    size_t users_total = 0;
    for (const auto& host : table_->hosts) {
      for (size_t h = 0; h < made_.size(); ++h) {
        if (made_[h] != host.get()) continue;
        need_[h].users_at = users_total;
        users_total += need_[h].users;
        host->projects.reserve(need_[h].projects);
      }
    }
    table_->project_users.resize(users_total);
    for (size_t h = 0; h < made_.size(); ++h) made_[h]->users = table_->project_users.data() + need_[h].users_at;
  }

  // The second pass: the projects, in their hosts' parts.
  void MakeProjects() {
    uint16_t* const users = table_->project_users.data();
    for (size_t i = 0; i < count_; ++i) {
      const uint32_t number = snapshot_.Number(i);
      if (number == 0) continue;
      const uint32_t h = made_of_[snapshot_.HostIndex(i)];
      Need& host_need = need_[h];
      HostRecord* host = made_[h];
      ProjectRecord* project = &host->projects.emplace_back();
      project->parent = host;
      project->number = number;
      project->record = static_cast<uint32_t>(i);
      uint16_t* user_at = users + host_need.users_at;
      project->users_at = static_cast<uint32_t>(user_at - host->users);
      const uint32_t owner = snapshot_.Owner(i);
      *user_at++ = static_cast<uint16_t>(owner < kUserCount && named_[owner] ? owner : 0);
      if (input_.network) user_at = AddMembers(snapshot_.Members(i), owner, user_at, project);
      host_need.users_at = static_cast<size_t>(user_at - users);
      ComputeProjectKind(*project, snapshot_.Status(i), input_, &project->kind, &project->image);
    }
  }

  // The hosts of the host list, also those without projects; then every row.
  void AddListedHosts() {
    for (const extlib::HostEntry& entry : input_.host_list) {
      HostRecord* host = AddHost(table_, &by_name_, entry.name, input_);
      if (!host->listed) {
        host->listed = true;
        host->data_path = entry.data_path;
      }
    }
    for (size_t h = 0; h < table_->hosts.size(); ++h) {
      HostRecord& host = *table_->hosts[h];
      host.row = static_cast<int>(h);
      for (size_t p = 0; p < host.projects.size(); ++p) host.projects[p].row = static_cast<int>(p);
    }
  }

 private:
  // User numbers go up to 32 x 31 (user 0: none).
  static constexpr size_t kUserCount = extlib::kUsersPerContainer * extlib::kMaxUserContainers + 1;
  struct Need {
    size_t projects = 0, users = 0;
    size_t users_at = 0;  // where the host's part begins
  };

  // Only the member bits that are set (user u is bit (u-1) % 8 of byte
  // (u-1) / 8), the owner and unnamed users left out. Returns the next place.
  uint16_t* AddMembers(const unsigned char* members, uint32_t owner, uint16_t* user_at, ProjectRecord* project) {
    for (uint32_t byte = 0; byte < member_bytes_; ++byte) {
      for (unsigned bits = members[byte]; bits != 0; bits &= bits - 1) {
        const uint32_t user = byte * 8 + static_cast<uint32_t>(__builtin_ctz(bits)) + 1;
        if (user > last_user_ || user >= kUserCount || user == owner || !named_[user]) continue;
        *user_at++ = static_cast<uint16_t>(user);
        ++project->member_count;
      }
    }
    return user_at;
  }

  const FillInput& input_;
  HostTable* table_;
  const extlib::ProjectSnapshot& snapshot_;
  const size_t count_;
  const uint32_t last_user_;
  const size_t member_bytes_;
  std::vector<bool> named_;
  std::unordered_map<std::string, HostRecord*> by_name_;
  std::vector<HostRecord*> made_;  // in the order the administration names them
  std::vector<uint32_t> made_of_;  // the snapshot's host fields to their place in made_
  std::vector<Need> need_;
};

}  // namespace

std::unique_ptr<HostTable> BuildHostTable(const FillInput& input) {
  auto table = std::make_unique<HostTable>();
  table->local_computer = input.local_computer;
  if (!input.snapshot) return table;
  table->generation = input.snapshot->Generation();
  table->snapshot = input.snapshot;
  TableBuild build(input, table.get());
  build.NameUsers();
  build.CountNeeds();
  build.PlaceParts();
  build.MakeProjects();
  build.AddListedHosts();
  return table;
}

}  // namespace dovrane::tree
