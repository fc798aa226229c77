#include "ui/dovrane_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "platform/env.h"
#include "platform/messenger.h"
#include "platform/system_error.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "platform/threads_at_large.h"
#include "services/post_to_qt.h"
#include "services/qt_text_qt.h"
#include "services/tool_message_box.h"
#include "services/ui_text_table.h"
#include "tree/dovrane_tree_ctrl.h"
#include "ui/about_dlg.h"
#include "ui/dialog_switches.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/help_document.h"
#include "ui/window_placement.h"

namespace dovrane::ui {

namespace {

// The window as it opens before a stored placement is applied.
constexpr int kTemplateWidth = 760;
constexpr int kTemplateHeight = 540;
constexpr int kTemplateMargin = 7;
constexpr int kBelowTab = 70;  // the check boxes, the buttons and the status bar
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
constexpr int kRefreshPeriodMs = 4000;
constexpr int kFirstFillDelayMs = 500;
constexpr int kTreeImageCount = 19;
constexpr uint32_t kKindNetworkHost = 0x10000;

CDovraneDlg* g_main_dialog = nullptr;

}  // namespace

CDovraneDlg* MainDialog() { return g_main_dialog; }
void SetMainDialog(CDovraneDlg* dialog) { g_main_dialog = dialog; }

// The closure `work` returns runs in the window's thread, while the window exists.
void CDovraneDlg::StartWorker(std::function<std::function<void()>(extlib::OperationContext&)> work) {
  (void)workers_.Start([work = std::move(work)](services::WorkerRunner::Job& job) { return work(job.context()); });
}

CDovraneDlg::CDovraneDlg(QWidget* parent) : CDovraneDlg(TreeHooks{}, parent) {}

CDovraneDlg::CDovraneDlg(TreeHooks hooks, QWidget* parent)
    : QDialog(parent), hooks_(std::move(hooks)), workers_(services::PostTo(this)) {
  // A "noping" file in the work folder turns pinging off until the settings say otherwise.
  ping_allowed = PingAllowedAtConstruction();
  timer1_.setSingleShot(true);
  timer2_.setSingleShot(true);
  connect(&timer1_, &QTimer::timeout, this, &CDovraneDlg::OnTimer1);
  connect(&timer2_, &QTimer::timeout, this, &CDovraneDlg::OnTimer2);
  InitDialog();
}

CDovraneDlg::~CDovraneDlg() {
  closing = 1;
  // The ping thread ends before the window does.
  StopPinging();
  // A look-up of a reachable disk ends within the runner's grace; one stuck
  // on a hanging share is left to end on its own.
  (void)workers_.Close();
  if (g_main_dialog == this) g_main_dialog = nullptr;
}

void CDovraneDlg::InitDialog() {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setObjectName(QStringLiteral("CDovraneDlg"));
  setAccessibleName(QStringLiteral("Varnholtek Dovranix"));
  resize(kTemplateWidth, kTemplateHeight);
  // Every control of the tab page still fits at this size.
  setMinimumSize(640, 400);

  CreateHelpMenu();

  if (QFile::exists(QStringLiteral(":/icons/dovrane.svg"))) setWindowIcon(QIcon(QStringLiteral(":/icons/dovrane.svg")));
  setWindowTitle(QStringLiteral("Varnholtek Dovranix"));
  const int tab_height = kTemplateHeight - top_ - kBelowTab;
  const int below = top_ + kTemplateMargin + tab_height + kTemplateMargin;
  CreateButtons(below);

  computer_name_ = services::FromCp1252(platform::ComputerName());

  tab_ = new CDovraneTabCtrl(this);
  tab_->setObjectName(QStringLiteral("tab_ctrl"));
  tab_->setAccessibleName(QStringLiteral("Tab control"));
  tab_->setGeometry(kTemplateMargin, top_ + kTemplateMargin, kTemplateWidth - 2 * kTemplateMargin, tab_height);
  tab_->CreatePageControls(&model_);
  CreateStatusBar();

  BuildTreeImages();
  tab_->SetDialog(this);
  tab_->setFocus();
  tab_->InsertTab(services::UiQText(114, services::kUiItemTabCaption));
  tab_->Tabs()->setCurrentIndex(0);
  tab_->ShowPage(0);

  // Margins measured at the template size; the dialog keeps them on resizing.
  margin_ = (kTemplateWidth - tab_->width()) / 2;
  bottom_difference_ = kTemplateHeight - tab_->height();
  previous_width_ = kTemplateWidth;
  previous_height_ = kTemplateHeight;

  CreateSwitches(below);

  if (hooks_.start_ping) {
    ping_running_ = hooks_.start_ping(ping_shared);
    if (!ping_running_) QApplication::beep();  // the window works without pinging
  }
  RestorePlacement();
}

// The window menu's "About" item lives in a Help menu here, in the
// language of the installation's texts. Sets top_, the menu's height.
void CDovraneDlg::CreateHelpMenu() {
  const QString help_text = services::FromCp1252(extlib::LanguageText(extlib::kHelpMenuTexts, 1));
  menu_bar_ = new QMenuBar(this);
  menu_bar_->setAccessibleName(QStringLiteral("Menu"));
  QMenu* help_menu = menu_bar_->addMenu(help_text);
  help_menu->setAccessibleName(QString(help_text).remove(QLatin1Char('&')));
  QAction* help = help_menu->addAction(help_text);
  help->setShortcut(QKeySequence::HelpContents);
  connect(help, &QAction::triggered, this, &CDovraneDlg::OnHelp);
  addAction(help);  // F1 works without opening the menu
  QAction* about = help_menu->addAction(services::FromCp1252(extlib::LanguageText(extlib::kHelpMenuTexts, 2)));
  about->setData(kAboutCommand);
  connect(about, &QAction::triggered, this, &CDovraneDlg::ShowAbout);
  top_ = menu_bar_->sizeHint().height();
  menu_bar_->setGeometry(0, 0, kTemplateWidth, top_);
}

// Check out and Close, in the row below the tab control.
void CDovraneDlg::CreateButtons(int below) {
  check_out_button_ = new QPushButton(services::UiQText(114, 1), this);
  check_out_button_->setGeometry(kTemplateWidth - kTemplateMargin - 2 * kButtonWidth - 6, below, kButtonWidth,
                                 kButtonHeight);
  close_button_ = new QPushButton(services::UiQText(114, 1008), this);
  close_button_->setGeometry(kTemplateWidth - kTemplateMargin - kButtonWidth, below, kButtonWidth, kButtonHeight);
  for (QPushButton* b : {check_out_button_, close_button_}) {
    b->setAutoDefault(false);  // Enter starts no check-out
    b->setAccessibleName(b->text().remove(QLatin1Char('&')));
  }
  check_out_button_->setEnabled(false);
  connect(check_out_button_, &QPushButton::clicked, this, &CDovraneDlg::OnCheckOut);
  connect(close_button_, &QPushButton::clicked, this, &CDovraneDlg::OnClose);
}

// The refresh and ping switches, as stored, in the row below the tab control.
void CDovraneDlg::CreateSwitches(int below) {
  refresh_check_ = new QCheckBox(services::UiQText(114, 1024), this);
  ping_check_ = new QCheckBox(services::UiQText(114, 1030), this);
  refresh_check_->move(10, below);
  ping_check_->move(10 + refresh_check_->sizeHint().width() + 20, below);
  for (QCheckBox* box : {refresh_check_, ping_check_}) {
    box->resize(box->sizeHint());
    box->setAccessibleName(box->text().remove(QLatin1Char('&')));
  }
  refresh_check_->setChecked(true);
  DialogSwitches stored = ReadStoredSwitches({ping_allowed.load(), 1});
  ping_allowed = stored.ping_allowed;
  ping_check_->setChecked(stored.ping_allowed == 1);
  refresh_check_->setChecked(stored.refresh_checked == 1);
  // Toggled, not clicked: the box's accessible Toggle action (a screen reader,
  // AT-SPI) changes its state without a click.
  connect(ping_check_, &QCheckBox::toggled, this, [this](bool checked) {
    ping_allowed = checked ? 1 : 0;
    if (checked) ping_changed = 1;
  });
}

void CDovraneDlg::CreateStatusBar() {
  status_bar_ = new QStatusBar(this);
  status_bar_->setSizeGripEnabled(true);
  status_bar_->setAccessibleName(QStringLiteral("Status bar"));
  status_bar_->setGeometry(2, kTemplateHeight - 22, kTemplateWidth - 4, 20);
  for (int i = 0; i < 3; ++i) {
    auto* part = new QLabel(status_bar_);
    // A screen reader reads a label's text as its name: the part says what it is
    // in its description.
    part->setAccessibleDescription(QStringLiteral("Status part %1").arg(i));
    status_bar_->addWidget(part, i == 2 ? 1 : 0);
    status_parts_.append(part);
  }
  const int w = status_bar_->fontMetrics().horizontalAdvance(computer_name_) + 4;
  status_parts_[0]->setFixedWidth(w);
  status_parts_[1]->setFixedWidth(w);
  status_parts_[0]->setText(computer_name_);
  status_parts_[1]->setText(QStringLiteral(" "));
}

void CDovraneDlg::SetStatusParts(const QStringList& texts) {
  const int count = std::clamp(static_cast<int>(texts.size()), 2, 3);
  const QFontMetrics metrics = status_bar_->fontMetrics();
  // Each edge lies past its text: part 0 plus 8, part 1 plus 16; the last part
  // takes the rest.
  const int gaps[] = {8, 16};
  for (int i = 0; i < 3; ++i) {
    QLabel* part = status_parts_[i];
    part->setVisible(i < count);
    part->setText(i < texts.size() ? texts[i] : QString());
    if (i < count - 1) {
      part->setFixedWidth(metrics.horizontalAdvance(part->text()) + gaps[i]);
    } else {
      part->setMinimumWidth(0);
      part->setMaximumWidth(QWIDGETSIZE_MAX);
    }
  }
  status_bar_->layout()->invalidate();
}

QStringList CDovraneDlg::StatusTexts() const {
  QStringList texts;
  for (QLabel* part : status_parts_)
    if (!part->isHidden()) texts.append(part->text());
  return texts;
}

void CDovraneDlg::ShowItemInStatusBar(tree::CDovraneTreeCtrl* tree, const QModelIndex& item) {
  if (!tree) {
    const QString path = tab_->GetDataPath();
    SetStatusParts({path.isEmpty() ? computer_name_ : path, QStringLiteral("   "), QStringLiteral("   ")});
    return;
  }
  SetStatusParts(hooks_.status_texts ? hooks_.status_texts(tree, item) : QStringList{QString(), QString(), QString()});
}

void CDovraneDlg::BuildTreeImages() {
  // Images 0 to 18, by the index the tree logic uses; the icon engine draws
  // them sharp at every scale.
  tree_images_.clear();
  for (int i = 0; i < kTreeImageCount; ++i) {
    const QString name = QStringLiteral(":/icons/tree/%1.svg").arg(i, 2, 10, QLatin1Char('0'));
    tree_images_.append(QFile::exists(name) ? QIcon(name) : QIcon());
  }
}

void CDovraneDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Shown by the program (not a return from the minimised state): fill soon.
  if (!event->spontaneous()) timer2_.start(kFirstFillDelayMs);
}

void CDovraneDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!tab_) return;
  // The minimum size is only a hint to a window manager; without one (or
  // with one that ignores it, or a client that resizes the window) the
  // window is made smaller all the same. The controls are then laid out as
  // at the minimum, and the window is given back its minimum size.
  const int w = std::max(width(), minimumWidth());
  const int h = std::max(height(), minimumHeight());
  if (w != width() || h != height()) {
    QTimer::singleShot(0, this, [this] {
      if (width() < minimumWidth() || height() < minimumHeight())
        resize(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
    });
  }
  int dw = 0;
  int dh = 0;
  if (w != 0 && h != 0) {
    dw = w - previous_width_;
    dh = h - previous_height_;
    previous_width_ = w;
    previous_height_ = h;
  }
  menu_bar_->setGeometry(0, 0, w, top_);
  tab_->setGeometry(margin_, top_ + margin_, w - 2 * margin_, h - bottom_difference_);
  tab_->lower();
  close_button_->move(close_button_->pos() + QPoint(dw, dh));
  check_out_button_->move(check_out_button_->pos() + QPoint(dw, dh));
  const int below = top_ + margin_ + tab_->height() + margin_;
  refresh_check_->move(refresh_check_->x(), below);
  ping_check_->move(ping_check_->x(), below);
  status_bar_->setGeometry(2, h - 22, w - 4, 20);
}

