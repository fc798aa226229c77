#include "tree/tree_commands_qt.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "app/projects/command_audit.h"
#include "app/projects/project_commands.h"
#include "app/projects/project_error.h"
#include "checkout/checkout.h"
#include "checkout/checkout_comment_dlg.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/gui_messenger_qt.h"
#include "services/operation_worker_qt.h"
#include "services/progress_run_qt.h"
#include "services/qt_text_qt.h"
#include "services/ui_text_table.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_checks.h"
#include "tree/project_rename.h"
#include "tree/project_trees_qt.h"
#include "tree/properties_dlg.h"
#include "tree/tree_command_work.h"
#include "tree/tree_window_qt.h"

namespace dovrane::tree {

using namespace tree;  // the item kinds and command identifiers

namespace {

// A free project whose directory cannot be reached.
constexpr uint32_t kUnreachableProject = 273;

bool IsProjectKind(uint32_t kind) {
  return kind == kKindProject || kind == kKindProjectInUse || kind == kKindProjectOut ||
         kind == kKindProjectOutWithHost;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Commands that write the administration or a shared folder: one at a time.
bool Writes(uint32_t id) {
  return id != kCmdProperties && id != kCmdMarkMove && id != kCmdMarkCopy;
}

// Commands that show the progress window.
bool ShowsProgress(uint32_t id) { return id == kCmdProperties || id == kCmdDelete; }

}  // namespace

// What a command acts on: the item, its kind and text, and its host.
struct TreeCommands::Target {
  QPersistentModelIndex item;
  uint32_t kind = 0;
  std::string text;  // trimmed, Windows-1252
  std::string host;
};

TreeCommands::TreeCommands(TreeWindow* window, ProjectTrees* trees, services::GuiMessenger* messenger, QObject* parent)
    : QObject(parent),
      window_(window),
      trees_(trees),
      messenger_(messenger),
      short_worker_(std::make_unique<services::OperationWorker>(messenger)),
      long_run_(std::make_unique<services::ProgressRun>(window->CommandParent(), messenger)) {
  connect(short_worker_.get(), &services::OperationWorker::finished, this, [this](int result) {
    const uint32_t id = short_id_;
    short_id_ = 0;
    if (auto done = std::move(short_done_)) done(result);
    emit commandFinished(id, result);
  });
  connect(long_run_.get(), &services::ProgressRun::finished, this, [this](int result) {
    const uint32_t id = long_id_;
    long_id_ = 0;
    if (auto done = std::move(long_done_)) done(result);
    emit commandFinished(id, result);
  });
  Attach(window_->HostTree());
  Attach(window_->ProjectTree());
}

void TreeCommands::RunNewProjectButton() {
  if (Enabled(kCmdNewProject)) NewProject(nullptr, DataPathHost());
}

TreeCommands::~TreeCommands() = default;

void TreeCommands::Attach(CDovraneTreeCtrl* tree) {
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint& pos) {
    ContextMenu(tree, pos, QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier);
  });
  connect(tree, &CDovraneTreeCtrl::labelEditEnded, this,
          [this, tree](const QPersistentModelIndex& item, const QString& text, bool committed) {
            EndLabelEdit(tree, item, text, committed);
          });
  tree->installEventFilter(this);
}

bool TreeCommands::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) {
    auto* tree = qobject_cast<CDovraneTreeCtrl*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    if (tree && !key->isAutoRepeat() && !tree->EditingLabel()) OnKey(tree, key->key());
  }
  return QObject::eventFilter(watched, event);
}

void TreeCommands::OnKey(CDovraneTreeCtrl* tree, int key) {
  const QModelIndex item = tree->GetSelectedItem();
  switch (key) {
    case Qt::Key_Delete:
      if (item.isValid() && tree->GetItemData(item) == kKindProject && Enabled(kCmdDelete)) Delete(tree, item);
      break;
    case Qt::Key_F2:
      if (!item.isValid()) break;
      if (HostCheckedOut(HostOf(tree, item))) QApplication::beep();
      else if (Enabled(kCmdRename)) BeginLabelEdit(tree, item);
      break;
    case Qt::Key_F5:
      window_->RefillTrees(window_->DataPath());
      break;
    default:
      break;
  }
}

std::string TreeCommands::HostOf(CDovraneTreeCtrl* tree, const QModelIndex& item) const {
  const uint32_t kind = item.isValid() ? tree->GetItemData(item) : 0;
  if (item.isValid() && !IsProjectKind(kind) && kind != kUnreachableProject) return tree->GetItemText(item);
  if (tree->Role() == 1 && item.isValid()) return tree->GetItemText(tree->GetParentItem(item));
  return DataPathHost();
}

