// The host check-out: its refusals, its steps in the order that lets a crash
// at any moment be completed by checking out again, and the rollback that
// takes a check-out that does not go through back whole.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <set>

#include "admin/shared_file_backup.h"
#include "app/projects/project_error.h"
#include "checkout/checkin.h"
#include "checkout/checkout.h"
#include "checkout/net_copy.h"
#include "checkout/project_status.h"
#include "checkout/unfinished_checkout.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
#include "extlib/installation/settings.h"
#include "extlib/installation/slot_files.h"
#include "fileops/file_messages.h"
#include "platform/env.h"
#include "platform/file_attributes.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"

namespace dovrane::checkout {

namespace {

constexpr char kWriteTestValue[] = "write access ok";
constexpr char kArrivedMeanwhile[] =
    "This project was made on the host or moved onto it while the host was being checked out.\n"
    "The check-out is taken back; check the host out again.";
// The copy's administration holds one host's records.
constexpr uint64_t kCopyReadLimit = uint64_t{256} << 20;
constexpr unsigned kStop = platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground;

bool Exists(extlib::OperationContext& ctx, const std::string& windows_path) {
  platform::FileInfo info;
  return ctx.Env().Stat(ctx.Native(windows_path), &info, false) == 0;
}

bool SameFolder(extlib::OperationContext& ctx, const std::string& a, const std::string& b) {
  platform::FileInfo x, y;
  return ctx.Env().Stat(ctx.Native(a), &x) == 0 && ctx.Env().Stat(ctx.Native(b), &y) == 0 && x.device == y.device &&
         x.inode == y.inode;
}

std::string Trimmed(const std::string& text) {
  size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
  return a == std::string::npos ? "" : text.substr(a, b - a + 1);
}

bool RegistryWritable() {
  std::string back;
  bool ok = extlib::PutSettingString("HKLM", kCheckoutWriteTest, kWriteTestValue) &&
            extlib::GetSettingString("HKLM", kCheckoutWriteTest, &back) && back == kWriteTestValue;
  // A test value left behind would be harmless; a second try clears a passing fault.
  return (extlib::DeleteSetting("HKLM", kCheckoutWriteTest) || extlib::DeleteSetting("HKLM", kCheckoutWriteTest)) && ok;
}

class HostCheckout {
 public:
  HostCheckout(extlib::OperationContext& ctx, const std::vector<CheckoutEntry>& list, const CheckoutAnswers& answers)
      : ctx_(ctx), list_(list), answers_(answers), host_(list[0].host) {}

  int Run() {
    if (!Refusals()) return 0;
    facts_ = CheckoutFacts::Gather(ctx_);
    // An information file of this host left by a check-out that did not reach
    // its end: its marks and files are this check-out's own.
    // Without that file (deleted as a stale mark) the person who chose to
    // finish a check-out cut short says so.
    resume_ = Exists(ctx_, HostCheckoutInfoPath(places_.network_net, host_)) || answers_.finish_cut_short;
    // The shared files as they were, before the first change; without a
    // backup nothing is changed.
    if (int error = admin::BackupSharedFiles(ctx_); error != 0) {
      extlib::ShowMessage(ctx_, admin::BackupFailedText(error), kStop);
      return 0;
    }
    // The file an unfinished check-out of this host left is replaced, and the
    // temporaries of the writes it was killed in go.
    if (resume_) {
      platform::SetFileAttributes(ctx_.Native(HostCheckoutInfoPath(places_.network_net, host_)),
                                  platform::kAttrNormal);
      RemoveCheckoutTemporaries(ctx_, host_);
    }
    // The host file is what lets a second check-out recognise an unfinished one.
    host_file_ = true;
    if (!WriteHostCheckoutInfo(ctx_, places_.network_net, list_, *answers_.comment, facts_)) return Undo();
    if (!WaitForCreatesUnderWay()) return Undo();
    if (!BuildCheckoutCopy(ctx_, places_, host_, local_, resume_)) return Undo();
    if (!CopyHoldsOnlyTheList()) return Undo();
    if (!CopyOfficeStandard(ctx_, *answers_.components, data_path_, host_dir_, &std_created_)) return Undo();
    if (!MarkProjects()) return Undo();
    if (!CopyCheckoutAttributes(ctx_, places_, numbers_)) return Undo();
    if (!PutCheckoutCopyInPlace(ctx_, places_, &made_backup_)) return Undo();
    in_place_ = true;
    if (ctx_.Cancelled()) return Undo();
    if (!extlib::PutSettingString("HKLM", kCheckedOutPath, host_dir_)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 20) + "\n\n\"InstallRoot\\CheckedOutPath\"", kStop);
      return Undo();
    }
    // From here on the installation on this computer works on the copy.
    extlib::close_prj_info_handle(extlib::kSlotNet);
    extlib::lfinipC(ctx_, extlib::kSlotNet, places_.host_net + "\\");
    extlib::UnCachPrjList(ctx_);
    return 1;
  }

