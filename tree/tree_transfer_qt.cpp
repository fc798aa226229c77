#include "tree/tree_transfer_qt.h"

#include <QApplication>

#include "app/projects/command_audit.h"
#include "app/projects/project_error.h"
#include "app/projects/project_move.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "platform/messenger.h"
#include "platform/text_codec.h"
#include "services/qt_text_qt.h"
#include "services/tool_message_box.h"
#include "services/ui_text_table.h"
#include "tree/item_commands.h"
#include "tree/prj_name_cut_dlg.h"
#include "tree/project_copy.h"
#include "tree/project_trees_qt.h"
#include "tree/transfer_check.h"
#include "tree/tree_window_qt.h"

namespace dovrane::tree {

namespace {

bool IsHost(const tree::ItemRef& ref) { return ref.valid() && ref.child < 0 && !ref.node->parent; }

}  // namespace

TreeTransfer::TreeTransfer(tree::ProjectTrees* trees, tree::TreeWindow* window, services::GuiMessenger* messenger, QObject* parent)
    : QObject(parent), trees_(trees), window_(window), run_(window->CommandParent(), messenger) {
  connect(&run_, &services::ProgressRun::finished, this, &TreeTransfer::End);
  trees_->model()->SetDropHandler(
      [this](const tree::ProjectTreeModel::DraggedProject& project, const QModelIndex& target, bool copy,
             bool perform) { return HandleDrop(project, target, copy, perform); });
}

TreeTransfer::~TreeTransfer() { trees_->model()->SetDropHandler({}); }

void TreeTransfer::Run(uint32_t id, const QModelIndex& item) {
  switch (id) {
    case tree::kCmdMarkMove: MarkForMove(item); break;
    case tree::kCmdMarkCopy: MarkForCopy(item); break;
    case tree::kCmdPaste: PasteOnto(item); break;
    default: break;
  }
}

bool TreeTransfer::MarkForMove(const QModelIndex& item) { return Mark(item, false); }

bool TreeTransfer::MarkForCopy(const QModelIndex& item) { return Mark(item, true); }

bool TreeTransfer::Mark(const QModelIndex& item, bool copy) {
  const tree::ItemRef ref = trees_->model()->RefOf(item);
  if (!ref.valid() || ref.child >= 0 || !ref.node->parent) return false;
  const auto* project = static_cast<const tree::ProjectRecord*>(ref.node);
  if (project->kind != tree::kKindProject) {
    ReportTransferRefusal(window_->Context(), TransferRefusal::kNotFree, project->kind,
                          std::string(project->name()), "");
    return false;
  }
  ShowMark(false);  // the project marked before gets its image back
  cut_pending_ = !copy;
  copy_pending_ = copy;
  mark_name_ = project->name();
  mark_host_ = project->host()->name;
  ShowMark(true);
  return true;
}

void TreeTransfer::ShowMark(bool marked) {
  if (!cut_pending_) return;  // only a move is marked by its image
  trees_->SetMoveMark(marked ? tree::MoveMark{mark_name_, mark_host_} : tree::MoveMark{});
  tree::HostRecord* host = trees_->model()->table().FindHost(mark_host_);
  tree::ProjectRecord* project = host ? tree::HostTable::FindProject(*host, mark_name_) : nullptr;
  if (!project) return;
  const int image = TransferMarkImage(project->kind, marked);
  if (project->image == image) return;
  project->image = image;
  trees_->model()->NodeChanged(project);
}

bool TreeTransfer::TransferPending() const { return (cut_pending_ || copy_pending_) && !Busy(); }

bool TreeTransfer::PasteOnto(const QModelIndex& host_item) {
  if (!TransferPending()) return false;
  Request request{mark_name_, mark_host_, trees_->CurrentHost(), copy_pending_, true};
  if (host_item.isValid()) {
    const tree::ItemRef ref = trees_->model()->RefOf(host_item);
    if (!IsHost(ref)) return false;  // a paste goes onto a host or nowhere
    request.target_host = static_cast<const tree::HostRecord*>(ref.node)->name;
  }
  return Start(request);
}

int TreeTransfer::Refusal(const Request& request, uint32_t* project_kind) const {
  const tree::HostTable& table = trees_->model()->table();
  const tree::HostRecord* source = table.FindHost(request.source_host);
  const tree::ProjectRecord* project = source ? tree::HostTable::FindProject(*source, request.name) : nullptr;
  const tree::HostRecord* target = table.FindHost(request.target_host);
  *project_kind = project ? project->kind : 0;
  if (!project) return -1;  // gone since it was marked or dragged
  TransferCheck check;
  check.project_kind = project->kind;
  check.project_host = source->name;
  check.target_kind = target ? target->kind : 0;
  check.target_host = target ? target->name : request.target_host;
  check.copy = request.copy;
  check.copy_onto_own_host = request.paste;
  return static_cast<int>(CheckTransfer(check));
}

bool TreeTransfer::HandleDrop(const tree::ProjectTreeModel::DraggedProject& project, const QModelIndex& target,
                              bool copy, bool perform) {
  const tree::ItemRef ref = trees_->model()->RefOf(target);
  if (Busy() || !IsHost(ref)) return false;
  Request request{project.name, project.host, static_cast<const tree::HostRecord*>(ref.node)->name, copy, false};
  uint32_t kind = 0;
  if (Refusal(request, &kind) != static_cast<int>(TransferRefusal::kNone)) return false;
  if (!perform) return true;
  // The name-cut dialog and the question come after the drag has ended.
  starting_ = true;
  QMetaObject::invokeMethod(
      this,
      [this, request] {
        starting_ = false;
        Start(request);
      },
      Qt::QueuedConnection);
  return true;
}

bool TreeTransfer::Start(Request request) {
  if (Busy()) return false;
  uint32_t kind = 0;
  const int refusal = Refusal(request, &kind);
  if (refusal < 0) {
    app::ReportProjectError(window_->Context(), app::kPrjNotFound);
    return false;
  }
  if (refusal == static_cast<int>(TransferRefusal::kNotHost)) QApplication::beep();
  if (refusal != static_cast<int>(TransferRefusal::kNone)) {
    ReportTransferRefusal(window_->Context(), static_cast<TransferRefusal>(refusal), kind, request.name,
                          request.target_host);
    return false;
  }
  // While the person decides, no second transfer starts.
  starting_ = true;
  struct Clear {
    bool* flag;
    ~Clear() { *flag = false; }
  } clear{&starting_};
  std::string new_name;
  if (request.copy) {
    new_name = tree::CopyName(request.name);
    if (tree::NeedsNameCut(new_name)) {
      const QString source = services::FromCp1252(request.name);
      QString result = services::FromCp1252(new_name);
      CPrjNameCutDialog cut(&source, &result, window_->CommandParent());
      if (cut.exec() != QDialog::Accepted) return false;
      if (!services::ToCp1252(result.trimmed(), &new_name) || new_name.empty()) {
        app::ReportProjectError(window_->Context(), app::kPrjInvalidName);
        return false;
      }
    }
  }
  const std::string args = request.name + "#" + request.target_host;
  const std::string question = services::UiText(2, request.copy ? 1 : 2, args.c_str());
  if (services::ToolQuestionBox(window_->Context(), services::kMessageWarning,
                                platform::kMbYesNo | platform::kMbIconQuestion, "%s",
                                question.c_str()) != platform::kIdYes)
    return false;

  services::Operation operation;
  if (request.copy) {
    operation = [name = request.name, new_name, host = request.target_host](extlib::OperationContext& ctx) {
      uint32_t number = 0;
      return tree::CopyProjectToHost(ctx, name, new_name, host, &number);
    };
  } else {
    operation = [padded = extlib::PadName(request.name), host = request.target_host](extlib::OperationContext& ctx) {
      const int rc = app::MoveProject(ctx, padded, host);
      app::AuditWindowCommand(ctx, "move", {extlib::TrimmedName(padded.c_str()), host}, rc);
      return rc;
    };
  }
  // The refresh check must not refill because of this window's own writes.
  window_->OutsideChange() = 0;
  running_ = request;
  if (!run_.Start(request.name + " -> " + request.target_host, request.copy, std::move(operation))) {
    window_->OutsideChange() = 1;
    return false;
  }
  return true;
}

void TreeTransfer::End(int result) {
  window_->OutsideChange() = 1;
  const bool moved_mark = !running_.copy && cut_pending_ && running_.name == mark_name_ &&
                          platform::EqualsIgnoreCaseCp1252(running_.source_host, mark_host_);
  if (result == 0 && (running_.paste || moved_mark)) {
    ShowMark(false);
    cut_pending_ = copy_pending_ = false;
    mark_name_.clear();
    mark_host_.clear();
  }
  // The trees show the result at once, not at the next check.
  window_->RefreshCheckAfterChange();
  emit finished(result);
}

}  // namespace dovrane::tree
