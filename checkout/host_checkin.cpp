// The host check-in: its refusals, its steps in an order that a second run
// can repeat, and the machine setting that tells a second run that a
// check-in is under way (InstallRoot\CheckingInPath).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "admin/administration_header.h"
#include "admin/audit_log.h"
#include "admin/entry_check.h"
#include "admin/host_scan.h"
#include "admin/shared_file_backup.h"
#include "checkout/checkin.h"
#include "checkout/project_status.h"
#include "extlib/records/administration.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/settings.h"
#include "fileops/directory_delete.h"
#include "fileops/file_messages.h"
#include "platform/env.h"
#include "platform/file_attributes.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"
#include "services/ui_text_table.h"

namespace dovrane::checkout {

namespace {

using extlib::PRJ;

constexpr unsigned kStop = platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground;
// A laptop's log is its own commands of some days: more is no log of ours.
constexpr uint64_t kMaxLaptopLog = 16 << 20;
constexpr unsigned char kOutBits = kHostCheckedOut | kProjectCheckedOut;

bool Exists(extlib::OperationContext& ctx, const std::string& windows_path) {
  platform::FileInfo info;
  return ctx.Env().Stat(ctx.Native(windows_path), &info, false) == 0;
}

std::string Trimmed(const std::string& text) {
  size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
  return a == std::string::npos ? "" : text.substr(a, b - a + 1);
}

bool OfHost(const PRJ& r, const std::string& host) { return platform::EqualsIgnoreCaseCp1252(r.host, host); }

// Whether two records of a project differ in what the project owns (the
// check-out marks aside).
bool Differs(const PRJ& a, const PRJ& b) {
  return std::memcmp(a.name, b.name, sizeof a.name) != 0 || (a.status & ~kOutBits) != (b.status & ~kOutBits) ||
         a.version != b.version || a.dbkey != b.dbkey || a.begin != b.begin || a.owner != b.owner ||
         std::memcmp(a.members, b.members, sizeof a.members) != 0;
}

// The network data path whatever InstallRoot\CheckedOutPath says.
bool NetworkNetFolder(std::string* net) {
  std::string drive, path;
  if (!extlib::GetSettingString("HKLM", "InstallRoot\\NetDrive", &drive)) return false;
  extlib::GetSettingString("HKLM", "InstallRoot\\NetPath", &path);
  std::string data = drive + path;
  if (data.empty()) return false;
  if (data.back() != '\\') data += '\\';
  *net = data + "Net";
  return true;
}

// Every live record of an administration file of the checked-out copy
// (Windows path); false when it cannot be read. The copy's files are read in
// the layout they were written in (their first record line tells it): the
// network may have changed its number of user containers while the host was
// out. Members are taken to the network's number of containers.
bool ReadRecords(extlib::OperationContext& ctx, const std::string& path, std::vector<PRJ>* records) {
  admin::AdministrationHeader header;
  const int fd = admin::OpenAdministrationHeader(ctx, path, admin::ShareMode::kDenyNone, &header);
  if (fd < 0) return false;
  admin::RecordStream in(ctx.Env(), fd);
  bool ok = true;
  for (;;) {
    PRJ record;
    const int rc =
        header.version == 3 ? admin::ReadRecordV3(in, header, &record) : admin::ReadRecordV12(ctx, in, header, &record);
    if (rc == extlib::kRecordEnd) break;
    if (rc != extlib::kRecordRead) {
      ok = false;
      break;
    }
    if (!extlib::IsDeleted(record)) records->push_back(record);
  }
  platform::CloseNothingPending(&ctx.Env(), fd);
  if (!ok) records->clear();
  return ok;
}

// The network's records as the project table has them: it reads the file
// again after this process wrote it and whenever its size or times changed.
// Nothing taken from them is written unchecked: each record is read again
// under its lock before it is changed.
bool NetworkRecords(extlib::OperationContext& ctx, std::vector<PRJ>* records) {
  int count = 0;
  PRJ* list = nullptr;
  if (extlib::ltbpliC_new(ctx, extlib::kSlotNet, &count, &list, 0, nullptr) != 0) return false;
  records->assign(list, list + count);
  extlib::ltbpliC_delete(&list);
  return true;
}

class HostCheckin {
 public:
  HostCheckin(extlib::OperationContext& ctx, const std::vector<CheckoutEntry>& list, CheckinReport* report)
      : ctx_(ctx), list_(list), report_(report), host_(list[0].host) {}

