#include "app/projects/project_commands.h"

#include <fcntl.h>

#include <vector>

#include "admin/checkout_file.h"
#include "app/projects/app_state.h"
#include "app/projects/named_ui_text.h"
#include "app/projects/project_error.h"
#include "app/projects/project_move.h"
#include "app/projects/project_permission.h"
#include "app/projects/project_queries.h"
#include "extlib/installation/general.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_lifecycle.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "fileops/folder_copy.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "platform/terminal.h"
#include "services/tool_message_box.h"
#include "services/ui_text_table.h"

namespace dovrane::app {

namespace {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// The zeroed member bitmap a new project gets on a network installation
// (the library adds the owner); null on a single workstation. Sized for the
// most containers: the library copies as many as the user table names when
// it writes the record, and a user count change may raise them meanwhile.
std::vector<unsigned char> NewMembers(extlib::OperationContext& ctx) {
  if (!extlib::lfnetg(ctx)) return {};
  return std::vector<unsigned char>(4 * static_cast<size_t>(extlib::kMaxUserContainers), 0);
}

// The project folder with the library's own messages off.
int QuietProjectDir(extlib::OperationContext& ctx, const std::string& padded_name, std::string* dir) {
  extlib::QuietContext quiet(ctx);
  return extlib::ltpdirC(quiet, extlib::kSlotNet, padded_name, dir, nullptr);
}

// True while another process holds a lock on the file. Only a regular file
// is a session's: anything else there must not hold the open.
bool HeldByASession(extlib::OperationContext& ctx, const std::string& native) {
  platform::Env* env = &ctx.Env();
  int fd = platform::OpenRegularFile(native, O_RDONLY);
  if (fd < 0) return false;
  const bool held = platform::HeldByOtherProcess(fd);
  platform::CloseNothingPending(env, fd);
  return held;
}

// The host's check-out information file lies in \Net.
bool HostStillCheckedOut(extlib::OperationContext& ctx, const char* host) {
  return extlib::lftypeC(ctx, extlib::kSlotNet, std::string(host) + ".out", 0) == 0;
}

}  // namespace

extlib::ProjectCode CreateProject(extlib::OperationContext& ctx, const std::string& padded_name,
                                  const std::string& host) {
  if (extlib::ltbispC(ctx, padded_name)) platform::Terminal::Beep();
  std::vector<unsigned char> members = NewMembers(ctx);
  // The library decides on the project-name rules itself; no name control here.
  const int name_control = 0;
  extlib::PRJ created;
  uint32_t number = 0;
  int rc = extlib::ltbpcrC(ctx, extlib::kSlotNet, padded_name, host, members.empty() ? nullptr : members.data(), 0,
                           name_control, 0, 0, &created, &number);
  if (rc != 0) platform::Terminal::Beep();
  return extlib::AsProjectCode(rc);
}

extlib::ProjectCode EraseProject(extlib::OperationContext& ctx, const std::string& padded_name) {
  extlib::PRJ record;
  int rc = CheckMayChangeProject(ctx, padded_name, "erase", kPrjFailed, &record);
  if (rc != 0) return extlib::AsProjectCode(rc);
  std::string dir;
  rc = QuietProjectDir(ctx, padded_name, &dir);
  // A symbolic link as the project's entry is no project folder, yet it is
  // the entry: the erase removes the link itself, never what it points to.
  if (rc == kPrjNotReachable && !dir.empty() && platform::IsSymbolicLink(ctx.Native(dir))) rc = 0;
  if (rc != 0) {
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  if (ctx.interactive == 1) {
    int answer =
        services::ToolQuestionBox(ctx, services::kMessageWarning, platform::kMbYesNo | platform::kMbIconQuestion,
                                  "Remove project <%s>\nDirectory <%s> ?", Trim(padded_name).c_str(), dir.c_str());
    if (answer == platform::kIdNo) {
      extlib::lfperrC(ctx, "skiped\n");
      return extlib::kPrjOk;
    }
    if (answer != platform::kIdYes) {
      extlib::lfperrC(ctx, "aborted\n");
      return extlib::kPrjUnanswered;
    }
  }
  uint32_t number = 0;
  rc = extlib::ltbprmC(ctx, extlib::kSlotNet, padded_name, &number);
  if (rc != 0) {
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
  attributes.deleteAttributesByProject(number);
  return extlib::kPrjOk;
}

extlib::ProjectCode UnblockProject(extlib::OperationContext& ctx, const std::string& padded_name) {
  extlib::PRJ record;
  int rc = extlib::get_project_info(ctx, padded_name, &record);
  if (rc == 0) rc = extlib::check_PrjOwnerPermision(ctx, 0, record);
  if (rc != 0) {
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  unsigned char status = record.status;
  if (status != extlib::kStatusBlank && !(status & (extlib::kStatusProjectOut | extlib::kStatusHostOut))) return extlib::kPrjOk;
  // A host still checked out keeps its projects' marks: said before the host
  // or the folder is looked for, as its folders answer to the host's own
  // administration meanwhile (renamed or erased there, they are not missing).
  if ((status & extlib::kStatusHostOut) && HostStillCheckedOut(ctx, record.host)) {
    ReportProjectError(ctx, kPrjHostCheckedOut);
    return kPrjHostCheckedOut;
  }
  // A single workstation has no hosts to reach: its projects are local.
  if (extlib::lfnetg(ctx)) {
    std::string host_name, host_path;
    if ((rc = CheckHostReachable(ctx, record.host, &host_name, &host_path)) != 0) return extlib::AsProjectCode(rc);
  }
  std::string dir;
  if ((rc = QuietProjectDir(ctx, padded_name, &dir)) != 0) {
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  status &= static_cast<unsigned char>(~(extlib::kStatusProjectOut | extlib::kStatusHostOut));
  if ((rc = extlib::put_project_status(ctx, padded_name, &status)) != 0) {
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  // The marks are cleared: a file that stays would still say checked out, and
  // the next -unblock removes it.
  if (const int removed = admin::DeleteProjectCheckoutFile(ctx, dir); removed != 0) {
    services::ToolMessageBox(ctx, services::kMessageError,
                             "The check-out information file of %s could not be removed: %s\n",
                             extlib::TrimmedName(padded_name.c_str()).c_str(), platform::ErrorName(removed).c_str());
    return kPrjFailed;
  }
  return extlib::kPrjOk;
}

extlib::ProjectCode CopyProjectByNumber(extlib::OperationContext& ctx, const std::string& new_name,
                                        uint32_t source_number, const std::string& host, uint32_t* new_number) {
  extlib::PRJ source;
  int rc = extlib::get_PrjInfo_by_number(ctx, source_number, &source);
  if (rc != 0) {
    platform::Terminal::Beep();
    services::ToolMessageBox(ctx, services::kMessageWarning, "Unknown project number <%d>\n",
                             static_cast<int>(source_number));
    return extlib::AsProjectCode(rc);
  }
  const std::string padded = extlib::PadName(new_name);
  if (source.dbkey != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Project <%s> already exists!\n", new_name.c_str());
    return kPrjHasDatabaseKey;
  }
  extlib::PRJ existing;
  if (extlib::get_project_info(ctx, padded, &existing) == 0) {
    platform::Terminal::Beep();
    const std::string exists = NamedUiText(3, 6, new_name);
    const std::string on_host = services::LookupUiText(1, 16);
    services::ToolMessageBox(ctx, services::kMessageError, "%s\n\n%s %s", exists.c_str(), on_host.c_str(),
                             existing.host);
    return kPrjFailed;
  }
  std::string target = !extlib::lfnetg(ctx) ? "localhost" : host.empty() ? std::string(source.host) : host;
  std::vector<unsigned char> members = NewMembers(ctx);
  extlib::PRJ created;
  uint32_t number = 0;
  const extlib::FolderCopier copier = [&ctx](const std::string& from, const std::string& to) {
    return fileops::CopyFolder(ctx, from, to);
  };
  rc = extlib::CopyProjectWith(ctx, source, target, padded, members.empty() ? nullptr : members.data(), copier,
                               &created, &number);
  if (rc == kPrjInterrupted) return extlib::AsProjectCode(rc);  // the person stopped it and knows
  if (rc != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Copy failed with <%s>!\n", new_name.c_str());
    return extlib::AsProjectCode(rc);
  }
  if (number != source.number) {
    extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
    attributes.copyProjectAttributes(source.number, number);
  }
  if (new_number) *new_number = number;
  return extlib::kPrjOk;
}

int RemoveLockInfoFile(extlib::OperationContext& ctx, const std::string& padded_name) {
  extlib::PRJ record;
  std::string path;
  if (extlib::get_project_info(ctx, padded_name, &record) != 0 ||
      !extlib::get_lock_info_file(ctx, record.number, &path))
    return 0;
  const std::string native = ctx.Native(path);
  platform::FileInfo info;
  if (ctx.Env().Stat(native, &info, false) != 0) return 0;
  // Linux deletes open files: "in use" means a session holds a lock on it.
  if (HeldByASession(ctx, native)) return 1;
  return ctx.Env().Unlink(native) == 0 ? 0 : 1;
}

}  // namespace dovrane::app
