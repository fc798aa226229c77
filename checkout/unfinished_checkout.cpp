#include "checkout/unfinished_checkout.h"

#include <cerrno>
#include <vector>

#include "admin/audit_log.h"
#include "admin/shared_file_backup.h"
#include "checkout/checkin.h"
#include "checkout/checkout.h"
#include "checkout/checkout_info_file.h"
#include "checkout/net_copy.h"
#include "checkout/project_status.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/settings.h"
#include "fileops/file_messages.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"

namespace dovrane::checkout {

namespace {

constexpr char kTemporary[] = ".out.new~";
constexpr unsigned kStop = platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground;

bool Setting(const char* name) {
  std::string value;
  return extlib::GetSettingString("HKLM", name, &value);
}

bool IsRegularFile(extlib::OperationContext& ctx, const std::string& windows_path) {
  platform::FileInfo info;
  return ctx.Env().Stat(ctx.Native(windows_path), &info, false) == 0 && info.type == platform::EntryType::kFile;
}

bool Exists(extlib::OperationContext& ctx, const std::string& windows_path) {
  platform::FileInfo info;
  return ctx.Env().Stat(ctx.Native(windows_path), &info, false) == 0;
}

// "<base>.out.new~<digits>": the temporary of a crash-safe write of an
// information file, killed before its rename; *base is the file's own name.
bool TemporaryOf(const std::string& name, std::string* base) {
  const size_t at = name.rfind(kTemporary);
  if (at == std::string::npos || at == 0) return false;
  const size_t digits = at + sizeof kTemporary - 1;
  if (digits == name.size()) return false;
  for (size_t i = digits; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  *base = name.substr(0, at);
  return true;
}

// What a check-out of host cut short may have left, each item proved its own.
struct Traces {
  std::string net;                       // the network \Net
  NetCopyPlaces places;                  // host_net empty: this computer has no data path
  std::vector<std::string> marked;       // projects of host carrying 0x04
  std::vector<std::string> own_files;    // project information files it wrote
  std::vector<std::string> temporaries;  // its information files' temporaries
  bool host_file = false;
  bool copy = false;  // the work folder, or a copy in place without the setting

  bool Any() const { return host_file || copy || !marked.empty() || !own_files.empty() || !temporaries.empty(); }
};

// Whether an information file (or a temporary cut short, which may lack the
// line) was written by another computer than this one.
bool WrittenElsewhere(extlib::OperationContext& ctx, const std::string& path) {
  std::string text;
  if (platform::ReadWholeFile(ctx.Native(path), &text, 1 << 20) != 0) return true;
  std::string writer;
  if (!CheckoutValue(text, "[Host]", &writer)) return false;  // cut short before that line
  return !platform::EqualsIgnoreCaseCp1252(writer, platform::ComputerName());
}

bool Gather(extlib::OperationContext& ctx, const std::string& host, Traces* t) {
  if (!CheckoutNetFolder(&t->net)) return false;
  t->places.network_net = t->net;
  std::string local;
  {
    extlib::QuietContext quiet(ctx);
    if (extlib::get_data_path(quiet, extlib::lzrnamC(), &local) == 0 && !local.empty())
      t->places.host_net = "\\\\" + host + local + "\\Net";
  }
  t->host_file = IsRegularFile(ctx, HostCheckoutInfoPath(t->net, host));

  UnCachPrjList(ctx);
  int count = 0;
  extlib::PRJ* list = nullptr;
  if (extlib::ltbpliC_new(ctx, extlib::kSlotNet, &count, &list, 0, nullptr) != 0) return false;
  std::vector<extlib::PRJ> records(list, list + count);
  extlib::ltbpliC_delete(&list);
  auto of_host = [&](uint32_t number) -> const extlib::PRJ* {
    for (const extlib::PRJ& r : records)
      if (r.number == number && platform::EqualsIgnoreCaseCp1252(r.host, host)) return &r;
    return nullptr;
  };
  for (const extlib::PRJ& r : records) {
    // Only a check-out of this host sets 0x04 on its records, and it runs on
    // this computer only.
    if (!platform::EqualsIgnoreCaseCp1252(r.host, host) || !(r.status & kHostCheckedOut)) continue;
    t->marked.push_back(extlib::TrimmedName(r.name));
    const std::string file = t->net + "\\" + extlib::NumberText(r.number) + ".out";
    if (IsRegularFile(ctx, file) && !(r.status & kProjectCheckedOut) && !WrittenElsewhere(ctx, file))
      t->own_files.push_back(file);
  }

  std::vector<platform::DirEntry> entries;
  if (ctx.Env().ListDir(ctx.Native(t->net), &entries) != 0) return false;
  for (const platform::DirEntry& e : entries) {
    std::string base;
    if (!TemporaryOf(e.name, &base)) continue;
    const std::string path = t->net + "\\" + e.name;
    if (!IsRegularFile(ctx, path)) continue;
    if (platform::EqualsIgnoreCaseCp1252(base, host)) {
      // Only this host's check-out writes its host file.
      t->temporaries.push_back(path);
      continue;
    }
    uint32_t number = 0;
    const extlib::PRJ* r = extlib::ParseNumberText(base, &number) ? of_host(number) : nullptr;
    // A project checked out on its own has a file of its own check-out.
    if (r && !(r->status & kProjectCheckedOut) && !WrittenElsewhere(ctx, path)) t->temporaries.push_back(path);
  }

  if (!t->places.host_net.empty()) {
    // A copy in place while the setting is not there never went into use.
    t->copy = Exists(ctx, t->places.Work()) || Exists(ctx, t->places.host_net + "\\project.dat.chkout");
  }
  return true;
}

}  // namespace

Unfinished FindUnfinished(extlib::OperationContext& ctx, const std::string& host) {
  if (!platform::EqualsIgnoreCaseCp1252(host, platform::ComputerName())) return Unfinished::kNone;
  if (Setting(kCheckingInPath)) return Unfinished::kCheckin;
  if (Setting(kCheckedOutPath)) return Unfinished::kNone;
  Traces traces;
  if (!Gather(ctx, host, &traces)) return Unfinished::kNone;
  return traces.Any() ? Unfinished::kCheckout : Unfinished::kNone;
}

int TakeBackCheckout(extlib::OperationContext& ctx, const std::string& host) {
  // Only on this computer, and never under a check-out in use or a check-in
  // under way: their marks are not a check-out cut short.
  if (Setting(kCheckedOutPath) || Setting(kCheckingInPath)) {
    extlib::ShowMessage(ctx, services::UiText(3, 10) + "\n\n[" +
                            std::string(Setting(kCheckedOutPath) ? kCheckedOutPath : kCheckingInPath) + "]",
                        kStop);
    return 0;
  }
  if (!platform::EqualsIgnoreCaseCp1252(host, platform::ComputerName())) {
    extlib::ShowMessage(ctx, services::UiText(3, 11), kStop);
    return 0;
  }
  Traces t;
  if (!Gather(ctx, host, &t)) {
    extlib::ShowMessage(ctx, services::UiText(3, 10) + "\n\n[InstallRoot\\NetPath]", kStop);
    return 0;
  }
  if (int error = admin::BackupSharedFiles(ctx); error != 0) {
    extlib::ShowMessage(ctx, admin::BackupFailedText(error), kStop);
    return 0;
  }
  bool ok = true;
  // The marks first, then the files that claim them: a take-back cut short
  // leaves files without marks, never marks without files.
  std::vector<bool> done;
  StatusPass().ChangeAll(ctx, t.marked, StatusAction::kReturnFromHost, &done);
  for (size_t i = 0; i < t.marked.size(); ++i) {
    if (!done[i]) {
      extlib::ShowMessage(ctx, "Unable to unlock project \"" + t.marked[i] + "\"!", platform::kMbOk | platform::kMbIconError);
      ok = false;
    }
  }
  if (!ok) return 0;
  std::vector<std::string> files = t.own_files;
  files.insert(files.end(), t.temporaries.begin(), t.temporaries.end());
  for (const std::string& file : files) {
    if (int rc = DeleteCheckoutInfo(ctx, file); rc != 0 && rc != -ENOENT) {
      extlib::ShowMessage(ctx, fileops::FileErrorMessage(3, file, rc), platform::kMbOk | platform::kMbIconError);
      ok = false;
    }
  }
  if (!t.places.host_net.empty()) {
    RemoveCheckoutCopy(ctx, t.places, false);
    if (Exists(ctx, t.places.Work()) || Exists(ctx, t.places.host_net + "\\project.dat.chkout")) ok = false;
  }
  // The settings test of a run killed at that moment.
  if (Setting(kCheckoutWriteTest) && !extlib::DeleteSetting("HKLM", kCheckoutWriteTest)) ok = false;
  // Last: while it is there the next look still finds this check-out unfinished.
  if (ok && t.host_file) {
    const std::string path = HostCheckoutInfoPath(t.net, host);
    if (int rc = DeleteCheckoutInfo(ctx, path); rc != 0 && rc != -ENOENT) {
      extlib::ShowMessage(ctx, fileops::FileErrorMessage(3, path, rc), platform::kMbOk | platform::kMbIconError);
      ok = false;
    }
  }
  UnCachPrjList(ctx);
  (void)admin::AppendAuditLine(ctx, "checkout host taken back", {host}, ok ? 0 : 1, ok ? "" : "incomplete");
  return ok ? 1 : 0;
}

void RemoveCheckoutTemporaries(extlib::OperationContext& ctx, const std::string& host) {
  Traces t;
  if (!Gather(ctx, host, &t)) return;
  for (const std::string& file : t.temporaries) (void)DeleteCheckoutInfo(ctx, file);
}

}  // namespace dovrane::checkout
