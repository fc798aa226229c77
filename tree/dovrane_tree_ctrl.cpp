#include "tree/dovrane_tree_ctrl.h"

namespace dovrane::tree {

CDovraneTreeCtrl::CDovraneTreeCtrl(int role, QWidget* parent) : QTreeView(parent), role_(role) {
  setHeaderHidden(true);
  // Without uniform heights every icon change measures rows again.
  setUniformRowHeights(true);
}

}  // namespace dovrane::tree
