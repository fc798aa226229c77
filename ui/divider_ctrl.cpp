#include "ui/divider_ctrl.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/dovrane_tab_ctrl.h"

namespace dovrane::ui {

CDivider::CDivider(CDovraneTabCtrl* tab) : QWidget(tab), tab_(tab) {
  setCursor(Qt::SplitHCursor);
  setAccessibleName(QStringLiteral("Divider"));
}

void CDivider::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(200, 200, 200));
}

// The mouse stays with the divider until the button is released (Qt's
// implicit grab), so a drag past the trees still moves it.
void CDivider::mousePressEvent(QMouseEvent* event) { QWidget::mousePressEvent(event); }

void CDivider::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) tab_->DragDivider(mapToParent(event->position().toPoint()).x());
}

}  // namespace dovrane::ui
