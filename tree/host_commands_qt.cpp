#include "tree/host_commands_qt.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QPushButton>

#include "checkout/checkout.h"
#include "checkout/checkout_comment_dlg.h"
#include "checkout/std_copy_dlg.h"
#include "checkout/checkin.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "network/browse_network_dlg.h"
#include "platform/messenger.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"
#include "tree/tree_window_qt.h"
#include "services/gui_messenger_qt.h"
#include "services/operation_worker_qt.h"
#include "services/progress_run_qt.h"
#include "services/qt_text_qt.h"

namespace dovrane::tree {
namespace {

constexpr unsigned kError = platform::kMbOk | platform::kMbIconError;

bool InstallationCheckedOut() {
  std::string path;
  return extlib::GetSettingString("HKLM", "InstallRoot\\CheckedOutPath", &path);
}

// A check-in of this computer that did not reach its end.
bool CheckInUnderWay() {
  std::string path;
  return extlib::GetSettingString("HKLM", checkout::kCheckingInPath, &path);
}

bool IsThisComputer(const std::string& host) { return platform::EqualsIgnoreCaseCp1252(host, platform::ComputerName()); }

}  // namespace

HostCommands::HostCommands(tree::TreeWindow* window, tree::ProjectTrees* trees, services::GuiMessenger* messenger, QObject* parent)
    : QObject(parent),
      window_(window),
      trees_(trees),
      messenger_(messenger),
      check_out_([](extlib::OperationContext& ctx, int mode, const std::vector<checkout::CheckoutEntry>& list,
                    const checkout::CheckoutAnswers& answers) { return checkout::CheckOut(ctx, mode, list, answers); }),
      browse_([window](QString* path, QWidget* parent, int mode, int* created) {
        // The window works on the process default installation (its main's).
        return network::BrowseForDataServer(extlib::ProcessInstallation().Paths(), path, parent, mode, created,
                                            window->PingAllowed().load());
      }),
      gather_(std::make_unique<services::OperationWorker>(messenger)) {
  connect(gather_.get(), &services::OperationWorker::finished, this, &HostCommands::Gathered);
  tree::CDovraneTreeCtrl* hosts = window_->HostTree();
  if (hosts->selectionModel())
    connect(hosts->selectionModel(), &QItemSelectionModel::currentChanged, this, &HostCommands::UpdateButton);
  connect(trees_, &tree::ProjectTrees::refilled, this, &HostCommands::UpdateButton);
  connect(trees_, &tree::ProjectTrees::hostChecked, this, &HostCommands::UpdateButton);
}

HostCommands::~HostCommands() {
  if (QApplication::overrideCursor() && gather_->Running()) QApplication::restoreOverrideCursor();
  run_.reset();
  gather_.reset();
}

void HostCommands::UpdateButton() {
  QPushButton* button = window_->CheckOutButton();
  const tree::HostTable& table = trees_->model()->table();
  const tree::HostRecord* local = table.FindHost(platform::ComputerName());
  // The local computer's host check-out information file, as the last checks
  // found it; or this computer works on its checked-out copy (a laptop's
  // network folder may not show that file): the button checks in then.
  std::string out_path;
  const bool working_out =
      (extlib::GetSettingString("HKLM", "InstallRoot\\CheckedOutPath", &out_path) && !out_path.empty()) ||
      CheckInUnderWay();
  button->setText(services::UiQText(114, (local && local->checked_out) || working_out ? 2 : 1));
  // A screen reader announces what the button does now.
  button->setAccessibleName(button->text().remove(QLatin1Char('&')));
  tree::CDovraneTreeCtrl* hosts = window_->HostTree();
  const QModelIndex item = hosts->GetSelectedItem();
  const uint32_t kind = hosts->GetItemData(item);
  const bool enable = IsButtonHostKind(kind) &&
                      platform::EqualsIgnoreCaseCp1252(hosts->GetItemText(item), platform::ComputerName());
  button->setEnabled(enable && !button_held_);
}

void HostCommands::RunOnSelectedHost(int command) {
  Run(static_cast<uint32_t>(command), window_->HostTree()->GetSelectedItem());
}

std::string HostCommands::Text(const QModelIndex& item) const {
  return window_->HostTree()->GetItemText(item);
}

std::vector<HostChild> HostCommands::Children(const QModelIndex& host) const {
  // Every project of the host, also those the trees have not shown yet.
  std::vector<HostChild> children;
  const tree::ItemRef ref = trees_->model()->RefOf(host);
  if (!ref.valid() || ref.child >= 0 || ref.node->parent) return children;
  const auto* record = static_cast<const tree::HostRecord*>(ref.node);
  children.reserve(record->projects.size());
  for (const tree::ProjectRecord& project : record->projects) children.push_back({std::string(project.name()), project.kind});
  return children;
}

void HostCommands::Run(uint32_t id, const QModelIndex& item) {
  if (busy_) return;
  const uint32_t kind = window_->HostTree()->GetItemData(item);
  busy_ = id;
  switch (id) {
    case tree::kCmdCheckOutHost:
      // This computer shown as checked out without working on its copy: a
      // check-out cut short, which the command finishes or takes back.
      if (kind == tree::kKindHost || (kind == tree::kKindHostOutFile && IsThisComputer(Text(item))))
        return CheckOutHost(item);
      break;
    case tree::kCmdCheckInHost:
      // A check-in cut short is finished from this computer's host item,
      // whatever it shows meanwhile.
      if (IsButtonHostKind(kind) && IsThisComputer(Text(item)) && CheckInUnderWay()) return CheckIn(item, kind, true);
      if (kind == tree::kKindHostOutFile || kind == tree::kKindHostOut || kind == tree::kKindProjectOutWithHost)
        return CheckIn(item, kind);
      break;
    case tree::kCmdDeleteHostCheckoutFile:
      if (kind == tree::kKindHostOutFile) {
        const std::string host = Text(item);
        return OffThread([host](extlib::OperationContext& ctx) {
          DeleteHostCheckoutFile(ctx, host);
          return std::function<void()>();
        });
      }
      break;
    case tree::kCmdAddDataServer:
      return AddDataServer(1);
    case tree::kCmdAddLocalComputer:
      return AddDataServer(3);
    case tree::kCmdRemoveHost:
      if (kind == tree::kKindHost || kind == tree::kKindUnreachableHost) return RemoveHost(Text(item));
      break;
    default:
      break;
  }
  End();
}

void HostCommands::OffThread(std::function<std::function<void()>(extlib::OperationContext&)> work) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto next = std::make_shared<std::function<void()>>();
  next_ = next;
  gather_->Start([work = std::move(work), next](extlib::OperationContext& ctx) {
    *next = work(ctx);
    return 0;
  });
}

