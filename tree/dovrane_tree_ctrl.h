// One of the two trees: a view of the shared project tree model with the tree
// operations the tree commands use (items, their texts and kinds, children,
// selection, expansion), so those algorithms read as the system states them.
// An item is a model index; the invalid index is "no item".
#pragma once

#include <QAbstractItemDelegate>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTimer>
#include <QTreeView>
#include <cstdint>
#include <string>

namespace dovrane::tree {

class ProjectTreeModel;

// The editor of an in-place label edit.
class CDovraneTreeEditCtrl : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
};

class CDovraneTreeCtrl : public QTreeView {
  Q_OBJECT

 public:
  // role: 1 for the host tree, 0 for the project tree.
  explicit CDovraneTreeCtrl(int role, QWidget* parent = nullptr);
  ~CDovraneTreeCtrl() override;
  int Role() const { return role_; }
  ProjectTreeModel* TreeModel() const;

  // The first top-level item (of the root the view shows), or none.
  QModelIndex GetRootItem() const;
  QModelIndex GetChildItem(const QModelIndex& item) const;
  QModelIndex GetNextSiblingItem(const QModelIndex& item) const;
  // None for a top-level item of this view.
  QModelIndex GetParentItem(const QModelIndex& item) const;
  QModelIndex GetSelectedItem() const;
  void SelectItem(const QModelIndex& item);
  // Windows-1252, as the records hold it.
  std::string GetItemText(const QModelIndex& item) const;
  // The item's kind; 0 for none.
  uint32_t GetItemData(const QModelIndex& item) const;
  bool ItemHasChildren(const QModelIndex& item) const;
  bool IsItemExpanded(const QModelIndex& item) const { return isExpanded(item); }
  void ExpandItem(const QModelIndex& item, bool expand);
  // Collapses every top-level item.
  void CollapseTopLevel();

  // The in-place edit of an item's label (TVM_EDITLABEL): an editor over the
  // item showing label, limited to 50 characters. Enter ends it with the
  // typed text (through a queued call), Escape without. Whether the item may
  // be renamed is the caller's decision. False while another edit runs.
  bool EditLabel(const QModelIndex& item, const QString& label);
  bool EditingLabel() const { return label_active_; }
  // The open label editor, or null.
  CDovraneTreeEditCtrl* LabelEditor() const { return label_editor_.data(); }

 signals:
  // The pointer rests on an item (a tip is about to show): the status bar follows it.
  void itemHovered(const QModelIndex& item);
  // A label edit ended: committed with the typed text, or abandoned (Escape).
  void labelEditEnded(const QPersistentModelIndex& item, const QString& text, bool committed);

 public:
  static constexpr int kHoverExpandMs = 1000;

 protected:
  bool viewportEvent(QEvent* event) override;
  void commitData(QWidget* editor) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  // A drag resting on a host opens it after kHoverExpandMs (closing the one
  // opened before); the drop itself is the model's.
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void EndLabelEdit(bool committed);
  void ForgetHover();
  void ExpandHovered();

  int role_;
  QPointer<CDovraneTreeEditCtrl> label_editor_;
  QPersistentModelIndex label_item_;
  QString label_text_;    // the editor's text when it committed
  bool label_committed_ = false;
  bool label_active_ = false;
  QTimer hover_timer_;
  QPersistentModelIndex hovered_, previously_hovered_;
};

}  // namespace dovrane::tree