std::string TreeCommands::DataPathHost() const {
  std::string host;
  (void)services::ToCp1252(window_->DataPath(), &host);  // host names are plain ASCII
  return host;
}

bool TreeCommands::HostCheckedOut(const std::string& host) const {
  // The trees' checks keep this current; the window's thread never looks at the disk.
  const HostRecord* record = trees_->model()->table().FindHost(host);
  return record && record->checked_out;
}

TreeCommands::Target TreeCommands::TargetOf(CDovraneTreeCtrl* tree, const QModelIndex& item) const {
  Target target;
  target.item = item;
  if (item.isValid()) {
    target.kind = tree->GetItemData(item);
    target.text = Trimmed(tree->GetItemText(item));
  }
  target.host = HostOf(tree, item);
  return target;
}

std::vector<MenuEntry> TreeCommands::MenuEntries(CDovraneTreeCtrl* tree, bool ctrl_held) const {
  const QModelIndex item = tree->GetSelectedItem();
  const TreeRole role = tree->Role() == 1 ? TreeRole::kHostTree : TreeRole::kProjectTree;
  const bool clicked_empty = role == TreeRole::kHostTree && host_tree_clicked_empty_;
  const uint32_t kind = MenuKind(role, clicked_empty, item.isValid(), tree->GetItemData(item));
  const bool on_item = item.isValid() && !clicked_empty;
  // The project tree's empty area stands for the current host.
  const std::string text = on_item ? Trimmed(tree->GetItemText(item)) : DataPathHost();
  const std::string computer = platform::ComputerName();
  MenuConditions c;
  c.role = role;
  c.ctrl_held = ctrl_held;
  c.transfer_pending = transfer_pending_ && transfer_pending_();
  c.named_like_computer = platform::EqualsIgnoreCaseCp1252(text, computer);
  const std::string host = HostOf(tree, on_item ? item : QModelIndex());
  c.project_host_checked_out = HostCheckedOut(host);
  const HostRecord* host_record = trees_->model()->table().FindHost(host);
  c.host_free = host_record && !host_record->checked_out;
  c.computer_in_host_tree = trees_->model()->table().FindHost(computer) != nullptr;
  std::vector<MenuEntry> entries = ContextMenuEntries(kind, c);
  for (MenuEntry& entry : entries) {
    if (entry.id != 0 && !Enabled(entry.id)) entry.enabled = false;
  }
  return entries;
}

void TreeCommands::ContextMenu(CDovraneTreeCtrl* tree, const QPoint& pos, bool ctrl_held) {
  // A request while a menu of the tree is still open is ignored.
  if (menu_tree_) return;
  const QModelIndex hit = tree->indexAt(pos);
  if (hit.isValid()) {
    tree->SelectItem(hit);
    if (tree->Role() == 1) host_tree_clicked_empty_ = false;
  } else if (tree->Role() == 0) {
    tree->selectionModel()->clear();
  } else {
    host_tree_clicked_empty_ = true;
  }
  const std::vector<MenuEntry> entries = MenuEntries(tree, ctrl_held);
  if (entries.empty()) return;  // an unreachable project has no commands: no empty popup
  QMenu menu(tree);
  // Named after its tree, as a screen reader announces it.
  menu.setTitle(tree->Role() == 1 ? QStringLiteral("Host tree menu") : QStringLiteral("Project tree menu"));
  menu.setAccessibleName(menu.title());
  const std::string computer = platform::ComputerName();
  for (const MenuEntry& entry : entries) {
    if (entry.id == 0) {
      menu.addSeparator();
      continue;
    }
    const QString text = services::UiQText(entry.group, entry.item, entry.id == kCmdAddLocalComputer ? computer.c_str() : nullptr);
    QAction* action = menu.addAction(text);
    // The whole 32-bit identifier: 2069 and 0xFFFF0815 are different commands.
    action->setData(QVariant::fromValue<uint32_t>(entry.id));
    action->setEnabled(entry.enabled);
  }
  // An item pressed through the accessibility interface is triggered without
  // closing the menu, and exec() would not return it: the choice is taken
  // from the signal, and the menu closed, whichever way the item was pressed.
  QAction* chosen = nullptr;
  connect(&menu, &QMenu::triggered, &menu, [&menu, &chosen](QAction* action) {
    chosen = action;
    menu.close();
  });
  // The command is for the row the menu was opened on: the current row may
  // change while the menu is open (a focus coming back sets one).
  const QPersistentModelIndex target(hit);
  menu_tree_ = tree;
  QAction* returned = menu.exec(tree->viewport()->mapToGlobal(pos));
  menu_tree_ = nullptr;
  if (!chosen) chosen = returned;
  if (!chosen || !chosen->isEnabled()) return;
  if (hit.isValid() && !target.isValid()) return QApplication::beep();  // the row went with a refill
  RunCommand(tree, chosen->data().value<uint32_t>(), target);
}

