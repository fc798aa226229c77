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

void CTreeCtrlBrowseNetwork::SetPingState(QTreeWidgetItem* item, PingState state, const QString& why,
                                          bool keep_expandable) {
  item->setData(0, kPingRole, state);
  QFont font = item->font(0);
  font.setItalic(state == kPinging);
  item->setFont(0, font);
  item->setForeground(0, state == kNotAnswering ? palette().brush(QPalette::Disabled, QPalette::Text)
                                                : palette().brush(QPalette::Active, QPalette::Text));
  const QString name = item->text(0);
  item->setToolTip(0, why.isEmpty() ? name : name + ": " + why);
  if (state == kNotAnswering && !keep_expandable && item->childCount() == 0)
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

}  // namespace dovrane::network
