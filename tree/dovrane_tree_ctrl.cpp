#include "tree/dovrane_tree_ctrl.h"

#include <QDragMoveEvent>
#include <QHelpEvent>
#include <QStyledItemDelegate>

#include "platform/text_codec.h"
#include "tree/item_kind.h"
#include "tree/project_tree_model_qt.h"
#include "services/qt_text_qt.h"

namespace dovrane::tree {
namespace {

// Draws as the default and makes the label editor; the text is the view's
// to set and to take, the model is never written through it.
class LabelEditDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
    auto* editor = new CDovraneTreeEditCtrl(parent);
    // Names typed or edited are limited to 50 characters.
    editor->setMaxLength(50);
    editor->setAccessibleName(QStringLiteral("Project name"));
    return editor;
  }
  void setEditorData(QWidget*, const QModelIndex&) const override {}
  void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
};

}  // namespace

CDovraneTreeCtrl::CDovraneTreeCtrl(int role, QWidget* parent) : QTreeView(parent), role_(role) {
  setItemDelegate(new LabelEditDelegate(this));
  setHeaderHidden(true);
  // Without uniform heights every icon change measures rows again.
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAccessibleName(role == 1 ? QStringLiteral("Host tree") : QStringLiteral("Project tree"));
  // A free project is dragged onto a host: moved, with Ctrl copied. The
  // whole item is the target (no drop between rows); the view scrolls at
  // its edges by itself; only hosts open on hover (below).
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setDragDropOverwriteMode(true);
  setAutoScroll(true);
  setAutoExpandDelay(-1);
  hover_timer_.setSingleShot(true);
  connect(&hover_timer_, &QTimer::timeout, this, &CDovraneTreeCtrl::ExpandHovered);
}

CDovraneTreeCtrl::~CDovraneTreeCtrl() {
  // An open editor goes with the view; its edit ends without a word.
  if (label_editor_) label_editor_->disconnect(this);
}

ProjectTreeModel* CDovraneTreeCtrl::TreeModel() const { return qobject_cast<ProjectTreeModel*>(model()); }

QModelIndex CDovraneTreeCtrl::GetRootItem() const {
  return model() ? model()->index(0, 0, rootIndex()) : QModelIndex();
}

QModelIndex CDovraneTreeCtrl::GetChildItem(const QModelIndex& item) const {
  return model() && item.isValid() ? model()->index(0, 0, item) : QModelIndex();
}

QModelIndex CDovraneTreeCtrl::GetNextSiblingItem(const QModelIndex& item) const {
  return item.isValid() ? item.siblingAtRow(item.row() + 1) : QModelIndex();
}

QModelIndex CDovraneTreeCtrl::GetParentItem(const QModelIndex& item) const {
  QModelIndex parent = item.parent();
  return parent == rootIndex() ? QModelIndex() : parent;
}

QModelIndex CDovraneTreeCtrl::GetSelectedItem() const {
  return selectionModel() ? selectionModel()->currentIndex() : QModelIndex();
}

void CDovraneTreeCtrl::SelectItem(const QModelIndex& item) {
  if (!selectionModel()) return;
  selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
  if (item.isValid()) scrollTo(item);
}

std::string CDovraneTreeCtrl::GetItemText(const QModelIndex& item) const {
  std::string text;
  if (!services::ToCp1252(item.data(Qt::DisplayRole).toString(), &text)) return "";
  return text;
}

uint32_t CDovraneTreeCtrl::GetItemData(const QModelIndex& item) const {
  return item.data(ProjectTreeModel::kKindRole).toUInt();
}

bool CDovraneTreeCtrl::ItemHasChildren(const QModelIndex& item) const {
  return model() && model()->hasChildren(item);
}

void CDovraneTreeCtrl::ExpandItem(const QModelIndex& item, bool expand) { setExpanded(item, expand); }

void CDovraneTreeCtrl::CollapseTopLevel() {
  for (QModelIndex item = GetRootItem(); item.isValid(); item = GetNextSiblingItem(item)) collapse(item);
}

void CDovraneTreeCtrl::dragMoveEvent(QDragMoveEvent* event) {
  QTreeView::dragMoveEvent(event);
  const QModelIndex item = indexAt(event->position().toPoint());
  if (!item.isValid()) {
    ForgetHover();
    return;
  }
  const uint32_t kind = GetItemData(item);
  if ((kind == kKindDataHost || kind == kKindAdminHost) && item != QModelIndex(hovered_)) {
    previously_hovered_ = hovered_;
    hovered_ = item;
    hover_timer_.start(kHoverExpandMs);
  }
}

void CDovraneTreeCtrl::dragLeaveEvent(QDragLeaveEvent* event) {
  ForgetHover();
  QTreeView::dragLeaveEvent(event);
}

void CDovraneTreeCtrl::dropEvent(QDropEvent* event) {
  ForgetHover();
  QTreeView::dropEvent(event);
}

void CDovraneTreeCtrl::ForgetHover() {
  hover_timer_.stop();
  hovered_ = QModelIndex();
  previously_hovered_ = QModelIndex();
}

void CDovraneTreeCtrl::ExpandHovered() {
  if (previously_hovered_.isValid()) collapse(previously_hovered_);
  previously_hovered_ = QModelIndex();
  if (hovered_.isValid()) expand(hovered_);
}

bool CDovraneTreeCtrl::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    emit itemHovered(indexAt(static_cast<QHelpEvent*>(event)->pos()));
  }
  return QTreeView::viewportEvent(event);
}

bool CDovraneTreeCtrl::EditLabel(const QModelIndex& item, const QString& label) {
  if (label_active_ || !item.isValid()) return false;
  scrollTo(item);
  label_item_ = item;
  label_committed_ = false;
  label_text_.clear();
  openPersistentEditor(item);
  auto* editor = dynamic_cast<CDovraneTreeEditCtrl*>(indexWidget(item));
  if (!editor) {
    closePersistentEditor(item);
    return false;
  }
  label_editor_ = editor;
  label_active_ = true;
  // A refill that removes the item takes the editor with it: the edit ends unchanged.
  connect(editor, &QObject::destroyed, this, [this] { EndLabelEdit(false); });
  editor->setText(label);
  editor->selectAll();
  editor->setFocus();
  return true;
}

void CDovraneTreeCtrl::commitData(QWidget* editor) {
  if (editor && editor == label_editor_.data()) {
    label_text_ = label_editor_->text();
    label_committed_ = true;
    return;
  }
  QTreeView::commitData(editor);
}

void CDovraneTreeCtrl::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  if (editor && editor == label_editor_.data()) {
    EndLabelEdit(label_committed_ && hint != QAbstractItemDelegate::RevertModelCache);
    return;
  }
  QTreeView::closeEditor(editor, hint);
}

void CDovraneTreeCtrl::EndLabelEdit(bool committed) {
  if (!label_active_) return;
  label_active_ = false;
  const QPersistentModelIndex item = label_item_;
  const QString text = label_text_;
  label_item_ = QPersistentModelIndex();
  if (CDovraneTreeEditCtrl* editor = label_editor_.data()) {
    label_editor_.clear();
    editor->disconnect(this);
    if (item.isValid()) closePersistentEditor(item);
    else editor->deleteLater();
    setFocus();
  }
  emit labelEditEnded(item, text, committed);
}

}  // namespace dovrane::tree
