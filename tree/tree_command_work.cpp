#include "tree/tree_command_work.h"

#include <cerrno>
#include <vector>

#include "app/projects/command_audit.h"
#include "app/projects/project_commands.h"
#include "app/projects/project_error.h"
#include "checkout/checkin.h"
#include "checkout/checkout.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_attributes.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "tree/item_checks.h"
#include "tree/item_commands.h"
#include "tree/measure_directory.h"
#include "tree/properties_info.h"

namespace dovrane::tree {

using namespace tree;  // the item kinds

namespace {

// The library's error text in a box without caption text, with the error icon.
int ShowNetworkError(extlib::OperationContext& ctx, int code) {
  ctx.Messenger().MessageBox(extlib::_WSAGetErrorString(code), "", platform::kMbOk | platform::kMbIconError);
  return 0;
}

int Ping(const PropertiesRequest& request, const std::string& host) {
  return request.ping ? request.ping(host) : extlib::_ping(host, 0, 32, 200);
}

// The server of a UNC path ("\\SRV1\cad\..." -> "SRV1"); "" for other paths.
std::string UncServer(const std::string& path) {
  if (path.compare(0, 2, "\\\\") != 0) return "";
  const size_t end = path.find('\\', 2);
  return path.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}

// Whether the folder can be reached through the file system. When it cannot,
// the reason is shown: the server's ping error when pinging is on and the
// server does not answer, else the text for a path that was not found. A
// failed ping alone never refuses a folder the file system reaches.
bool ReachableOrShown(extlib::OperationContext& ctx, const PropertiesRequest& request, const std::string& path,
                      const std::string& server) {
  {
    if (extlib::lzcheck_path(ctx, path) >= 0) return true;
  }
  if (!server.empty() && request.ping_allowed) {
    if (int rc = Ping(request, server)) {
      ShowNetworkError(ctx, rc);
      return false;
    }
  }
  ShowNetworkError(ctx, 3);
  return false;
}

void Measure(extlib::OperationContext& ctx, const std::string& path, PropertiesResult* result) {
  if (ctx.progress()) ctx.progress()->Line(services::UiText(111, 1010));
  const DirectoryMeasure measure = MeasureDirectory(ctx, ctx.Native(path));
  if (measure.unlisted != 0 && measure.files >= 0) {
    // Figures that leave out a folder must not pass for the whole.
    ctx.Messenger().MessageBox(
        extlib::LanguageText(
            extlib::kWindowMessageTexts, 11,
            extlib::LanguageArguments({platform::ShowControlsCp1252(ctx.Windows(measure.unlisted_dir), false),
                                       platform::SystemErrorText(-measure.unlisted)})),
        extlib::kCaption, platform::kMbOk | platform::kMbIconError);
    // Nothing at all was listed: there are no figures to show.
    if (measure.unlisted_dir == ctx.Native(path)) return;
  }
  result->path = path;
  result->files = measure.files;
  result->bytes = measure.bytes;
  result->free_space = FreeSpaceLine(ctx, path);
  result->show_dialog = true;
}

}  // namespace

int GatherProperties(extlib::OperationContext& ctx, const PropertiesRequest& request, PropertiesResult* result) {
  const uint32_t kind = request.kind;
  result->name = request.name;
  if (kind == kKindHostOut || kind == kKindHostOutFile) {
    if (extlib::IsHostCheckedOut(ctx, request.name)) extlib::DisplayCheckoutInfo(ctx, request.name);
    return 0;
  }
  if (kind == kKindProjectOut || kind == kKindProjectOutWithHost) {
    const DirectoryCheck dir = LookupProjectDirectory(ctx, request.host, request.name);
    if (!dir.path.empty()) extlib::DisplayCheckoutInfo(ctx, dir.path);
    return 0;
  }
  if (kind == kKindProject || kind == kKindProjectInUse) {
    const DirectoryCheck dir = LookupProjectDirectory(ctx, request.host, request.name);
    // Error 3: the system's text for a path that was not found.
    if (dir.path.empty()) return ShowNetworkError(ctx, 3);
    if (!ReachableOrShown(ctx, request, dir.path, UncServer(dir.path))) return 0;
    result->number = static_cast<int>(dir.number);
    Measure(ctx, dir.path, result);
    return 0;
  }
  if (kind != kKindHost && kind != kKindLocalHost) return 0;
  result->host = true;
  result->local_host = kind == kKindLocalHost;
  result->projects = request.children;
  if (request.children == 0 || request.first_project.empty()) {
    // No folder to reach: the ping is all there is to say of the host.
    if (request.ping_allowed) {
      if (int rc = Ping(request, request.name)) return ShowNetworkError(ctx, rc);
    }
    result->host_without_projects = true;
    return 0;
  }
  const uint32_t first = request.first_child_kind;
  if (first != kKindProject && first != kKindProjectInUse && first != kKindProjectOut &&
      first != kKindProjectOutWithHost) {
    return 0;
  }
  const DirectoryCheck dir = LookupProjectDirectory(ctx, request.name, request.first_project);
  if (dir.path.empty()) return ShowNetworkError(ctx, 3);
  // The host's project root: the first project's directory without its last component.
  const size_t cut = dir.path.find_last_of('\\');
  const std::string root = cut == std::string::npos ? dir.path : dir.path.substr(0, cut);
  if (!ReachableOrShown(ctx, request, root, request.name)) return 0;
  {
    extlib::QuietContext quiet(ctx);
    result->number = static_cast<int>(extlib::get_project_number(quiet, extlib::PadName(request.name)));
  }
  Measure(ctx, root, result);
  return 0;
}

std::string FirstFreeProjectName(const std::function<bool(const std::string&)>& taken) {
  for (int i = 0; i < 100; ++i) {
    const std::string name = i == 0 ? services::UiText(2, 5) : services::UiText(2, 6, std::to_string(i).c_str());
    if (!taken(extlib::PadName(name))) return name;
  }
  return "";
}

int CreateNewProject(extlib::OperationContext& ctx, const std::string& host, std::string* name) {
  const int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, 2);
  std::string free_name;
  {
    extlib::QuietContext quiet(ctx);
    free_name = FirstFreeProjectName([handle, &quiet](const std::string& padded) {
      return handle >= 0 && extlib::get_prj_position(quiet, handle, padded) != -1;
    });
  }
  if (free_name.empty()) return extlib::kPrjFailed;
  const int rc = app::CreateProject(ctx, extlib::PadName(free_name), host);
  // The library stays silent for the window: the person is told why here.
  if (rc != 0) app::ReportProjectError(ctx, rc);
  app::AuditWindowCommand(ctx, "create", {free_name, host}, rc);
  if (rc == 0) *name = extlib::TrimmedName(extlib::PadName(free_name).c_str());
  return rc;
}