void CDovraneDlg::OnTimer1() {
  timer1_.stop();
  if (refresh_check_->isChecked() || ping_changed != 0) {
    RefreshCheck(ping_changed.exchange(0));
    return;
  }
  timer1_.start(kRefreshPeriodMs);
}

void CDovraneDlg::StartRefreshTimer() {
  if (!closing) timer1_.start(kRefreshPeriodMs);
}

void CDovraneDlg::OnTimer2() {
  timer2_.stop();
  StartProbe(ProbePurpose::kFirstFill, 0);
}

void CDovraneDlg::RefreshCheck(int ping_changed_value) {
  if (probe_running_) {
    // One check at a time: a share that hangs must not pile up look-ups.
    pending_check_ = std::max(pending_check_, ping_changed_value);
    return;
  }
  StartProbe(ProbePurpose::kCheck, ping_changed_value);
}

void CDovraneDlg::OnRefreshButton() { StartProbe(ProbePurpose::kFirstFill, 0); }

void CDovraneDlg::StartProbe(ProbePurpose purpose, int ping_changed_value) {
  if (closing) return;
  RefreshRequest request;
  request.net_folder = extlib::lfinigC(context_, extlib::kSlotNet);
  (void)services::ToCp1252(tab_->GetDataPath(), &request.data_path);  // host names are plain ASCII
  if (purpose == ProbePurpose::kCheck && hooks_.snapshot) hooks_.snapshot(&request);
  request.tree_generation = tree_generation_;
  if (purpose == ProbePurpose::kCheck) probe_running_ = true;
  StartWorker([this, purpose, ping_changed_value, request = std::move(request)](extlib::OperationContext& ctx) {
    RefreshProbe probe = ProbeRefresh(ctx, request);
    return std::function<void()>([this, purpose, ping_changed_value, request, probe = std::move(probe)] {
      ApplyProbe(purpose, ping_changed_value, request, probe);
    });
  });
}

