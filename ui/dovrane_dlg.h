// The main window of the dialog mode.
#pragma once

#include <QDialog>

namespace dovrane::ui {

class CDovraneDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CDovraneDlg(QWidget* parent = nullptr);

 protected:
  // Escape never closes the window; only the close button and the close box do.
  void reject() override {}
};

}  // namespace dovrane::ui
