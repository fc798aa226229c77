#include "ui/popup_accessibility_qt.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QGuiApplication>
#include <QWindow>

namespace dovrane::ui {

namespace {

// The application's windows as Qt lists them, plus the popups on screen.
class ApplicationWithPopups : public QAccessibleApplication {
 public:
  int childCount() const override { return static_cast<int>(Windows().size()); }

  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child) return -1;
    return static_cast<int>(Windows().indexOf(child->object()));
  }

  QAccessibleInterface* child(int index) const override {
    const QObjectList windows = Windows();
    if (index < 0 || index >= windows.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(windows.at(index));
  }

 private:
  static QObjectList Windows() {
    QObjectList list;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
      if (window->type() == Qt::Desktop) continue;
      // A closed menu is no window of the application any more.
      if (window->type() == Qt::Popup && !window->isVisible()) continue;
      QAccessibleInterface* root = window->accessibleRoot();
      if (root && root->object()) list.append(root->object());
    }
    return list;
  }
};

QAccessibleInterface* ApplicationFactory(const QString& class_name, QObject* object) {
  if (object && object == QCoreApplication::instance() && class_name == QLatin1String("QApplication"))
    return new ApplicationWithPopups;
  return nullptr;
}

}  // namespace

void InstallPopupAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(&ApplicationFactory);
}

}  // namespace dovrane::ui