bool TreeCommands::Enabled(uint32_t id) const {
  // One progress window; writes one at a time, and not beside the size of a
  // folder they might change.
  if (ShowsProgress(id) && long_id_ != 0) return false;
  return !Writes(id) || (short_id_ == 0 && long_id_ == 0);
}

bool TreeCommands::Busy() const { return short_id_ != 0 || long_id_ != 0; }

void TreeCommands::RunCommand(CDovraneTreeCtrl* tree, uint32_t id) {
  QModelIndex item = tree->GetSelectedItem();
  if (tree->Role() == 1 && host_tree_clicked_empty_) item = QModelIndex();
  RunCommand(tree, id, item);
}

void TreeCommands::RunCommand(CDovraneTreeCtrl* tree, uint32_t id, const QModelIndex& item) {
  if (!Enabled(id)) return;
  const uint32_t kind = item.isValid() ? tree->GetItemData(item) : 0;
  switch (id) {
    case kCmdProperties:
      Properties(tree, item);
      break;
    case kCmdMarkMove:
    case kCmdMarkCopy:
    case kCmdPaste:
      if (transfer_handler_) transfer_handler_(id, item);
      break;
    case kCmdDelete:
      if (kind == kKindProject) Delete(tree, item);
      break;
    case kCmdRename:
      if (item.isValid()) BeginLabelEdit(tree, item);
      break;
    case kCmdNewProject:
      NewProject(tree, HostOf(tree, item));
      break;
    case kCmdCheckOutProject:
      if (kind == kKindProject) CheckOutProject(tree, item);
      break;
    case kCmdCheckInProject:
      if (kind != kKindProjectOut) break;
      if (!tree->ItemHasChildren(item)) QApplication::beep();
      else CheckInProject(tree, item);
      break;
    case kCmdDeleteLockFile:
      // A refill since the menu opened may show the row unchecked; the command
      // itself looks whether a session holds the file.
      if (kind == kKindProjectInUse || kind == kKindProject) DeleteLockFile(item);
      break;
    case kCmdDeleteHostCheckoutFile:
      if (kind == kKindHostOutFile) DeleteHostCheckoutFile(Trimmed(tree->GetItemText(item)));
      break;
    case kCmdCheckInHost:
    case kCmdCheckOutHost:
    case kCmdAddDataServer:
    case kCmdRemoveHost:
    case kCmdAddLocalComputer:
      if (host_handler_) host_handler_(id, item);
      break;
    default:
      break;
  }
}

bool TreeCommands::RunShort(uint32_t id, std::function<int(extlib::OperationContext&)> op,
                            std::function<void(int)> done) {
  if (short_id_ != 0) return false;
  short_id_ = id;
  short_done_ = std::move(done);
  if (!short_worker_->Start(std::move(op))) {
    short_id_ = 0;
    short_done_ = nullptr;
    return false;
  }
  return true;
}

bool TreeCommands::RunLong(uint32_t id, const std::string& title, bool cancellable,
                           std::function<int(extlib::OperationContext&)> op, std::function<void(int)> done) {
  if (long_id_ != 0) return false;
  long_id_ = id;
  long_done_ = std::move(done);
  if (!long_run_->Start(title, cancellable, std::move(op))) {
    long_id_ = 0;
    long_done_ = nullptr;
    return false;
  }
  return true;
}

void TreeCommands::ShowChange() {
  // The check refills whatever its time stamp says: the change is the window's own.
  window_->RefreshCheckAfterChange();
}

