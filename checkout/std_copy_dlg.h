// The office-standard dialog: shows how large each component of the office
// standard is (measured on a worker after the dialog is visible) and lets the
// person choose symbols, office macros and textures; the common office
// standard always goes along, office symbols and formwork are only shown.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <QDialog>

#include "checkout/office_standard.h"
#include "services/worker_runner.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

namespace dovrane::checkout {

class CDovraneStdCopyDlg : public QDialog {
  Q_OBJECT

 public:
  // network_data_path: Windows form, the office standard is its "\STD".
  explicit CDovraneStdCopyDlg(const std::string& network_data_path, QWidget* parent = nullptr);
  ~CDovraneStdCopyDlg() override;

  // After OK: the filled item table.
  const StdItemTable& Table() const { return table_; }
  bool Measured() const { return measured_; }

 public slots:
  void accept() override;

 signals:
  // A component's size is known (emitted in the window's thread).
  void ComponentMeasured(int component);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void StartMeasuring();
  // In the window's thread: one component's items are measured.
  void TakeSizes(int component, std::array<uint64_t, kStdItemCount> items);
  void Toggled(int component, bool checked);
  void ShowTotal();

  std::string data_path_;
  std::array<QCheckBox*, kStdComponentCount> boxes_{};
  std::array<QLabel*, kStdComponentCount> sizes_text_{};
  QLabel* total_text_;
  QPushButton* ok_;
  QTimer* blink_;
  int blinking_ = -1;
  bool blink_on_ = false;
  bool started_ = false, measured_ = false;
  StdSizes sizes_;
  uint64_t total_ = 0;
  StdItemTable table_{};
  services::WorkerRunner measuring_;  // last: closed first
};

// Runs the dialog modally: the table, or nothing when it was cancelled.
std::optional<StdItemTable> AskOfficeStandard(const std::string& network_data_path, QWidget* parent);

}  // namespace dovrane::checkout
