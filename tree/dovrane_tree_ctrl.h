// One of the two trees: a view of the shared project tree model with the tree
// operations the tree commands use.
#pragma once

#include <QTreeView>

namespace dovrane::tree {

class CDovraneTreeCtrl : public QTreeView {
  Q_OBJECT

 public:
  // role: 1 for the host tree, 0 for the project tree.
  explicit CDovraneTreeCtrl(int role, QWidget* parent = nullptr);
  int Role() const { return role_; }

 private:
  int role_;
};

}  // namespace dovrane::tree