void TreeCommands::Properties(CDovraneTreeCtrl* tree, const QModelIndex& selected) {
  QModelIndex item = selected;
  if (!item.isValid() && tree->Role() == 0) {
    item = trees_->model()->HostIndex(DataPathHost());
  }
  if (!item.isValid()) return;
  const Target target = TargetOf(tree, item);
  PropertiesRequest request;
  request.kind = target.kind;
  request.name = target.text;
  request.host = target.host;
  if (target.kind == kKindProject || target.kind == kKindProjectInUse) {
    if (!tree->ItemHasChildren(item)) return;
  } else if (target.kind == kKindHost || target.kind == kKindLocalHost) {
    // Every project of the host, shown or not.
    const tree::ItemRef host_ref = trees_->model()->RefOf(item);
    request.children = host_ref.valid() && !host_ref.node->parent
                           ? static_cast<int>(static_cast<const tree::HostRecord*>(host_ref.node)->projects.size())
                           : trees_->model()->rowCount(item);
    const QModelIndex first = trees_->model()->index(0, 0, item);
    if (first.isValid()) {
      request.first_child_kind = first.data(ProjectTreeModel::kKindRole).toUInt();
      request.first_project = Trimmed(tree->GetItemText(first));
    }
  } else if (target.kind == kKindProjectOut || target.kind == kKindProjectOutWithHost) {
    request.host = HostOf(tree, item);
  } else if (target.kind != kKindHostOut && target.kind != kKindHostOutFile) {
    return;
  }
  auto result = std::make_shared<PropertiesResult>();
  request.ping = ping_;
  request.ping_allowed = window_->PingAllowed().load() != 0;
  RunLong(kCmdProperties, services::UiText(111, 1010), true,
          [request, result](extlib::OperationContext& ctx) { return GatherProperties(ctx, request, result.get()); },
          [this, result](int) {
            // Cancelled and its window gone long ago: no figures pop up later.
            if (!long_run_->WindowGoneOnCancel()) ShowProperties(*result);
          });
}

void TreeCommands::ShowProperties(const PropertiesResult& result) {
  if (result.host_without_projects) {
    // The plain box of a host without projects.
    char text[1024];
    std::snprintf(text, sizeof text, "%s    %s\n\n%-10s%s\n\n%s %d", services::UiText(1, 8).c_str(),
                  services::UiText(1, result.local_host ? 14 : 16).c_str(), services::UiText(1, 12).c_str(),
                  result.name.c_str(), services::UiText(1, 15).c_str(), 0);
    platform::CurrentMessenger()->MessageBox(text, extlib::kCaption, platform::kMbOk);
    return;
  }
  if (!result.show_dialog) return;
  // The progress window had the focus: the figures come up in front of the trees.
  window_->CommandParent()->window()->raise();
  window_->CommandParent()->window()->activateWindow();
  const PropertiesInfo info =
      result.host ? HostProperties(result.local_host, result.name, result.path, result.number, result.files,
                                   result.bytes, result.projects)
                  : ProjectProperties(result.name, result.path, result.number, result.files, result.bytes);
  CDlgProperties dialog(&info, result.free_space, window_->CommandParent());
  dialog.setAccessibleName(QStringLiteral("Properties"));
  dialog.exec();
}

void TreeCommands::Delete(CDovraneTreeCtrl* tree, const QModelIndex& item) {
  const std::string name = Trimmed(tree->GetItemText(item));
  // The refresh check must not refill under the person's hands for the
  // administration this command changes.
  window_->OutsideChange() = 0;
  const int answer = platform::CurrentMessenger()->MessageBox(services::UiText(2, 3, name.c_str()), extlib::kCaption,
                                                               platform::kMbYesNo | platform::kMbIconQuestion);
  if (answer != platform::kIdYes) {
    window_->OutsideChange() = 1;
    window_->RefreshCheck(0);
    return;
  }
  const bool started = RunLong(
      kCmdDelete, name, true,
      [name](extlib::OperationContext& ctx) {
        const int rc = app::EraseProject(ctx, extlib::PadName(name));
        app::AuditWindowCommand(ctx, "delete", {name}, rc);
        return rc;
      },
      [this](int) {
        window_->OutsideChange() = 1;
        ShowChange();
      });
  if (!started) window_->OutsideChange() = 1;
}

bool TreeCommands::BeginLabelEdit(CDovraneTreeCtrl* tree, const QModelIndex& item) {
  const bool permit = label_permit_;
  label_permit_ = false;
  if (tree->GetItemData(item) != kKindProject) return false;
  if (HostCheckedOut(HostOf(tree, item)) && !permit) return false;
  if (!Enabled(kCmdRename)) return false;
  label_before_ = Trimmed(tree->GetItemText(item));
  if (!tree->EditLabel(item, services::FromCp1252(label_before_))) return false;
  // No refill replaces the item while its name is being typed.
  window_->OutsideChange() = 0;
  return true;
}

void TreeCommands::EndLabelEdit(CDovraneTreeCtrl* tree, const QPersistentModelIndex& item, const QString& text,
                                bool committed) {
  (void)tree;
  (void)item;
  std::string new_text;
  const bool typed = services::ToCp1252(text, &new_text);
  if (!committed || !AcceptsNewLabel(new_text, label_before_)) {
    window_->OutsideChange() = 1;
    return;
  }
  const std::string old_label = label_before_;
  const bool started = RunShort(
      kCmdRename,
      [typed, new_text, old_label](extlib::OperationContext& ctx) {
        if (!typed) {
          // A name without a Windows-1252 form cannot be stored.
          app::ReportProjectError(ctx, extlib::kPrjInvalidName);
          return static_cast<int>(extlib::kPrjInvalidName);
        }
        return RenameProject(ctx, new_text, old_label);
      },
      [this](int result) {
        window_->OutsideChange() = 1;
        if (result == 0) ShowChange();
      });
  if (!started) {
    window_->OutsideChange() = 1;
    QApplication::beep();
  }
}