void HostCommands::Gathered() {
  QApplication::restoreOverrideCursor();
  std::function<void()> next = next_ ? std::move(*next_) : nullptr;
  next_.reset();
  if (next) {
    next();
  } else {
    End();
  }
}

void HostCommands::End() {
  const uint32_t id = busy_;
  busy_ = 0;
  button_held_ = false;
  if (ping_was_ >= 0) window_->PingAllowed() = ping_was_;
  ping_was_ = -1;
  if (timer_stopped_) window_->StartRefreshTimer();
  timer_stopped_ = false;
  UpdateButton();
  if (id) emit commandEnded(id);
}

void HostCommands::RunLong(const std::string& title, std::function<int(extlib::OperationContext&)> operation,
                           std::function<void(int)> then) {
  run_ = std::make_unique<services::ProgressRun>(window_->CommandParent(), messenger_);
  after_run_ = std::move(then);
  connect(run_.get(), &services::ProgressRun::finished, this, [this](int result) {
    std::function<void(int)> then = std::move(after_run_);
    if (then) then(result);
  });
  run_->Start(title, true, std::move(operation));
}

void HostCommands::Refused(const QModelIndex& host, int row, unsigned reason_item) {
  QApplication::beep();
  tree::CDovraneTreeCtrl* hosts = window_->HostTree();
  const tree::ItemRef ref = trees_->model()->RefOf(host);
  if (ref.valid() && ref.child < 0 && !ref.node->parent && row >= 0 &&
      row < static_cast<int>(static_cast<const tree::HostRecord*>(ref.node)->projects.size())) {
    const auto* record = static_cast<const tree::HostRecord*>(ref.node);
    hosts->ExpandItem(host, true);
    hosts->scrollTo(trees_->model()->ShownIndex({&record->projects[row], -1}), QAbstractItemView::PositionAtTop);
  }
  extlib::ShowMessage(window_->Context(), services::UiText(1, 1) + "\n\n" + services::UiText(1, reason_item), kError);
}

