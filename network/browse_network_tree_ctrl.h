// The tree of the data-server browse dialog: computers, their shares and the
// folders below them. Every item shows its whole text as its tooltip.
#pragma once

#include <QTreeWidget>

namespace dovrane::network {

class CTreeCtrlBrowseNetwork : public QTreeWidget {
  Q_OBJECT

 public:
  // Item data roles.
  enum Role {
    kKindRole = Qt::UserRole + 1,  // 1 computer, 2 share, 3 directory; 0 a placeholder
    kPathRole,                     // "\\HOST", "\\HOST\share", "\\HOST\share\dir"
    kMarkerRole,                   // bool: a data server (PRJ below it)
    kMountedRole,                  // bool: the UNC root has its folder
    kAskingRole,                   // bool: its listing is still being asked for
  };
  enum Kind { kPlaceholder = 0, kComputer = 1, kShare = 2, kDirectory = 3 };

  explicit CTreeCtrlBrowseNetwork(QWidget* parent = nullptr);

  // A computer at the top level (once; without regard to case), expandable.
  QTreeWidgetItem* AddComputer(const QString& name);
  // The first top-level item whose trimmed text equals text (case-insensitive).
  QTreeWidgetItem* FindRootItemByText(const QString& text) const;
};

}  // namespace dovrane::network