void TreeCommands::NewProject(CDovraneTreeCtrl* tree, const std::string& host) {
  auto name = std::make_shared<std::string>();
  window_->OutsideChange() = 0;
  const bool started = RunShort(
      kCmdNewProject,
      [host, name](extlib::OperationContext& ctx) { return CreateNewProject(ctx, host, name.get()); },
      [this, tree, host, name](int result) {
        window_->OutsideChange() = 1;
        ShowChange();
        if (result != 0 || name->empty()) return;
        // The new project's name is typed at once, once the trees show it (a
        // fill that was already running may come first).
        auto connection = std::make_shared<QMetaObject::Connection>();
        auto fills = std::make_shared<int>(0);
        *connection = connect(trees_, &ProjectTrees::refilled, this, [this, tree, host, name, connection, fills] {
          if (EditNewProject(tree ? tree : window_->ProjectTree(), host, *name) || ++*fills == 2)
            disconnect(*connection);
        });
      });
  if (!started) window_->OutsideChange() = 1;
}

bool TreeCommands::EditNewProject(CDovraneTreeCtrl* tree, const std::string& host, const std::string& name) {
  const QModelIndex host_item = trees_->model()->HostIndex(host);
  if (!host_item.isValid()) return false;
  if (tree->Role() == 1) tree->ExpandItem(host_item, true);
  // The new project may lie past the rows the views were given: it is shown first.
  const tree::ItemRef host_ref = trees_->model()->RefOf(host_item);
  const tree::ProjectRecord* project =
      host_ref.valid() ? tree::HostTable::FindProject(*static_cast<const tree::HostRecord*>(host_ref.node), name) : nullptr;
  const QModelIndex found = project ? trees_->model()->ShownIndex({project, -1}) : QModelIndex();
  if (!found.isValid()) return false;
  tree->SelectItem(found);
  label_permit_ = true;
  BeginLabelEdit(tree, found);
  return true;
}

void TreeCommands::DeleteLockFile(const QModelIndex& item) {
  std::string cp_name;
  if (!services::ToCp1252(item.data().toString(), &cp_name)) return;
  cp_name = Trimmed(cp_name);
  RunShort(
      kCmdDeleteLockFile, [cp_name](extlib::OperationContext& ctx) { return RemoveLockFile(ctx, cp_name); },
      [this](int result) {
        if (result == 0) window_->RefillTrees(window_->DataPath());
      });
}

void TreeCommands::DeleteHostCheckoutFile(const std::string& host) {
  RunShort(
      kCmdDeleteHostCheckoutFile,
      [host](extlib::OperationContext& ctx) { return RemoveHostCheckoutFile(ctx, host); },
      [](int) {});  // the next refresh check shows the change
}

void TreeCommands::CheckOutProject(CDovraneTreeCtrl* tree, const QModelIndex& item) {
  if (!tree->ItemHasChildren(item)) {
    QApplication::beep();
    return;
  }
  const Target target = TargetOf(tree, item);
  std::optional<std::string> comment = checkout::AskCheckoutComment(1, target.text, tree);
  if (!comment) return;
  window_->OutsideChange() = 0;
  const bool started = RunShort(
      kCmdCheckOutProject,
      [target_host = target.host, name = target.text, comment](extlib::OperationContext& ctx) {
        return CheckOutOneProject(ctx, target_host, name, *comment);
      },
      [this](int) {
        window_->OutsideChange() = 1;
        window_->RequestRefill();
      });
  if (!started) window_->OutsideChange() = 1;
}

void TreeCommands::CheckInProject(CDovraneTreeCtrl* tree, const QModelIndex& item) {
  const Target target = TargetOf(tree, item);
  window_->OutsideChange() = 0;
  const bool started = RunShort(
      kCmdCheckInProject,
      [target_host = target.host, name = target.text](extlib::OperationContext& ctx) {
        return CheckInOneProject(ctx, target_host, name);
      },
      [this](int) {
        window_->OutsideChange() = 1;
        window_->RequestRefill();
      });
  if (!started) window_->OutsideChange() = 1;
}

}  // namespace dovrane::tree
