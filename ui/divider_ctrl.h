// The vertical splitter between the host tree and the project tree. Dragging
// it asks the tab control to place both trees at the cursor; its top never
// changes while it is dragged.
#pragma once

#include <QWidget>

namespace dovrane::ui {

class CDovraneTabCtrl;

class CDivider : public QWidget {
  Q_OBJECT

 public:
  explicit CDivider(CDovraneTabCtrl* tab);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  CDovraneTabCtrl* tab_;
};

}  // namespace dovrane::ui