void CDovraneDlg::ApplyProbe(ProbePurpose purpose, int ping_changed_value, const RefreshRequest& request,
                             const RefreshProbe& probe) {
  if (purpose == ProbePurpose::kCheck) probe_running_ = false;
  if (closing) return;
  if (purpose != ProbePurpose::kCheck) {
    // The time stamp is taken before the trees read the administration, so a
    // change between the two is seen by the next check.
    refresh_state_.RecordTimeStamp(probe);
    RefillTrees(computer_name_);
    timer1_.start(kRefreshPeriodMs);
    return;
  }
  const bool same_trees = request.tree_generation == tree_generation_;
  RefreshAction action =
      refresh_state_.Decide(request, probe, ping_changed_value, outside_change.load(), same_trees);
  if (action == RefreshAction::kRefillAfterBeep) QApplication::beep();
  if (action != RefreshAction::kNone) RefillTrees(tab_->GetDataPath());
  emit RefreshCheckDone(static_cast<int>(action));
  if (pending_check_ >= 0) {
    const int next = pending_check_;
    pending_check_ = -1;
    StartProbe(ProbePurpose::kCheck, next);
    return;
  }
  timer1_.start(kRefreshPeriodMs);
}

void CDovraneDlg::RefillTrees(const QString& data_path) {
  ++tree_generation_;
  if (hooks_.refill) {
    hooks_.refill(data_path);
  } else {
    ShowItemInStatusBar(nullptr, {});
  }
  if (!hooks_.refill_is_async) emit TreesFilled();
}

void CDovraneDlg::OnCheckOut() {
  check_out_button_->setEnabled(false);
  // No pinging while the host is checked out or in; the user's choice comes back after.
  const int was_allowed = ping_allowed.exchange(0);
  const uint32_t kind = hooks_.selected_host_kind ? hooks_.selected_host_kind() : 0;
  if (hooks_.host_command) {
    char path[260];
    if (extlib::RVSYS_VekRegGetString("HKLM", "InstallRoot\\CheckingInPath", path, sizeof path) & 0xFF) {
      // A check-in cut short: checking in again finishes it, whatever the
      // host's item shows meanwhile.
      hooks_.host_command(kCheckInCommand);
    } else if ((kind == kKindAdminHostCheckedOut || kind == kKindHostCheckedOut) &&
               (extlib::RVSYS_VekRegGetString("HKLM", "InstallRoot\\CheckedOutPath", path, sizeof path) & 0xFF)) {
      hooks_.host_command(kCheckInCommand);
    } else if (kind == kKindNetworkHost || kind == kKindHostCheckedOut) {
      // Shown as checked out while this computer does not work on its copy:
      // a check-out cut short, which the command finishes or takes back.
      hooks_.host_command(kCheckOutCommand);
    } else if (kind == kKindHostNoAnswer) {
      // A button that does nothing says why.
      extlib::ShowMessage(context_, extlib::LanguageText(extlib::kWindowMessageTexts, 9),
                          platform::kMbOk | platform::kMbIconInformation);
    }
  }
  ping_allowed = was_allowed;
  check_out_button_->setEnabled(true);
}

