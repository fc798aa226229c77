#include "tree/host_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "checkout/checkout.h"
#include "checkout/project_status.h"
#include "extlib/records/administration.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/settings.h"
#include "network/host_registration.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "tree/item_checks.h"
#include "tree/item_kind.h"
#include "tree/running_cad_program.h"

namespace dovrane::tree {
namespace {

constexpr unsigned kError = platform::kMbOk | platform::kMbIconError;
constexpr unsigned kInformation = platform::kMbOk | platform::kMbIconInformation;
// The version and identifier files are one line; anything larger is not one.
constexpr uint64_t kLineFileLimit = 64 * 1024;

bool IsCheckInProject(uint32_t kind) {
  return kind == tree::kKindProject || kind == tree::kKindProjectInUse || kind == tree::kKindProjectOut ||
         kind == tree::kKindProjectHostOut;
}

// Whether the project may go with its host (the folder was looked up).
bool Acceptable(extlib::OperationContext& ctx, HostListPurpose purpose, uint32_t kind, const std::string& name,
                const std::string& location, bool own_marks) {
  if (location.empty()) return false;
  if (purpose == HostListPurpose::kCheckOut && kind != tree::kKindProject &&
      !(own_marks && kind == tree::kKindProjectHostOut))
    return false;
  const std::string padded = extlib::PadName(name);
  unsigned char status = 0;
  if (extlib::get_project_status(ctx, padded, &status) != 0) return false;
  const unsigned char refused =
      own_marks ? checkout::kProjectCheckedOut : checkout::kProjectCheckedOut | checkout::kHostCheckedOut;
  if (status & refused) return false;
  extlib::PRJ record;
  if (extlib::get_project_info(ctx, padded, &record) == 0 && extlib::ProjectInUse(ctx, record)) return false;
  if (purpose == HostListPurpose::kCheckOut) {
    std::string dir;
    int extra = 0;
    if (extlib::ltpdirC(ctx, extlib::kSlotNet, padded, &dir, &extra) != 0) return false;
  }
  return true;
}

// The server and the whole network data path from the two settings; false
// (after UI text (3, 10)) when either is missing or the drive is no UNC path.
bool NetworkPath(extlib::OperationContext& ctx, std::string* server, std::string* path) {
  std::string drive, rest;
  if (!extlib::GetSettingString("HKLM", "InstallRoot\\NetDrive", &drive) || drive.rfind("\\\\", 0) != 0 ||
      !extlib::GetSettingString("HKLM", "InstallRoot\\NetPath", &rest)) {
    extlib::ShowMessage(ctx, services::UiText(3, 10), kError);
    return false;
  }
  const size_t end = drive.find('\\', 2);
  if (server) *server = drive.substr(2, end == std::string::npos ? std::string::npos : end - 2);
  *path = drive + rest;
  return true;
}

// The first line (at most 255 characters) of a file below base; false after
// "%s\n\n%s" with its path and the system error text.
bool FirstLine(extlib::OperationContext& ctx, const std::string& base, const char* file, std::string* line) {
  const std::string path = base + file;
  std::string text;
  int rc = platform::ReadWholeFile(ctx.Native(path), &text, kLineFileLimit);
  if (rc != 0) {
    extlib::ShowMessage(ctx, path + "\n\n" + platform::SystemErrorText(-rc), kError);
    return false;
  }
  *line = text.substr(0, std::min(text.find_first_of("\r\n"), size_t{255}));
  return true;
}

}  // namespace

bool IsButtonHostKind(uint32_t kind) { return tree::IsHostKind(kind) && kind != tree::kKindAdminHost; }

HostListResult BuildHostList(extlib::OperationContext& ctx, HostListPurpose purpose, const std::string& host,
                             const std::vector<HostChild>& children, bool own_marks) {
  HostListResult result;
  extlib::QuietContext quiet(ctx);
  for (size_t row = 0; row < children.size(); ++row) {
    const HostChild& child = children[row];
    const bool project = purpose == HostListPurpose::kCheckIn ? IsCheckInProject(child.kind)
                                                                : tree::IsProjectKind(child.kind);
    if (!project) {
      if (purpose == HostListPurpose::kCheckIn)
        extlib::ShowMessage(quiet, "Invalid item detected: [" + child.text + "]!\n\nskipped...", kError);
      continue;
    }
    const std::string location = tree::LookupProjectDirectory(quiet, host, child.text).path;
    if (!Acceptable(quiet, purpose, child.kind, child.text, location, own_marks)) {
      result.list.clear();
      result.refused_row = static_cast<int>(row);
      return result;
    }
    result.list.push_back({result.list.empty() ? host : std::string(), child.text, location});
  }
  if (result.list.empty()) result.list.push_back({host, "", ""});
  return result;
}

std::string OtherUserContainers(extlib::OperationContext& ctx) {
  std::string local;
  if (checkout::FindLocalDataPath(ctx, &local) != 0 || local.empty()) return "";
  std::vector<platform::DirEntry> entries;
  const std::string usr = ctx.Native("\\\\" + platform::ComputerName() + local + "\\usr");
  if (usr.empty() || ctx.Env().ListDir(usr, &entries) != 0) return "";
  std::vector<std::string> names;
  for (const platform::DirEntry& e : entries) {
    if (e.name.empty() || e.name[0] == '.' || platform::EqualsIgnoreCaseCp1252(e.name, "local")) continue;
    platform::FileInfo info;
    bool directory = e.type == platform::EntryType::kDirectory;
    if (e.type == platform::EntryType::kUnknown)
      directory = ctx.Env().Stat(usr + "/" + e.name, &info, false) == 0 &&
                  info.type == platform::EntryType::kDirectory;
    if (directory) names.push_back(e.name);
  }
  // The listing's order is the file system's: sorted, the question reads the same each time.
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "[" : "\n[") + name + "]";
  return text;
}