void HostCommands::CheckOutHost(const QModelIndex& host) {
  // The settings that refuse a check-out, before any question is asked.
  if (CheckInUnderWay()) {
    // Checking in again finishes it; a check-out could not begin before.
    return CheckIn(host, window_->HostTree()->GetItemData(host), true);
  }
  if (InstallationCheckedOut()) {
    extlib::ShowMessage(window_->Context(), services::UiText(3, 10) + "\n\n[InstallRoot\\CheckedOutPath]",
                        kError | platform::kMbSetForeground);
    return End();
  }
  window_->StopRefreshTimer();
  timer_stopped_ = true;
  const std::string name = Text(host);
  QPersistentModelIndex kept(host);
  // Whether an earlier check-out of this host was cut short looks at the shares.
  OffThread([this, name, kept](extlib::OperationContext& ctx) {
    const checkout::Unfinished unfinished = checkout::FindUnfinished(ctx, name);
    return std::function<void()>([this, kept, unfinished] { CheckOutAsked(kept, unfinished); });
  });
}

void HostCommands::CheckOutAsked(const QModelIndex& host, checkout::Unfinished unfinished) {
  if (!host.isValid()) return End();
  const std::string name = Text(host);
  bool resume = false;
  if (unfinished == checkout::Unfinished::kCheckout) {
    const int answer = extlib::ShowMessage(window_->Context(), 
        extlib::LanguageTextWith(extlib::kCheckoutTexts, 1, {name}) + "\n\n" +
            extlib::LanguageText(extlib::kCheckoutTexts, 2),
        platform::kMbYesNoCancel | platform::kMbIconWarning | platform::kMbSetForeground);
    if (answer == platform::kIdNo) return TakeBack(name);
    if (answer != platform::kIdYes) return End();
    resume = true;
  } else if (extlib::ShowMessage(window_->Context(), services::UiText(3, 18) + "\n" + services::UiText(3, 19),
                                 platform::kMbYesNo | platform::kMbIconInformation | platform::kMbSetForeground) !=
             platform::kIdYes) {
    return End();
  }
  std::vector<HostChild> children = Children(host);
  QPersistentModelIndex kept(host);
  OffThread([this, name, children, kept, resume](extlib::OperationContext& ctx) {
    std::string containers = OtherUserContainers(ctx);
    HostListResult result = BuildHostList(ctx, HostListPurpose::kCheckOut, name, children, resume);
    return std::function<void()>(
        [this, kept, containers, result, resume] { CheckOutListed(kept, containers, result, resume); });
  });
}

void HostCommands::TakeBack(const std::string& host) {
  std::string net;
  (void)checkout::CheckoutNetFolder(&net);
  button_held_ = true;
  window_->CheckOutButton()->setEnabled(false);
  RunLong(net + "\\*.*", [host](extlib::OperationContext& ctx) { return checkout::TakeBackCheckout(ctx, host); },
          [this, host](int result) {
            button_held_ = false;
            if (result == 1)
              extlib::ShowMessage(window_->Context(), extlib::LanguageText(extlib::kWindowMessageTexts, 1, extlib::LanguageArguments({host})),
                                  platform::kMbOk | platform::kMbIconInformation);
            window_->RefillTrees(window_->DataPath());
            End();
          });
}

