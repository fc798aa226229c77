#include "tree/project_tree_model_qt.h"

namespace dovrane::tree {

QModelIndex ProjectTreeModel::index(int, int, const QModelIndex&) const { return {}; }
QModelIndex ProjectTreeModel::parent(const QModelIndex&) const { return {}; }
int ProjectTreeModel::rowCount(const QModelIndex&) const { return 0; }
int ProjectTreeModel::columnCount(const QModelIndex&) const { return 1; }
QVariant ProjectTreeModel::data(const QModelIndex&, int) const { return {}; }

}  // namespace dovrane::tree
