// One of the two trees: a view of the shared project tree model with the tree
// operations the tree commands use (items, their texts and kinds, children,
// selection, expansion), so those algorithms read as the system states them.
// An item is a model index; the invalid index is "no item".
#pragma once

#include <QPersistentModelIndex>
#include <QTimer>
#include <QTreeView>
#include <cstdint>
#include <string>

namespace dovrane::tree {

class ProjectTreeModel;

class CDovraneTreeCtrl : public QTreeView {
  Q_OBJECT

 public:
  // role: 1 for the host tree, 0 for the project tree.
  explicit CDovraneTreeCtrl(int role, QWidget* parent = nullptr);
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

 signals:
  // The pointer rests on an item (a tip is about to show): the status bar follows it.
  void itemHovered(const QModelIndex& item);

 protected:
  bool viewportEvent(QEvent* event) override;
  // A drag resting on a host opens it after kHoverExpandMs (closing the one
  // opened before); the drop itself is the model's.
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 public:
  static constexpr int kHoverExpandMs = 1000;

 private:
  void ForgetHover();
  void ExpandHovered();

  int role_;
  QTimer hover_timer_;
  QPersistentModelIndex hovered_, previously_hovered_;
};

}  // namespace dovrane::tree
