// The one item model both trees show: hosts, their projects and each
// project's directory, owner and members, over plain structs.
#pragma once

#include <QAbstractItemModel>

namespace dovrane::tree {

class ProjectTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  using QAbstractItemModel::QAbstractItemModel;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

}  // namespace dovrane::tree
