// The about box of the main window.
#pragma once

#include <QDialog>

namespace dovrane::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace dovrane::ui
