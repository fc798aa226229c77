#include "tree/host_table.h"

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
size_t MemberBitCount(const extlib::PRJ& record, uint32_t last_user) {
  size_t count = 0;
  for (uint32_t byte = 0; byte < sizeof record.members && byte * 8 < last_user; ++byte) {
    count += static_cast<size_t>(__builtin_popcount(record.members[byte]));
  }
  return count;
}

}  // namespace

const std::string& ProjectRecord::ChildText(int child_row) const {
  if (child_row == 0) return location;
  const HostRecord* host = this->host();
  if (child_row < 1 || child_row > 1 + member_count || !users || !host || !host->user_names) return kEmpty;
  return host->user_names[users[child_row - 1]];
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

ProjectRecord* HostTable::FindProject(const HostRecord& host, const std::string& name) {
  std::string trimmed = extlib::TrimmedName(name.c_str());
  for (const auto& project : host.projects) {
    if (project->name == trimmed) return project.get();
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
    for (const auto& project : host->projects) {
      if (project->number == number) return host->kind == kKindDataHost || host->kind == kKindAdminHost;
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
  const auto& records = input.snapshot->Records();
  // Member bits of users 1 .. 32 x containers.
  const uint32_t last_user = static_cast<uint32_t>(extlib::kUsersPerContainer * input.containers);
  // User numbers go up to 32 x 31 (user 0: none).
  const size_t user_count = extlib::kUsersPerContainer * extlib::kMaxUserContainers + 1;
  table->user_names.resize(user_count);
  std::vector<bool> named(user_count);
  for (const auto& [user, name] : input.user_names) {
    if (user >= user_count) continue;
    table->user_names[user] = name;
    named[user] = true;
  }
  // Room for every owner and member bit at once: the projects point into it.
  size_t room = 0;
  for (const extlib::PRJ& record : records) room += 1 + (input.network ? MemberBitCount(record, last_user) : 0);
  table->project_users.reserve(room);
  // The records of each host first: one host's projects are then made one
  // after the other and lie side by side, so a walk over the tree (a search)
  // reads memory in order instead of jumping between the hosts.
  std::unordered_map<const HostRecord*, std::vector<uint32_t>> of_host;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].number == 0) continue;
    of_host[AddHost(table.get(), &by_name, records[i].host, input)].push_back(static_cast<uint32_t>(i));
  }
  for (const auto& host_record : table->hosts) {
    HostRecord* host = host_record.get();
    std::vector<uint32_t>& indexes = of_host[host];
    host->projects.reserve(indexes.size());
    for (uint32_t index : indexes) {
      const extlib::PRJ& record = records[index];
      auto project = std::make_unique<ProjectRecord>();
      project->parent = host;
      project->number = record.number;
      project->name = extlib::TrimmedName(record.name);
      std::vector<uint16_t>& users = table->project_users;
      project->users = users.data() + users.size();
      users.push_back(static_cast<uint16_t>(record.owner < user_count && named[record.owner] ? record.owner : 0));
      if (input.network) {
        for (uint32_t user = 1; user <= last_user && user < user_count; ++user) {
          if (user == record.owner || !extlib::MemberBit(record, user) || !named[user]) continue;
          users.push_back(static_cast<uint16_t>(user));
          ++project->member_count;
        }
      }
      ComputeProjectKind(*project, record.status, input, &project->kind, &project->image);
      host->projects.push_back(std::move(project));
    }
    std::vector<uint32_t>().swap(indexes);
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
    for (size_t p = 0; p < host.projects.size(); ++p) host.projects[p]->row = static_cast<int>(p);
  }
  return table;
}

}  // namespace dovrane::tree
