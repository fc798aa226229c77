#include "admin/restore_update.h"

#include "admin/entry_check.h"
#include "admin/host_scan.h"
#include "admin/move_journal.h"
#include "admin/net_id_writer.h"
#include "admin/project_index.h"
#include "admin/unique_ids.h"
#include "app/console.h"
#include "app/tool_message_box.h"
#include "extlib/administration.h"
#include "extlib/language.h"
#include "extlib/library_init.h"
#include "extlib/messages.h"
#include "extlib/project_attributes.h"
#include "extlib/project_list.h"
#include "extlib/slot_files.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

#include <cerrno>

namespace dovrane::admin {

namespace {

constexpr long kNoticeRebuild = 2500407;
constexpr long kNoticeCheck = 2500408;

constexpr char kNotRepairedEnglish[] =
    "The project administration could not be reorganized!\n\nYou can start this procedure again:\nVarnholtek "
    "Services - Service - Hotline Tools - reorg\n";
// Windows-1252 text: "\xf6" is o-umlaut.
constexpr char kNotRepairedGerman[] =
    "Die Projektverwaltung wurde nicht repariert!\n\nSie k\xf6nnen die Prozedur noch einmal "
    "starten:\nKesmenu - Service - Hotlinetools - reorg\n";

bool AdministrationMissing() {
  return extlib::lftypeC(extlib::kSlotNet, extlib::kAdministrationFile, 0) < 0;
}

// Forgets every cached view of project.dat (the file is about to change as a whole).
void ForgetLists() {
  extlib::UnCachPrjList();
  DropIndex();
}

std::string MarkerPath() {
  std::string path;
  return extlib::lffnamC_new(extlib::kSlotNet, kRebuildMarkerFile, &path) == 0 ? platform::NativePath(path) : "";
}

bool RebuildPending() {
  std::string path = MarkerPath();
  platform::FileInfo info;
  return !path.empty() && platform::CurrentEnv()->Stat(path, &info) == 0;
}

// Marks the administration as being rebuilt: until the marker is gone, a
// partly rebuilt administration is not taken for a whole one. 0 or -1.
int MarkRebuild() {
  std::string path = MarkerPath();
  if (!path.empty() && platform::WriteFileAtomic(path, "rebuild of project.dat under way\n") == 0) return 0;
  app::ToolMessageBox(app::kMessageWarning, "Can't create file %s.\n", kRebuildMarkerFile);
  return -1;
}

// Scan, identifier, compression: each runs only when the one before succeeded.
// The rebuild marker goes once all of them did.
int RebuildSteps(long console) {
  SeenProjectInfos seen;
  int rc = ScanAllHosts(console, &seen);
  if (rc == 0) rc = EnsureNetId(console, &seen);
  if (rc == 0) rc = CompressAttributes(console);
  if (rc == 0) {
    int removed = platform::CurrentEnv()->Unlink(MarkerPath());
    if (removed != 0 && removed != -ENOENT) rc = -1;
  }
  return rc;
}

// Closes the progress notice on every path.
struct Notice {
  long handle = 0;
  void Show(long text) { handle = extlib::sendGuiMessageInProcess(text, 0); }
  ~Notice() { extlib::cancelGuiMessageInProcess(handle); }
};

}  // namespace

int RestoreAdministration() {
  bool created = false;
  // Marked before anything changes: an empty administration left by a failure
  // must not pass for a whole one.
  if (MarkRebuild() != 0) return -1;
  if (AdministrationMissing()) {
    int handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kCreateEmpty);
    if (handle < 0) {
      app::ToolMessageBox(app::kMessageWarning, "Can't create file %s.\n", extlib::kAdministrationFile);
      return -1;
    }
    extlib::close_prj_info(handle);
    created = true;
  }
  ForgetLists();
  long console = app::lfConsoleCreate("prjAdmrestore");
  Notice notice;
  notice.Show(created ? kNoticeRebuild : kNoticeCheck);
  app::lfConsoleWrite(console, created ? "\t new project administration created.\n"
                                       : "\t project administration already exists.\n");
  return RebuildSteps(console);
}

int UpdateAdministration(bool update_only) {
  if (AdministrationMissing()) return -2;
  ForgetLists();
  long console = app::lfConsoleCreate("prjAdmUpdate");
  int handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kOpenExisting);
  if (handle < 0) {
    app::ToolMessageBox(app::kMessageWarning, "Can't open file %s\n", extlib::kAdministrationFile);
    return -1;
  }
  Notice notice;
  CompleteInterruptedMoves(console);
  if (update_only && RebuildPending()) {
    // A rebuild stopped half-way: records may be missing. Complete it.
    app::lfConsoleWrite(console, "An interrupted rebuild of the project administration is completed.\n");
    update_only = false;
  }
  if (CheckUniqueIds(console) == 1) {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    ForgetLists();
    if (MarkRebuild() != 0) return -1;
    int rc = extlib::lfilmvC(extlib::kSlotNet, extlib::kAdministrationFile, extlib::kSlotNet,
                             kSavedAdministrationFile, 1);
    if (rc != 0) {
      app::ToolMessageBox(app::kMessageError, "%s",
                          extlib::ll_get_language() != 0 ? kNotRepairedEnglish : kNotRepairedGerman);
      return rc;
    }
    handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kCreateEmpty);
    if (handle < 0) {
      app::ToolMessageBox(app::kMessageError, "New project administration can not be created.\n");
      return -2;
    }
    extlib::close_prj_info(handle);
    ForgetLists();
    notice.Show(kNoticeRebuild);
  } else {
    if (update_only) return 0;
    notice.Show(kNoticeCheck);
    if (MarkRebuild() != 0) return -1;
    int rc = CheckValidEntries(console);
    if (rc != 0) return rc;
  }
  return RebuildSteps(console);
}

int UpdateHost(const std::string& host) {
  if (host.empty()) return -1;
  ForgetLists();
  ScanHostProjects(0, host, 1);
  ScanHostProjects(0, host, 2);
  const int rc = CheckHostEntries(host);
  return rc == 0 && EntriesLeftUnregistered() ? kEntriesLeftUnregistered : rc;
}

int CompressAttributes(long console) {
  app::lfConsoleWrite(console, "Compress Project Attributes ...");
  extlib::RX_ProjectAttributes attributes(extlib::kSlotNet);
  attributes.compressDatabase();
  return 0;
}

}  // namespace dovrane::admin
