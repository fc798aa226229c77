#include "ui/main_window_qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <cstdio>

#include "checkout/checkin.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "platform/text_codec.h"
#include "services/qt_text_qt.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/host_commands_qt.h"
#include "tree/item_checks.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"
#include "tree/tree_commands_qt.h"
#include "tree/tree_transfer_qt.h"
#include "ui/bm_button_ctrl.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/search_dlg.h"

namespace dovrane::ui {

MainWindow::MainWindow() : trees_(std::make_unique<tree::ProjectTrees>()) {
  previous_messenger_ = platform::SetCurrentMessenger(&messenger_);
  dialog_ = std::make_unique<CDovraneDlg>(Hooks());
  CDovraneTabCtrl* tab = dialog_->TabCtrl();
  trees_->AttachViews(tab->HostTree(), tab->ProjectTree());
  commands_ = std::make_unique<tree::TreeCommands>(dialog_.get(), trees_.get(), &messenger_);
  trees_->SetPingAllowed(dialog_->ping_allowed != 0);
  trees_->SetPingPublisher([this](std::vector<std::string> names) { return dialog_->ping_shared.Publish(std::move(names)); });
  // The window's data path follows the host the trees show.
  QObject::connect(trees_.get(), &tree::ProjectTrees::currentHostChanged, dialog_.get(),
                   [this](const QString& host) { dialog_->TabCtrl()->SetDataPath(host, true); });
  QObject::connect(trees_.get(), &tree::ProjectTrees::statusBarTextsChanged, dialog_.get(),
                   [this](const QStringList& parts) { dialog_->SetStatusParts(parts); });
  // A fill ends when the model holds the new table, not when it was asked for.
  QObject::connect(trees_.get(), &tree::ProjectTrees::refilled, dialog_.get(), &CDovraneDlg::TreesFilled);
  QObject::connect(dialog_->PingCheckBox(), &QCheckBox::toggled, trees_.get(),
                   [this](bool on) { trees_->SetPingAllowed(on); });
  transfer_ = std::make_unique<tree::TreeTransfer>(trees_.get(), dialog_.get(), &messenger_);
  commands_->SetTransferHandler([this](uint32_t id, QModelIndex item) { transfer_->Run(id, item); });
  commands_->SetTransferPending([this] { return transfer_->TransferPending(); });
  host_commands_ = std::make_unique<tree::HostCommands>(dialog_.get(), trees_.get(), &messenger_);
  host_commands_->SetCheckIn([](extlib::OperationContext& ctx, int mode, const std::vector<checkout::CheckoutEntry>& list) {
    return checkout::CheckIn(ctx, mode, list);
  });
  commands_->SetHostCommandHandler([this](uint32_t id, QModelIndex item) { host_commands_->Run(id, item); });
  tab->SetCommand(CDovraneTabCtrl::kNewProjectButton, [this] { commands_->RunNewProjectButton(); });
  tab->SetCommand(CDovraneTabCtrl::kSearchButton, [this] { StartSearch(); });
  tab->SetCommand(CDovraneTabCtrl::kPathButton, [this] { host_commands_->RunPathButton(); });
}

void MainWindow::StartSearch() {
  if (search()) return;
  CDovraneTabCtrl* tab = dialog_->TabCtrl();
  CBmButton* button = tab->Button(CDovraneTabCtrl::kSearchButton);
  if (button) button->setEnabled(false);
  dialog_->StopRefreshTimer();
  // The box is centred on the window and lives for this one search; the
  // last one ended outside its own signal, so it may go now.
  search_ = std::make_unique<TreeSearch>(tab->HostTree(), dialog_.get());
  QObject::connect(search_.get(), &TreeSearch::finished, dialog_.get(), [this, button](const QModelIndex&, bool beep) {
    if (beep) QApplication::beep();  // empty text, or no (further) match
    dialog_->StartRefreshTimer();
    if (button) button->setEnabled(true);
  });
  std::string text;
  const QString typed = tab->SearchEdit()->text().left(256);
  // A character no name can hold matches nothing: an empty search ends at once, with the beep.
  if (!services::ToCp1252(typed, &text)) text.clear();
  // Every host, project and child item has a bit of this mask.
  search_->Start(text, 0x11111111);
}

MainWindow::~MainWindow() {
  // Questions still waiting on workers are answered before the window goes.
  messenger_.Shutdown();
  // A worker left behind that asks the process's messenger asks the terminal's.
  platform::SetCurrentMessenger(previous_messenger_);
  if (ping_) ping_->Stop();
  search_.reset();  // its box hangs on the host tree
  // The commands' workers end before the window they report to.
  commands_.reset();
  transfer_.reset();
  host_commands_.reset();
  dialog_.reset();
  trees_.reset();
}

CDovraneDlg::TreeHooks MainWindow::Hooks() {
  CDovraneDlg::TreeHooks hooks;
  hooks.refill = [this](const QString& data_path) {
    std::string host;
    (void)services::ToCp1252(data_path, &host);  // host names are plain ASCII
    trees_->Refill(host);
  };
  hooks.refill_is_async = true;
  hooks.snapshot = [this](RefreshRequest* request) {
    // The top-level items of both trees: a project locked or released from
    // outside changes no administration time stamp, only its lock file.
    tree::CDovraneTreeCtrl* hosts = dialog_->TabCtrl()->HostTree();
    for (QModelIndex item = hosts->GetRootItem(); item.isValid(); item = hosts->GetNextSiblingItem(item))
      request->hosts.push_back({hosts->GetItemText(item), hosts->GetItemData(item)});
    tree::CDovraneTreeCtrl* projects = dialog_->TabCtrl()->ProjectTree();
    for (QModelIndex item = projects->GetRootItem(); item.isValid(); item = projects->GetNextSiblingItem(item))
      request->projects.push_back({projects->GetItemText(item), projects->GetItemData(item)});
    // Asked on the refresh check's worker, quietly, in the program's installation.
    request->project_kind = [](const std::string& text, const std::string& data_path) {
      extlib::OperationContext ctx(extlib::ProcessInstallation());
      return tree::ProjectKindNow(ctx, text, data_path);
    };
  };
  hooks.status_texts = [this](tree::CDovraneTreeCtrl*, const QModelIndex& item) {
    return trees_->StatusBarTexts(item);
  };
  hooks.selected_host_kind = [this]() -> uint32_t {
    tree::CDovraneTreeCtrl* hosts = dialog_->TabCtrl()->HostTree();
    const QModelIndex item = hosts->GetSelectedItem();
    return item.isValid() ? hosts->GetItemData(item) : 0;
  };
  hooks.host_command = [this](int command) {
    if (!host_commands_) return;
    host_commands_->RunOnSelectedHost(command);
    // The button handler enables the button when it returns; the selection decides.
    QMetaObject::invokeMethod(host_commands_.get(), &tree::HostCommands::UpdateButton, Qt::QueuedConnection);
  };
  hooks.start_ping = [this](PingShared& shared) {
    ping_ = std::make_unique<PingThread>(shared);
    if (ping_->Start()) return true;
    // The window beeps; the reason goes where the program's messages go.
    std::fprintf(stderr, "dovrane: hosts are not pinged: no thread could be started for it\n");
    ping_.reset();
    return false;
  };
  hooks.stop_ping = [this] {
    if (ping_) ping_->Stop();
  };
  return hooks;
}

}  // namespace dovrane::ui