void HostCommands::CheckOutListed(const QModelIndex& host, const std::string& containers,
                                  const HostListResult& result, bool finish_cut_short) {
  if (!containers.empty() &&
      extlib::ShowMessage(window_->Context(), services::UiText(3, 15) + "\n" + containers + "\n\n" + services::UiText(3, 16),
                          platform::kMbYesNo | platform::kMbIconWarning | platform::kMbSetForeground) !=
          platform::kIdYes)
    return End();
  if (result.refused_row >= 0) {
    Refused(host, result.refused_row, 2);
    return End();
  }
  std::vector<checkout::CheckoutEntry> list = result.list;
  // No pinging while the person answers the check-out's questions and it runs.
  ping_was_ = window_->PingAllowed().exchange(0);
  checkout::CheckoutAnswers answers;
  answers.finish_cut_short = finish_cut_short;
  std::string net;
  // A check-out the core refuses at once (another computer, one checked out
  // already) asks nothing first.
  if (!list.empty() && platform::EqualsIgnoreCaseCp1252(list[0].host, platform::ComputerName()) &&
      !InstallationCheckedOut() && checkout::CheckoutNetFolder(&net)) {
    answers.comment = checkout::AskCheckoutComment(checkout::kCheckoutHost, "", window_->CommandParent());
    if (!answers.comment) return End();
    answers.components = checkout::AskOfficeStandard(net.substr(0, net.size() - 4), window_->CommandParent());
    if (!answers.components) return End();
  }
  button_held_ = true;
  window_->CheckOutButton()->setEnabled(false);
  RunLong(net + "\\*.*",
          [list, answers, check_out = check_out_](extlib::OperationContext& ctx) {
            return check_out(ctx, checkout::kCheckoutHost, list, answers);
          },
          [this](int result) {
            button_held_ = false;
            if (result == 1) window_->RefillTrees(window_->DataPath());
            window_->RequestRefill();
            End();
          });
}

void HostCommands::CheckIn(const QModelIndex& item, uint32_t kind, bool finishing) {
  const std::string name = Text(item);
  if (kind == tree::kKindProjectOutWithHost) {
    // The project's host: its parent in either tree, or the project tree's host.
    const QModelIndex parent = item.parent();
    const std::string host = parent.isValid() ? Text(parent) : trees_->CurrentHost();
    return OffThread([name, host](extlib::OperationContext& ctx) {
      if (!RefusedWhileCadProgramRuns(ctx)) ReleaseProjectFromHost(ctx, host, name);
      return std::function<void()>();
    });
  }
  std::vector<HostChild> children = Children(item);
  QPersistentModelIndex kept(item);
  window_->StopRefreshTimer();
  timer_stopped_ = true;
  OffThread([this, kind, name, children, kept, finishing](extlib::OperationContext& ctx) {
    // A check-in cut short was compared when it began; its copy may be gone.
    if (!finishing && kind == tree::kKindHostOutFile && !CheckCheckinCompatibility(ctx)) return std::function<void()>();
    if (RefusedWhileCadProgramRuns(ctx) || !NetworkAdministrationThere(ctx)) return std::function<void()>();
    // The marks still set are the ones the check-in had not released yet.
    HostListResult result = BuildHostList(ctx, HostListPurpose::kCheckIn, name, children, finishing);
    return std::function<void()>([this, kept, result, finishing] { CheckInListed(kept, result, finishing); });
  });
}

