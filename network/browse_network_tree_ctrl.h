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
    kPingRole,                     // a computer's PingState
  };
  // A computer's ping: not asked (pinging off), being asked, answered, not answering.
  enum PingState { kNotPinged = 0, kPinging, kAnswered, kNotAnswering };
  enum Kind { kPlaceholder = 0, kComputer = 1, kShare = 2, kDirectory = 3 };

  explicit CTreeCtrlBrowseNetwork(QWidget* parent = nullptr);

  // A computer at the top level (once; without regard to case), expandable.
  QTreeWidgetItem* AddComputer(const QString& name);
  // The first top-level item whose trimmed text equals text (case-insensitive).
  QTreeWidgetItem* FindRootItemByText(const QString& text) const;
  // Shows a computer's ping: italic while asked, grey when it did not answer
  // (with why as its tooltip); one that did not answer loses its expand
  // button unless keep_expandable.
  void SetPingState(QTreeWidgetItem* item, PingState state, const QString& why, bool keep_expandable);
};

}  // namespace dovrane::network