  int Run() {
    if (!Refusals()) return 0;
    saved_slot_ = extlib::lfinigC(ctx_, extlib::kSlotNet);
    PointSlotAt(net_ + "\\");
    // The shared files as they were; without a backup nothing is changed.
    if (int error = admin::BackupSharedFiles(ctx_); error != 0) {
      extlib::ShowMessage(ctx_, admin::BackupFailedText(error), kStop);
      if (!resume_) PointSlotAt(saved_slot_);
      return 0;
    }
    if (!resume_) {
      // First the mark that a check-in is under way, then the switch back to
      // the network: a crash between the two leaves a checked-out host.
      if (!extlib::PutSettingString("HKLM", kCheckingInPath, checked_out_dir_)) {
        extlib::ShowMessage(ctx_, services::UiText(3, 20) + "\n\n\"InstallRoot\\CheckingInPath\"", kStop);
        PointSlotAt(saved_slot_);
        return 0;
      }
      if (!extlib::DeleteSetting("HKLM", kCheckedOutPath)) {
        extlib::ShowMessage(ctx_, services::UiText(3, 20) + "\n\n\"InstallRoot\\CheckedOutPath\"", kStop);
        return Stopped();
      }
    }
    ReadHostSide();
    // The host's records are taken over and its folders registered while its
    // projects still carry their marks: until the journal says the host side
    // is done, nobody else may change them, and a second run may take the
    // copy's records over again. Once it says so, no run takes them over
    // again: a project released may be changed by others meanwhile.
    if (!HostSideDone()) {
      if (!TakeOverHostRecords() || !Update() || !RecordHostSideDone()) return Stopped();
    } else if (!Update()) {
      return Stopped();
    }
    if (!ReleaseProjects()) return Stopped();
    ImportAttributes();
    Report();
    MergeLaptopLog();
    if (!RemoveCopy()) return Stopped();
    const std::string host_file = HostCheckoutInfoPath(net_, host_);
    if (int rc = DeleteCheckoutInfo(ctx_, host_file); rc == -ENOENT) {
      // Gone before the check-in (a check-in under way may have deleted it itself).
      if (!resume_)
        extlib::ShowMessage(ctx_, fileops::FileErrorMessage(5, host_file, -ENOENT), platform::kMbOk | platform::kMbIconError);
    } else if (rc != 0) {
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(3, host_file, rc), platform::kMbOk | platform::kMbIconError);
      return Stopped();
    }
    if (!extlib::DeleteSetting("HKLM", kCheckingInPath)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 20) + "\n\n\"InstallRoot\\CheckingInPath\"", kStop);
      return Stopped();
    }
    extlib::UnCachPrjList(ctx_);
    (void)admin::AppendAuditLine(ctx_, "checkin host", {host_}, 0);
    return 1;
  }

 private:
  // Every reason not to begin, checked before anything is changed.
  bool Refusals() {
    std::string value;
    if (extlib::GetSettingString("HKLM", kCheckedOutPath, &value) && !value.empty()) {
      checked_out_dir_ = value;
    } else if (extlib::GetSettingString("HKLM", kCheckingInPath, &value) && !value.empty()) {
      // A check-in that did not reach its end: this run finishes it.
      checked_out_dir_ = value;
      resume_ = true;
    } else {
      extlib::ShowMessage(ctx_, services::UiText(3, 10) + "\n\n[InstallRoot\\CheckedOutPath]", kStop);
      return false;
    }
    if (!platform::EqualsIgnoreCaseCp1252(host_, platform::ComputerName())) {
      extlib::ShowMessage(ctx_, services::UiText(3, 11), kStop);
      return false;
    }
    if (!NetworkNetFolder(&net_)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 10) + "\n\n[InstallRoot\\NetPath]", kStop);
      return false;
    }
    // Without the network administration nothing could be released.
    if (!Exists(ctx_, net_ + "\\project.dat")) {
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(5, net_ + "\\project.dat", -ENOENT) + "\n\n" +
                              services::UiText(1, 7),
                          platform::kMbOk | platform::kMbIconError);
      return false;
    }
    // A missing host file does not stop the check-in: any workstation may
    // delete it (the stale-check-out command), and the laptop would be stuck
    // for good. It is named when the check-in comes to it.
    copy_net_ = checked_out_dir_ + "\\Net";
    return true;
  }

  // The commands given on the laptop while it was out are in its copy's own
  // audit log: they join the network's before the copy goes. The copy's log
  // is removed right after, so a check-in finished after a crash does not add
  // them again (a crash between the two adds them twice, never loses them).
  void MergeLaptopLog() {
    const std::string copy_log = copy_net_ + "\\" + admin::kAuditLogName;
    const std::string native = ctx_.Native(copy_log);
    if (platform::IsSymbolicLink(native)) return;  // removed with the copy, never followed
    std::string lines;
    const int rc = platform::ReadWholeFile(native, &lines, kMaxLaptopLog);
    if (rc == -ENOENT) return;
    if (rc != 0) {
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(5, copy_log, rc) + "\n\n" + extlib::LanguageText(extlib::kCheckoutTexts, 3),
                          platform::kMbOk | platform::kMbIconWarning);
      return;
    }
    if (admin::AppendAuditLinesTo(ctx_, net_ + "\\" + admin::kAuditLogName, lines) == 0)
      (void)ctx_.Env().Unlink(native);
  }

  void PointSlotAt(const std::string& folder) {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::lfinipC(ctx_, extlib::kSlotNet, folder);
    extlib::UnCachPrjList(ctx_);
  }

  // A check-in that stops early keeps InstallRoot\CheckingInPath: the next
  // check-in finishes it.
  int Stopped() {
    (void)admin::AppendAuditLine(ctx_, "checkin host", {host_}, 1, "stopped; check in again to finish");
    return 0;
  }

  // The check-in's journal in the copy of \Net: written once the host's
  // records are taken over and its folders registered, it goes with the copy.
  std::string JournalPath() const { return copy_net_ + "\\" + kCheckinJournalName; }

  bool HostSideDone() const {
    platform::FileInfo info;
    return ctx_.Env().Stat(ctx_.Native(JournalPath()), &info, false) == 0 &&
           info.type == platform::EntryType::kFile;
  }

  // Without a copy there is nothing to take over again: nothing to record.
  bool RecordHostSideDone() {
    if (!records_.have_host_side) return true;
    if (int rc = platform::WriteFileAtomic(ctx_.Native(JournalPath()), "host side taken over\r\n");
        rc != 0) {
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(4, JournalPath(), rc), kStop);
      return false;
    }
    return true;
  }

  // The host's records as they went out and as they come back, from the
  // copy of \Net (still there unless a check-in under way removed it).
  void ReadHostSide() {
    if (!Exists(ctx_, copy_net_ + "\\project.dat.chkout")) return;
    records_.have_host_side = ReadRecords(ctx_, copy_net_ + "\\project.dat.chkout", &records_.out) &&
                              ReadRecords(ctx_, copy_net_ + "\\project.dat", &records_.back);
    std::erase_if(records_.out, [&](const PRJ& r) { return !OfHost(r, host_); });
    std::erase_if(records_.back, [&](const PRJ& r) { return !OfHost(r, host_); });
  }

  // The listed projects and every record of this host still marked as out
  // with it: the mark cleared, the information file deleted.
  bool ReleaseProjects() {
    std::vector<std::pair<std::string, std::string>> todo;  // project, information file
    for (const CheckoutEntry& e : list_)
      if (NamesProject(e)) todo.emplace_back(e.project, ProjectCheckoutInfoPath(net_, e.location));
    std::vector<PRJ> network;
    if (!NetworkRecords(ctx_, &network)) {
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(1, net_ + "\\project.dat", -EIO), kStop);
      return false;
    }
    // The administration after the update: the release changes only the
    // marks, so the report and the attributes' numbers are taken from it.
    records_.after = network;
    // A listed project is released once, not again as a marked record.
    std::set<std::pair<std::string, std::string>> listed;
    for (const auto& [project, file] : todo) listed.emplace(extlib::PadName(project), file);
    for (const PRJ& r : network)
      if (OfHost(r, host_) && (r.status & kHostCheckedOut) && r.number) {
        std::string file = net_ + "\\" + extlib::NumberText(r.number) + ".out";
        if (!listed.count({extlib::PadName(r.name), file})) todo.emplace_back(extlib::TrimmedName(r.name), file);
      }
    // A project made on the laptop may carry a number that another host's
    // project took meanwhile: the information file of that number is the other
    // project's (checked out alone, say) and stays.
    for (auto& [project, file] : todo) {
      const size_t cut = file.find_last_of('\\');
      const std::string base = cut == std::string::npos ? file : file.substr(cut + 1);
      uint32_t number = 0;
      if (base.size() != 12 || base[0] != 'n' || std::sscanf(base.c_str() + 1, "%7u.out", &number) != 1) continue;
      for (const PRJ& r : network)
        if (r.number == number && !OfHost(r, host_)) file.clear();
    }
    if (ctx_.Cancelled()) return false;
    // Every mark in one pass over the administration, then the files.
    std::vector<std::string> projects;
    for (const auto& [project, file] : todo) projects.push_back(project);
    std::vector<bool> done;
    StatusPass().ChangeAll(ctx_, projects, StatusAction::kReturnFromHost, &done);
    for (size_t i = 0; i < todo.size(); ++i) {
      const auto& [project, file] = todo[i];
      if (ctx_.Cancelled()) return false;
      if (!done[i]) {
        extlib::ShowMessage(ctx_, "Unable to unlock project \"" + Trimmed(project) + "\"!",
                            platform::kMbOk | platform::kMbIconError);
        return false;
      }
      if (file.empty()) continue;
      if (int rc = DeleteCheckoutInfo(ctx_, file); rc != 0 && rc != -ENOENT) {
        extlib::ShowMessage(ctx_, fileops::FileErrorMessage(3, file, rc), platform::kMbOk | platform::kMbIconError);
        return false;
      }
    }
    return true;
  }

  // What the host changed in its projects' records while it was away (a new
  // name, owner, members, version) goes into the network's records; a new
  // name another project has meanwhile is made unique as the update does.
  bool TakeOverHostRecords() {
    if (!records_.have_host_side) return true;
    // The network's records are read only when the host changed one: the
    // update after this reads the file as it is then anyway.
    std::vector<PRJ> network;
    int handle = -1;
    for (const PRJ& b : records_.back) {
      if (!b.number) continue;
      auto was = std::find_if(records_.out.begin(), records_.out.end(), [&](const PRJ& o) { return o.number == b.number; });
      if (was == records_.out.end()) continue;
      if (!Differs(*was, b)) continue;
      if (handle < 0) {
        if (!NetworkRecords(ctx_, &network)) return false;
        handle = extlib::open_prj_info(ctx_, extlib::kSlotNet, extlib::kOpenExisting);
        if (handle < 0) return false;
      }
      if (!TakeOver(handle, b, network)) {
        extlib::ShowMessage(ctx_, "Unable to unlock project \"" + extlib::TrimmedName(b.name) + "\"!",
                            platform::kMbOk | platform::kMbIconError);
        return false;
      }
    }
    return true;
  }

  bool TakeOver(int handle, const PRJ& back, const std::vector<PRJ>& network) {
    if (extlib::FindRecordSlotByNumber(ctx_, back.number) < 1)
      return true;  // erased on the network meanwhile: the update registers the folder
    extlib::RecordLock lock;
    if (extlib::LockRecordByNumber(ctx_, handle, back.number, &lock) != 0) return false;
    const long slot = lock.slot();
    PRJ record;
    bool ok = extlib::ReadRecordAtSlot(handle, slot, &record) == extlib::kRecordRead;
    if (ok && record.number == back.number && OfHost(record, host_)) {
      PRJ wanted = record;
      std::memcpy(wanted.name, back.name, sizeof wanted.name);
      // The laptop's administration is a file like any other: its names pass
      // the checks every name entering a record passes.
      const std::string laptop_name = extlib::TrimmedName(back.name);
      if (!extlib::IsValidProjectName(laptop_name)) {
        const std::string safe = extlib::SafeProjectName(laptop_name);
        std::memcpy(wanted.name, record.name, sizeof wanted.name);
        if (!safe.empty()) extlib::SetPrjName(&wanted, safe);
        services::ToolMessageBox(
            ctx_, services::kMessageWarning, "%s",
            extlib::LanguageTextWith(extlib::kCheckoutTexts, 4, {laptop_name, extlib::TrimmedName(wanted.name)})
                .c_str());
      }
      UniqueName(&wanted, network);
      if (back.status >= extlib::kStatusBlank)
        wanted.status = static_cast<unsigned char>((back.status & ~kOutBits) | (record.status & kOutBits));
      wanted.version = back.version;
      wanted.dbkey = back.dbkey;
      wanted.begin = back.begin;
      wanted.owner = back.owner;
      std::memcpy(wanted.members, back.members, sizeof wanted.members);
      if (Differs(wanted, record)) {
        PRJ read_back;
        ok = extlib::WriteRecordAtSlot(ctx_, handle, slot, &wanted) == 0 &&
             extlib::ReadRecordAtSlot(handle, slot, &read_back) == extlib::kRecordRead &&
             std::memcmp(read_back.name, wanted.name, sizeof wanted.name) == 0;
      }
    }
    // Released by the slot: the record may carry the laptop's name now.
    return lock.Release() == 0 && ok;
  }

  // The update's rule: "_" after the last non-blank character while another
  // project has the name; all 50 used: the first character becomes "_".
  static void UniqueName(PRJ* record, const std::vector<PRJ>& network) {
    auto taken = [&](const PRJ& r) {
      for (const PRJ& n : network)
        if (n.number != r.number && std::memcmp(n.name, r.name, extlib::kNameLength) == 0) return true;
      return false;
    };
    while (taken(*record)) {
      std::string name = extlib::TrimmedName(record->name);
      if (name.size() < static_cast<size_t>(extlib::kNameLength)) {
        extlib::SetPrjName(record, name + "_");
      } else if (record->name[0] != '_') {
        record->name[0] = '_';
      } else {
        return;  // the write keeps the name; the report shows it
      }
    }
  }

  // The update of the administration for this computer as a host.
  bool Update() {
    extlib::UnCachPrjList(ctx_);
    extlib::NoProgressLines quiet(ctx_);
    if (admin::ScanHostProjects(ctx_, host_, 1) != 0 || admin::ScanHostProjects(ctx_, host_, 2) != 0) return false;
    // An entry left unregistered was reported; a second check-in registers it.
    if (admin::EntriesLeftUnregistered(ctx_.installation())) return false;
    return admin::CheckHostEntries(ctx_, host_) == 0;
  }

  // The records come from the administration after the update: a status
  // change renumbers and moves nothing, and reading the file again after the
  // release would cost a read of all of it for the same numbers and folders.
  void ImportAttributes() {
    // The first record of each listed name, as a look-up by name finds it.
    std::vector<std::string> padded;
    for (const CheckoutEntry& e : list_) padded.push_back(extlib::PadName(e.project));
    std::unordered_map<std::string_view, const PRJ*> found;
    for (size_t i = 0; i < list_.size(); ++i)
      if (NamesProject(list_[i])) found.emplace(padded[i], nullptr);
    for (const PRJ& r : records_.after)
      if (auto it = found.find(std::string_view(r.name, extlib::kNameLength)); it != found.end() && !it->second)
        it->second = &r;
    for (size_t i = 0; i < list_.size(); ++i) {
      if (!NamesProject(list_[i])) continue;  // a host without projects
      const PRJ* record = found[padded[i]];
      if (!record) {
        extlib::ShowMessage(ctx_, "No access to project <" + Trimmed(list_[i].project) + ">\n",
                            platform::kMbOk | platform::kMbIconWarning);
        continue;
      }
      // The folder from the record too: a look-up by number would read the
      // file again, which the release has just written.
      std::string folder;
      if (extlib::make_prj_dir(ctx_, *record, &folder) != 0) continue;
      extlib::RX_ProjectAttributes attributes(ctx_, extlib::kSlotNet);
      (void)extlib::RX_ProjectAttributesCache::of(ctx_.installation())
          .importFromDiskCacheFile(ctx_, record->number,
                                   ctx_.Native(folder) + "/" + extlib::kAttributeCacheFileName, attributes);
    }
  }

  void Report() {
    report_->host = host_;
    report_->time = admin::BackupSetName(ctx_.Env().NowSeconds());
    report_->entries = CheckinReportEntries(host_, records_);
    report_->lines.clear();
    for (const CheckinReportLine& line : report_->entries) report_->lines.push_back(FileReportLine(line));
    // A report that cannot be kept fails nothing: the window still shows it.
    if (int rc = WriteCheckinReport(ctx_, net_, report_); rc != 0)
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(4, net_ + "\\" + CheckinReportName(host_, report_->time), rc),
                          platform::kMbOk | platform::kMbIconWarning);
  }

  // The copy of \Net goes (first renamed aside whole, so that a second run
  // never takes the earlier \Net for it), then the earlier \Net comes back.
  bool RemoveCopy() {
    const std::string aside = copy_net_ + ".del~", backup = copy_net_ + ".ChkOut";
    extlib::OperationContext own(ctx_.installation(), &ctx_.Messenger());  // a cancel does not stop the clean-up
    if (Exists(ctx_, copy_net_ + "\\project.dat.chkout")) {
      platform::SetFileAttributes(ctx_.Native(copy_net_ + "\\LiteDBConfig.xml"), platform::kAttrNormal);
      if (Exists(ctx_, aside) && !fileops::DeleteDirectoryTree(own, nullptr, aside)) return false;
      if (int rc = ctx_.Env().Rename(ctx_.Native(copy_net_), ctx_.Native(aside));
          rc != 0) {
        extlib::ShowMessage(ctx_, fileops::FileErrorMessage(2, copy_net_ + "#" + aside, rc), kStop);
        return false;
      }
    }
    if (Exists(ctx_, aside) && !fileops::DeleteDirectoryTree(own, nullptr, aside)) return false;
    while (Exists(ctx_, backup) && !Exists(ctx_, copy_net_)) {
      int rc = ctx_.Env().Rename(ctx_.Native(backup), ctx_.Native(copy_net_));
      if (rc == 0) break;
      if (extlib::ShowMessage(ctx_, fileops::FileErrorMessage(2, backup + "#" + copy_net_, rc),
                              platform::kMbRetryCancel | platform::kMbIconError | platform::kMbSetForeground) !=
          platform::kIdRetry)
        return false;
    }
    return true;
  }

  extlib::OperationContext& ctx_;
  const std::vector<CheckoutEntry>& list_;
  CheckinReport* report_;
  const std::string host_;
  std::string checked_out_dir_, net_, copy_net_, saved_slot_;
  bool resume_ = false;
  CheckinRecords records_;
};

}  // namespace

int CheckInHost(extlib::OperationContext& ctx, const std::vector<CheckoutEntry>& list, CheckinReport* report) {
  if (list.empty()) return 0;
  return HostCheckin(ctx, list, report).Run();
}

}  // namespace dovrane::checkout