bool CheckCheckinCompatibility(extlib::OperationContext& ctx) {
  std::string server, network, copy;
  if (!NetworkPath(ctx, &server, &network)) return false;
  std::string network_version, network_id, copy_version, copy_id;
  if (!FirstLine(ctx, network, "\\Std\\version.txt", &network_version) ||
      !FirstLine(ctx, network, "\\Net\\net.id", &network_id))
    return false;
  if (!extlib::GetSettingString("HKLM", "InstallRoot\\CheckedOutPath", &copy)) {
    extlib::ShowMessage(ctx, services::UiText(3, 10), kError);
    return false;
  }
  if (!FirstLine(ctx, copy, "\\Std\\version.txt", &copy_version) || !FirstLine(ctx, copy, "\\Net\\net.id", &copy_id))
    return false;
  if (network_version != copy_version) {
    extlib::ShowMessage(ctx, services::UiText(1, 18, server.c_str()) + "\n" + services::UiText(1, 7), kError);
    return false;
  }
  if (network_id != copy_id) {
    extlib::ShowMessage(ctx, services::UiText(1, 19, server.c_str()) + "\n" + services::UiText(1, 7), kError);
    return false;
  }
  return true;
}

bool NetworkAdministrationThere(extlib::OperationContext& ctx) {
  std::string drive, network;
  if (!NetworkPath(ctx, nullptr, &network)) return false;
  (void)extlib::GetSettingString("HKLM", "InstallRoot\\NetDrive", &drive);
  const std::string file = ctx.Native(network + "\\Net\\project.dat");
  platform::FileInfo info;
  const int rc = file.empty() ? -ENOENT : ctx.Env().Stat(file, &info);
  if (rc == 0 && info.type == platform::EntryType::kFile) return true;
  extlib::ShowMessage(ctx,
                      services::UiText(1, 6, drive.c_str()) + "\n" + services::UiText(1, 7) + "\n\n" +
                          platform::SystemErrorText(rc == 0 ? EISDIR : -rc),
                      kError);
  return false;
}

bool RefusedWhileCadProgramRuns(extlib::OperationContext& ctx, const char* argument) {
  std::string name;
  int pid = 0;
  if (tree::FindRunningCadProgram(&name, &pid) != 1) return false;
  extlib::ShowMessage(ctx, services::UiText(3, 13, argument ? argument : name.c_str()),
                      kInformation | platform::kMbSetForeground);
  return true;
}

void ReleaseProjectFromHost(extlib::OperationContext& ctx, const std::string& host, const std::string& name) {
  std::string trimmed = name;
  trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  trimmed.erase(0, trimmed.find_first_not_of(' '));
  if (!checkout::ChangeProjectStatus(ctx, extlib::PadName(name), checkout::StatusAction::kReturnFromHost)) {
    extlib::ShowMessage(ctx, services::UiText(1, 3, trimmed.c_str()), kError);
    return;
  }
  std::string location;
  {
    extlib::QuietContext quiet(ctx);
    location = tree::LookupProjectDirectory(quiet, host, name).path;
  }
  std::string net;
  if (location.empty() || !checkout::CheckoutNetFolder(&net)) return;
  const std::string path = checkout::ProjectCheckoutInfoPath(net, location);
  if (path.empty()) return;
  const int rc = checkout::DeleteCheckoutInfo(ctx, path);
  if (rc == -ENOENT) {
    extlib::ShowMessage(ctx, services::UiText(1, 4, path.c_str()) + "\n\n" + platform::SystemErrorText(ENOENT),
                        kInformation);
  } else if (rc != 0) {
    extlib::ShowMessage(ctx, services::UiText(1, 5, path.c_str()) + "\n\n" + platform::SystemErrorText(-rc), kError);
  }
}

void DeleteHostCheckoutFile(extlib::OperationContext& ctx, const std::string& host) {
  std::string net;
  if (checkout::CheckoutNetFolder(&net))
    (void)checkout::DeleteCheckoutInfo(ctx, checkout::HostCheckoutInfoPath(net, host));
}

bool AddDataServer(extlib::OperationContext& ctx, const std::string& unc_path, bool created) {
  if (network::RegisterHostInDataCfg(ctx, unc_path) != 1) {
    // Only empty folders are removed: whatever someone put there stays.
    if (created)
      for (const char* folder : {"\\Prj", "\\Usr"}) (void)ctx.Env().RmDir(ctx.Native(unc_path + folder));
    return false;
  }
  // "\\HOST" and the rest of the data path.
  const size_t cut = unc_path.find('\\', 2);
  const std::string host = unc_path.substr(0, cut);
  const std::string rest = cut == std::string::npos ? "" : unc_path.substr(cut + 1);
  (void)network::AddHostToAdministration(ctx, rest, host);
  return true;
}

bool RemoveHost(extlib::OperationContext& ctx, const std::string& host) {
  if (network::UnregisterHostInDataCfg(ctx, host) != 1) return false;
  const bool removed = network::RemoveHostFromAdministration(ctx, host) == 1;
  // The administration is read anew from the network's \Net.
  std::string net;
  extlib::close_prj_info_handle(extlib::kSlotNet);
  if (checkout::CheckoutNetFolder(&net)) extlib::lfinipC(ctx, extlib::kSlotNet, net + "\\");
  return removed;
}

}  // namespace dovrane::tree
