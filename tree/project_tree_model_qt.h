// The one item model both trees show: hosts, their projects and each
// project's directory, owner and members, over the host table's records.
// An index points at its parent's record (null for a host), so every node is
// stable and knows its row; texts and icons are made in data() on demand.
// A host's projects are given to the views a batch at a time (canFetchMore /
// fetchMore, as the views ask when a host opens or a list is scrolled to its
// end), so the views' cost follows the rows shown, not the office's size.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "tree/host_table.h"
#include "tree/tree_search.h"

namespace dovrane::tree {

class ProjectTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  // The item's kind (its item data), and the index of its image.
  static constexpr int kKindRole = Qt::UserRole + 1;
  static constexpr int kImageRole = Qt::UserRole + 2;

  explicit ProjectTreeModel(QObject* parent = nullptr);
  ~ProjectTreeModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

  // Rows a host gives the views at a time.
  static constexpr int kDefaultFetchBatch = 1000;
  void SetFetchBatch(int rows) { fetch_batch_ = rows > 0 ? rows : 1; }
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Puts a new table in place in one layout change: persistent indexes (the
  // views' expansion, selection and current item among them) move to the
  // item of the same host, project and child row, or become invalid where
  // that item is gone.
  void SetTable(std::unique_ptr<HostTable> table);
  const HostTable& table() const { return *table_; }
  HostTable& table() { return *table_; }

  ItemRef RefOf(const QModelIndex& index) const;
  // The item's index; invalid for a project the views have not been given yet.
  QModelIndex IndexOf(ItemRef item) const;
  // The same, giving the views the host's projects up to the item's first.
  QModelIndex ShownIndex(ItemRef item);
  QModelIndex HostIndex(const std::string& name) const;
  // The record changed (kind, image or a child's text): its row only.
  void NodeChanged(const TreeNode* node);
  void ChildChanged(const ProjectRecord* project, int child_row);

  // The icon file of an image: ":/icons/tree/NN.svg".
  static QString IconPath(int image);

  // Drag and drop: a free project is dragged, a host takes the drop. The
  // drag carries the project's host and name; the drop's target is the host
  // item (or, in the project tree, its empty area: the host it shows).
  static constexpr char kProjectMimeType[] = "application/x-dovrane-project";
  struct DraggedProject {
    std::string host, name;  // Windows-1252
  };
  // Decides (perform false) or carries out a drop of project onto the host
  // item target, copying (Ctrl) or moving. Must not block.
  using DropHandler =
      std::function<bool(const DraggedProject& project, const QModelIndex& target, bool copy, bool perform)>;
  void SetDropHandler(DropHandler handler) { drop_handler_ = std::move(handler); }
  // The drag's data from any source; false unless it names one project.
  static bool ReadDraggedProject(const QMimeData* data, DraggedProject* project);

  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

 private:
  QModelIndex RemapIndex(const QModelIndex& old, const HostTable& next) const;
  // Gives the views the host's projects up to row (and the rest of its batch).
  void ShowRows(HostRecord* host, int row);

  std::unique_ptr<HostTable> table_;
  // The table before the last one: a view lays itself out again only on its
  // next turn, and until then its rows (and a screen reader asking for them)
  // still point into it.
  std::unique_ptr<HostTable> retired_;
  mutable std::array<QIcon, 19> icons_;
  mutable std::array<bool, 19> icon_loaded_{};
  DropHandler drop_handler_;
  int fetch_batch_ = kDefaultFetchBatch;
};

}  // namespace dovrane::tree
