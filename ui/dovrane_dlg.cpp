#include "ui/dovrane_dlg.h"

namespace dovrane::ui {

CDovraneDlg::CDovraneDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Varnholtek Dovranix"));
  setMinimumSize(640, 400);
}

}  // namespace dovrane::ui
