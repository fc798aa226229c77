#include "network/browse_network_tree_ctrl.h"

namespace dovrane::network {

CTreeCtrlBrowseNetwork::CTreeCtrlBrowseNetwork(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setAccessibleName(QStringLiteral("Network"));
}

QTreeWidgetItem* CTreeCtrlBrowseNetwork::AddComputer(const QString& name) {
  if (QTreeWidgetItem* there = FindRootItemByText(name)) return there;
  auto* item = new QTreeWidgetItem(this, {name});
  item->setData(0, kKindRole, kComputer);
  item->setData(0, kPathRole, QStringLiteral("\\\\") + name);
  item->setToolTip(0, name);
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

QTreeWidgetItem* CTreeCtrlBrowseNetwork::FindRootItemByText(const QString& text) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = topLevelItem(i);
    if (item->text(0).trimmed().compare(text.trimmed(), Qt::CaseInsensitive) == 0) return item;
  }
  return nullptr;
}

}  // namespace dovrane::network