 private:
  // Every reason not to begin, checked before anything is changed.
  bool Refusals() {
    std::string value;
    if (extlib::GetSettingString("HKLM", kCheckedOutPath, &value)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 10) + "\n\n[InstallRoot\\CheckedOutPath]", kStop);
      return false;
    }
    // A check-in under way has to be finished first.
    if (extlib::GetSettingString("HKLM", "InstallRoot\\CheckingInPath", &value)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 10) + "\n\n[InstallRoot\\CheckingInPath]", kStop);
      return false;
    }
    if (!platform::EqualsIgnoreCaseCp1252(host_, platform::ComputerName())) {
      extlib::ShowMessage(ctx_, services::UiText(3, 11), kStop);
      return false;
    }
    if (!CheckoutNetFolder(&places_.network_net)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 10) + "\n\n[InstallRoot\\NetPath]", kStop);
      return false;
    }
    data_path_ = places_.network_net.substr(0, places_.network_net.size() - 4);
    int rc = FindLocalDataPath(ctx_, &local_);
    if (rc == extlib::kPrjUnknownComputer || (rc == 0 && local_.empty())) {
      std::string path;
      (void)extlib::lffnamC(ctx_, extlib::kSlotNet, extlib::kHostListFile, &path);
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(5, path + " (" + host_ + ")", -ENOENT), kStop);
      return false;
    }
    if (rc != 0) return false;
    host_dir_ = "\\\\" + host_ + local_;
    places_.host_net = host_dir_ + "\\Net";
    // The administration server's own \Net would be renamed away under the copy.
    if (SameFolder(ctx_, places_.host_net, places_.network_net)) {
      extlib::ShowMessage(ctx_, services::UiText(3, 10) + "\n\n[InstallRoot\\NetPath]", kStop);
      return false;
    }
    if (!answers_.comment || !answers_.components) return false;
    if (!RegistryWritable()) {
      extlib::ShowMessage(ctx_, services::UiText(3, 20) + "\n\n\"InstallRoot\"", kStop);
      return false;
    }
    ctx_.overwrite_all = false;
    return true;
  }

  // A create looks for the host file under the null record's lock and holds
  // that lock until its record is written: taken once now, every create that
  // looked before the file was there has its record in the administration
  // the copy is read from, and every later one is refused. False after the
  // message.
  bool WaitForCreatesUnderWay() {
    const int handle = extlib::open_prj_info(ctx_, extlib::kSlotNet, extlib::kOpenExisting);
    extlib::RecordLock null_lock;
    const int rc = handle < 0 ? extlib::AdministrationOpenFailure(ctx_, extlib::kSlotNet)
                              : extlib::LockNullRecord(ctx_, handle, &null_lock);
    if (rc == 0) {
      (void)null_lock.Release();
      return true;
    }
    // A conversion holds the whole file, null record and all: said as the copy says it.
    const std::string admin = places_.network_net + "\\" + extlib::kAdministrationFile;
    const int fd = platform::OpenRegularFile(ctx_.Native(admin), O_RDONLY);
    const bool converting = fd >= 0 && platform::WaitForWholeFileLock(fd, 0);
    if (fd >= 0) platform::CloseNothingPending(&ctx_.Env(), fd);
    if (converting)
      extlib::ShowMessage(ctx_, extlib::LanguageTextWith(extlib::kCheckoutTexts, 14, {admin}), kStop);
    else
      app::ReportProjectError(ctx_, rc);
    return false;
  }

  // The copy's records of this host are the list's projects. One that is not
  // was made on the host or moved onto it after the list was taken (a move
  // that looks for the host file after its record is written goes back when
  // it finds it; a record it wrote before is seen here): nobody would mark
  // it, so the check-out stops and is taken back. False after the message.
  bool CopyHoldsOnlyTheList() {
    namespace L = extlib::layout;
    std::set<std::string> listed;
    std::set<uint32_t> numbers;
    for (const CheckoutEntry& e : list_) {
      if (!NamesProject(e)) continue;
      listed.insert(extlib::TrimmedName(e.project.c_str()));
      // The folder's number holds when the project was renamed since the list was taken.
      const size_t cut = e.location.find_last_of('\\');
      const std::string entry = cut == std::string::npos ? e.location : e.location.substr(cut + 1);
      uint32_t number = 0;
      if (entry.size() == 12 && entry.ends_with(".prj") && extlib::ParseNumberText(entry.substr(0, 8), &number) &&
          number != 0)
        numbers.insert(number);
      if (const long looked_up = extlib::get_project_number(ctx_, e.project); looked_up > 0)
        numbers.insert(static_cast<uint32_t>(looked_up));
    }
    std::string text;
    const std::string path = places_.Work() + "\\" + extlib::kAdministrationFile;
    if (int rc = platform::ReadWholeFile(ctx_.Native(path), &text, kCopyReadLimit); rc != 0) {
      extlib::ShowMessage(ctx_, fileops::FileErrorMessage(1, path, rc), kStop);
      return false;
    }
    std::string padded = host_.substr(0, L::kHostWidth);
    padded.resize(L::kHostWidth, ' ');
    size_t pos = text.find('\n');  // the header
    while (pos != std::string::npos && pos + 1 < text.size()) {
      const size_t start = pos + 1;
      pos = text.find('\n', start);
      const std::string line = text.substr(start, pos == std::string::npos ? std::string::npos : pos - start);
      if (line.size() <= static_cast<size_t>(L::kV3HostEnd) || line[L::kV3HostEnd] != L::kFieldEnd ||
          !platform::EqualsIgnoreCaseCp1252(line.substr(L::kV3Host, L::kHostWidth), padded) || line[0] == '#')
        continue;
      const std::string name = extlib::TrimmedName(line.substr(L::kV3Name, L::kNameWidth).c_str());
      uint32_t number = 0;
      if (!extlib::ParseNumberText(line.substr(L::kV3Number, L::kNumberWidth), &number)) number = 0;
      if ((number != 0 && numbers.count(number)) || listed.count(name)) continue;
      extlib::ShowMessage(ctx_, "[ " + name + " ]\n" + kArrivedMeanwhile, kStop);
      return false;
    }
    return true;
  }

  // Marks every project of the list; false after Abort (or a cancel).
  bool MarkProjects() {
    // A first check-out writes files no one else writes: the folder is
    // listed once for all of them. A resumed one looks at each file, as it
    // may delete its own from before.
    if (!resume_) (void)folder_.List(ctx_, places_.network_net);
    std::vector<std::string> projects;
    for (const CheckoutEntry& e : list_) {
      if (!NamesProject(e)) continue;  // a host without projects
      projects.push_back(e.project);
      if (const long number = pass_.Number(ctx_, e.project); number >= 0)
        numbers_.insert(static_cast<uint32_t>(number));
    }
    if (ctx_.Cancelled()) return false;
    // Every mark in one pass; the projects it marked are taken back by an Abort too.
    std::vector<bool> done;
    pass_.ChangeAll(ctx_, projects, StatusAction::kTakeWithHost, &done);
    for (size_t k = 0; k < projects.size(); ++k)
      if (done[k]) marked_.push_back(projects[k]);
    size_t k = 0;
    for (const CheckoutEntry& e : list_) {
      if (!NamesProject(e)) continue;
      bool marked = done[k++];
      for (;;) {
        if (ctx_.Cancelled()) return false;
        if (!marked && Ours(e.project)) {
          marked = true;
          marked_.push_back(e.project);
        }
        if (marked) {
          // A file that cannot be written ends the check-out; a replacement the
          // person refused leaves the older file, as asked.
          if (!WriteProjectFile(e)) return false;
          break;
        }
        char text[1200];
        std::snprintf(text, sizeof text, "[ %s ]\n%s\n", Trimmed(e.project).c_str(), services::UiText(3, 12).c_str());
        int answer = extlib::ShowMessage(ctx_, text, platform::kMbAbortRetryIgnore | platform::kMbIconInformation);
        if (answer == platform::kIdIgnore) break;
        if (answer != platform::kIdRetry) return false;  // Abort, or nobody could answer
        if (pass_.Change(ctx_, e.project, StatusAction::kTakeWithHost)) {
          marked = true;
          marked_.push_back(e.project);
        }
      }
    }
    if (!project_files_.empty()) (void)platform::SyncDirectory(ctx_.Native(places_.network_net));
    return true;
  }

  // Resuming: the mark an unfinished check-out of this host set is ours.
  bool Ours(const std::string& project) {
    unsigned char status = 0;
    if (!resume_) return false;
    if (pass_.SeenStatus(project, &status)) return (status & kHostCheckedOut) != 0;
    return extlib::get_project_status(ctx_, project, &status) == 0 && (status & kHostCheckedOut);
  }

  bool WriteProjectFile(const CheckoutEntry& e) {
    const std::string path = ProjectCheckoutInfoPath(places_.network_net, e.location);
    if (resume_ && !path.empty() && Exists(ctx_, path)) {
      CheckoutInfo old;
      extlib::OperationContext quiet(ctx_.installation(), &ctx_.Messenger());
      if (ReadCheckoutInfo(quiet, path, &old) == 0 && old.host == facts_.computer && old.location == e.location)
        (void)DeleteCheckoutInfo(ctx_, path);  // the file written below takes its place
    }
    std::string written;
    bool refused = false;
    // The folder is flushed once, after the last project's file.
    if (!WriteProjectCheckoutInfo(ctx_, places_.network_net, e, *answers_.comment, facts_, &written, &refused,
                                  false, resume_ ? nullptr : &folder_))
      return refused;
    project_files_.push_back(written);
    return true;
  }

  // Takes everything back; the result of a check-out that did not go through.
  int Undo() {
    if (in_place_) extlib::DeleteSetting("HKLM", kCheckedOutPath);
    StatusPass back;
    std::vector<bool> done;
    back.ChangeAll(ctx_, marked_, StatusAction::kReturnFromHost, &done);
    // A file that stays names this computer: the next check-out's resume or -unblock removes it.
    for (const std::string& path : project_files_) (void)DeleteCheckoutInfo(ctx_, path);
    RemoveCheckoutCopy(ctx_, places_, in_place_);
    RemoveCreated(ctx_, std_created_);
    if (host_file_) {
      const std::string path = HostCheckoutInfoPath(places_.network_net, host_);
      if (int rc = DeleteCheckoutInfo(ctx_, path); rc != 0 && rc != -ENOENT)
        extlib::ShowMessage(ctx_, fileops::FileErrorMessage(3, path, rc), platform::kMbOk | platform::kMbIconError);
    }
    return 0;
  }

  extlib::OperationContext& ctx_;
  const std::vector<CheckoutEntry>& list_;
  const CheckoutAnswers& answers_;
  const std::string host_;
  NetCopyPlaces places_;
  std::string data_path_, local_, host_dir_;
  CheckoutFacts facts_;
  bool resume_ = false, host_file_ = false, in_place_ = false, made_backup_ = false;
  std::set<uint32_t> numbers_;
  // The marks set in one pass over the administration.
  StatusPass pass_{host_};
  InfoFolder folder_;
  std::vector<std::string> marked_, project_files_, std_created_;
};

}  // namespace

int CheckOutHost(extlib::OperationContext& ctx, const std::vector<CheckoutEntry>& list,
                 const CheckoutAnswers& answers) {
  if (list.empty()) return 0;
  return HostCheckout(ctx, list, answers).Run();
}

}  // namespace dovrane::checkout