int RemoveLockFile(extlib::OperationContext& ctx, const std::string& name) {
  if (app::RemoveLockInfoFile(ctx, extlib::PadName(name)) == 0) return 0;
  // Linux deletes open files: one that resists is held by a session.
  ctx.Messenger().MessageBox(platform::ErrorName(-EBUSY), name, platform::kMbOk | platform::kMbIconError);
  return 1;
}

int RemoveHostCheckoutFile(extlib::OperationContext& ctx, const std::string& host) {
  // The name comes from the shared host list: it must stay inside \Net.
  if (host.empty() || host.find_first_of("\\/:") != std::string::npos || host[0] == '.') return -1;
  std::string path;
  if (extlib::lffnamC(ctx, extlib::kSlotNet, host + ".out", &path) != 0) return 0;
  const std::string native = ctx.Native(path);
  platform::SetFileAttributes(native, platform::kAttrNormal);
  const int rc = ctx.Env().Unlink(native);
  if (rc == 0 || rc == -ENOENT) return 0;
  ctx.Messenger().MessageBox(platform::ErrorName(rc), host, platform::kMbOk | platform::kMbIconError);
  return -1;
}

int CheckOutOneProject(extlib::OperationContext& ctx, const std::string& host, const std::string& name,
                       const std::string& comment) {
  const DirectoryCheck dir = LookupProjectDirectory(ctx, host, name);
  std::vector<checkout::CheckoutEntry> list(1);
  list[0].project = name;
  list[0].location = dir.path;
  checkout::CheckoutAnswers answers;
  answers.comment = comment;
  return checkout::CheckOut(ctx, checkout::kCheckoutProject, list, answers);
}

int CheckInOneProject(extlib::OperationContext& ctx, const std::string& host, const std::string& name) {
  const DirectoryCheck dir = LookupProjectDirectory(ctx, host, name);
  std::vector<checkout::CheckoutEntry> list(1);
  list[0].project = name;
  list[0].location = dir.path;
  return checkout::CheckIn(ctx, 1, list);
}

}  // namespace dovrane::tree