void CDovraneDlg::OnHelp() {
  // The help folder may lie on a share: found and looked at off this thread.
  StartWorker([this](extlib::OperationContext& ctx) {
    std::string path;
    const bool found = HelpDocumentPath(ctx, &path);
    platform::FileInfo info;
    const bool exists = found && ctx.Env().Stat(path, &info) == 0 && info.type == platform::EntryType::kFile;
    return std::function<void()>([this, found, path, exists] { ApplyHelp(found, path, exists); });
  });
}

void CDovraneDlg::ApplyHelp(bool found, const std::string& path, bool exists) {
  if (!found) return;  // no help folder: F1 does nothing
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool opened = exists && QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  QApplication::restoreOverrideCursor();
  if (opened) return;
  std::string upper;
  (void)services::ToCp1252(QString::fromStdString(path).toUpper(), &upper);  // shown, '?' where it must
  const std::string reason = exists ? extlib::LanguageText(extlib::kWindowMessageTexts, 10) : platform::SystemErrorText(ENOENT);
  services::ToolMessageBox(context_, services::kMessageError, "%s\n\n%s", upper.c_str(), reason.c_str());
}

void CDovraneDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CDovraneDlg::StopPinging() {
  if (stopped_) return;
  stopped_ = true;
  stop = 1;
  if (ping_running_ && hooks_.stop_ping) hooks_.stop_ping();
  ping_running_ = false;
}

void CDovraneDlg::SavePlacementAndSwitches() {
  // A maximised or minimised window leaves the stored placement as it was.
  if (!isMinimized() && !isMaximized()) {
    WindowPlacement current;
    current.left = x();
    current.top = y();
    current.right = x() + width();
    current.bottom = y() + height();
    WindowPlacement stored = LoadWindowPlacement(current);
    stored.show_cmd = kShowNormal;
    stored.left = current.left;
    stored.top = current.top;
    stored.right = current.right;
    stored.bottom = current.bottom;
    SaveWindowPlacement(stored);
  }
  SaveSwitches({ping_check_->isChecked() ? 1 : 0, refresh_check_->isChecked() ? 1 : 0});
}

void CDovraneDlg::RestorePlacement() {
  WindowPlacement current;
  current.left = x();
  current.top = y();
  current.right = x() + width();
  current.bottom = y() + height();
  const WindowPlacement stored = LoadWindowPlacement(current);
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect all = screen->virtualGeometry();
  if (!PlacementOnScreen(stored, all.left(), all.top(), all.left() + all.width(), all.top() + all.height())) return;
  move(stored.left, stored.top);
  resize(stored.right - stored.left, stored.bottom - stored.top);
  if (stored.show_cmd == kShowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void CDovraneDlg::EndDialog() {
  timer1_.stop();
  timer2_.stop();
  done(QDialog::Rejected);
}

void CDovraneDlg::OnClose() {
  closing = 1;
  StopPinging();
  SavePlacementAndSwitches();
  EndDialog();
}

void CDovraneDlg::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closing) return;  // already ended by the close button
  closing = 1;
  SavePlacementAndSwitches();
  EndDialog();
}

tree::CDovraneTreeCtrl* CDovraneDlg::HostTree() const { return tab_->HostTree(); }

tree::CDovraneTreeCtrl* CDovraneDlg::ProjectTree() const { return tab_->ProjectTree(); }

QString CDovraneDlg::DataPath() const { return tab_->GetDataPath(); }

void CDovraneDlg::SetDataPath(const QString& host) { tab_->SetDataPath(host, true); }

void CDovraneDlg::RequestRefill() { tab_->RequestRefill(); }

void CDovraneDlg::RefreshCheckAfterChange() {
  // The check refills whatever its time stamp says: the change is the window's own.
  refresh_state_.RequestRefill();
  RefreshCheck(0);
}

}  // namespace dovrane::ui