void HostCommands::CheckInListed(const QModelIndex& host, const HostListResult& result, bool finishing) {
  if (result.refused_row >= 0) {
    Refused(host, result.refused_row, 7);
    return End();
  }
  if (!check_in_) {
    extlib::ShowMessage(window_->Context(), extlib::LanguageText(extlib::kWindowMessageTexts, 2), kError);
    return End();
  }
  std::string net;
  (void)checkout::CheckoutNetFolder(&net);
  button_held_ = true;
  window_->CheckOutButton()->setEnabled(false);
  RunLong(net + "\\*.*",
          [list = result.list, check_in = check_in_](extlib::OperationContext& ctx) { return check_in(ctx, 0, list); },
          [this, finishing](int result) {
            button_held_ = false;
            if (result == 1) ShowCheckinReport(checkout::LastCheckinReport(), finishing);
            window_->RequestRefill();
            End();
          });
}

void HostCommands::ShowCheckinReport(const checkout::CheckinReport& report, bool finished) {
  extlib::ShowMessage(window_->Context(), CheckinReportBoxText(report, finished), platform::kMbOk | platform::kMbIconInformation);
}

std::string CheckinReportBoxText(const checkout::CheckinReport& report, bool finished) {
  // The administrator sees what came back; the whole list stays in the file.
  constexpr size_t kShownLines = 30;
  const std::string host = extlib::LanguageArguments({report.host});
  std::string text = finished ? extlib::LanguageText(extlib::kWindowMessageTexts, 3, host) + "\n\n" : "";
  text += extlib::LanguageText(extlib::kWindowMessageTexts, 4, host) + " ";
  text += extlib::LanguageText(extlib::kWindowMessageTexts, report.lines.empty() ? 5 : 6);
  // The window words the lines in its language; the file keeps them in English.
  for (size_t i = 0; i < report.lines.size() && i < kShownLines; ++i)
    text += "\n" + (i < report.entries.size() ? checkout::ShownReportLine(report.entries[i]) : report.lines[i]);
  if (report.lines.size() > kShownLines)
    text += "\n" + extlib::LanguageText(extlib::kWindowMessageTexts, 7, extlib::LanguageArguments({std::to_string(report.lines.size() - kShownLines)}));
  if (!report.file.empty()) text += "\n\n" + extlib::LanguageText(extlib::kWindowMessageTexts, 8, extlib::LanguageArguments({report.file}));
  return text;
}

void HostCommands::RunPathButton() {
  if (busy_) return;
  busy_ = tree::kCmdAddDataServer;
  AddDataServer(1, true);
}

void HostCommands::AddDataServer(int mode, bool from_path_button) {
  QString path;
  int created = 0;
  if (!browse_ || browse_(&path, window_->CommandParent(), mode, &created) != 1) return End();
  std::string unc;
  if (!services::ToCp1252(path, &unc)) return End();
  OffThread([this, unc, created, from_path_button](extlib::OperationContext& ctx) {
    if (!tree::AddDataServer(ctx, unc, created != 0)) return std::function<void()>();
    // The server part without its "\\": the host the window shows next.
    const std::string server = unc.substr(2, unc.find('\\', 2) == std::string::npos ? std::string::npos
                                                                                    : unc.find('\\', 2) - 2);
    return std::function<void()>([this, server, from_path_button] {
      if (from_path_button) window_->SetDataPath(services::FromCp1252(server));
      window_->RefillTrees(window_->DataPath());
      End();
    });
  });
}

void HostCommands::RemoveHost(const std::string& host) {
  if (extlib::ShowMessage(window_->Context(), services::UiText(1015, 4125, host.c_str()),
                          platform::kMbOkCancel | platform::kMbIconInformation) != platform::kIdOk)
    return End();
  OffThread([this, host](extlib::OperationContext& ctx) {
    if (RefusedWhileCadProgramRuns(ctx, "Pelomar") || !tree::RemoveHost(ctx, host)) return std::function<void()>();
    return std::function<void()>([this] {
      window_->SetDataPath(QString());
      window_->RefillTrees(QString());
      End();
    });
  });
}

}  // namespace dovrane::tree
