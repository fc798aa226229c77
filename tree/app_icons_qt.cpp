#include "tree/app_icons_qt.h"

// The resources live in the window library; a static library's resources are
// only linked in when something asks for them.
static void InitIconResources() {
  static bool done = [] {
    Q_INIT_RESOURCE(icons);
    return true;
  }();
  (void)done;
}

namespace dovrane::tree {

QString TreeImagePath(int index) {
  return QStringLiteral(":/icons/tree/%1.svg").arg(index, 2, 10, QLatin1Char('0'));
}

QIcon TreeImage(int index) {
  if (index < 0 || index >= kTreeImageCount) return {};
  InitIconResources();
  return QIcon(TreeImagePath(index));
}

QIcon ButtonImage(const QString& name) {
  InitIconResources();
  return QIcon(QStringLiteral(":/icons/button-%1.svg").arg(name));
}

QIcon ApplicationIcon() {
  InitIconResources();
  return QIcon(QStringLiteral(":/icons/dovrane.svg"));
}

}  // namespace dovrane::tree
