#include "checkout/std_copy_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "extlib/installation/operation_context.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "services/post_to_qt.h"
#include "services/qt_text_qt.h"

namespace dovrane::checkout {

namespace {

// Components in the order they are measured, and the template's fallbacks.
constexpr StdComponent kMeasureOrder[] = {StdComponent::kCommon,  StdComponent::kSymbols,
                                          StdComponent::kOfficeSymbols, StdComponent::kMacros,
                                          StdComponent::kTextures, StdComponent::kFormwork};

QString Text(int group, unsigned item) { return services::UiQText(group, item); }

QString Megabytes(uint64_t bytes) { return QString::fromStdString(MegabyteText(bytes)); }

}  // namespace

CDovraneStdCopyDlg::CDovraneStdCopyDlg(const std::string& data_path, QWidget* parent)
    : QDialog(parent), data_path_(data_path), measuring_(services::PostTo(this)) {
  setWindowTitle(Text(131, 1));
  setAccessibleName(windowTitle());
  auto* grid = new QGridLayout(this);
  auto* instruction = new QLabel(Text(131, 1015), this);
  grid->addWidget(instruction, 0, 0, 1, 2);
  const StdChoice choice = ReadStdChoice();
  int row = 1;
  for (StdComponent c : kMeasureOrder) {
    const int i = static_cast<int>(c);
    const StdComponentInfo& info = ComponentInfo(c);
    boxes_[i] = new QCheckBox(Text(131, static_cast<unsigned>(info.check_box)), this);
    boxes_[i]->setAccessibleName(boxes_[i]->text());
    boxes_[i]->setChecked(choice.checked[static_cast<size_t>(i)]);
    boxes_[i]->setEnabled(false);
    sizes_text_[i] = new QLabel(Megabytes(0), this);
    sizes_text_[i]->setAccessibleName(boxes_[i]->text() + QStringLiteral(" MB"));
    grid->addWidget(boxes_[i], row, 0);
    grid->addWidget(sizes_text_[i], row++, 1, Qt::AlignRight);
    connect(boxes_[i], &QCheckBox::toggled, this, [this, i](bool on) { Toggled(i, on); });
  }
  total_text_ = new QLabel(Megabytes(0), this);
  total_text_->setAccessibleName(QStringLiteral("Total MB"));
  grid->addWidget(total_text_, row++, 1, Qt::AlignRight);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setEnabled(false);
  ok_->setAccessibleName(ok_->text());
  // Until the sizes are in, Cancel is the only button that takes the focus;
  // Enter there must not throw the choice away: Enter is OK (once enabled),
  // Escape cancels.
  ok_->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
  buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(buttons->button(QDialogButtonBox::Cancel)->text());
  grid->addWidget(buttons, row, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDovraneStdCopyDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDovraneStdCopyDlg::reject);
  blink_ = new QTimer(this);
  blink_->setInterval(500);
  connect(blink_, &QTimer::timeout, this, [this] {
    blink_on_ = !blink_on_;
    if (blinking_ >= 0) sizes_text_[blinking_]->setText(blink_on_ ? QStringLiteral("- - - - -") : QString());
  });
}

CDovraneStdCopyDlg::~CDovraneStdCopyDlg() {
  // Measuring stuck on a hanging share is left behind: it holds a copy of the path only.
  (void)measuring_.Close();
}

void CDovraneStdCopyDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Measuring a large office standard takes long: only once the dialog is seen.
  if (!started_) {
    started_ = true;
    QTimer::singleShot(500, this, &CDovraneStdCopyDlg::StartMeasuring);
  }
}

void CDovraneStdCopyDlg::StartMeasuring() {
  setCursor(Qt::WaitCursor);
  blinking_ = static_cast<int>(kMeasureOrder[0]);
  blink_->start();
  // The worker gets a copy of the path; the sizes come back by queued calls.
  (void)measuring_.Start([this, path = data_path_](services::WorkerRunner::Job& job) {
    std::array<uint64_t, kStdItemCount> items{};
    for (StdComponent c : kMeasureOrder) {
      const StdComponentInfo& info = ComponentInfo(c);
      for (int i = info.first_item; i <= info.last_item; ++i)
        if (!MeasureStdItem(job.context(), path, i, &items[static_cast<size_t>(i)])) return std::function<void()>();
      (void)job.Post([this, c, items] { TakeSizes(static_cast<int>(c), items); });
    }
    return std::function<void()>();
  });
}

void CDovraneStdCopyDlg::TakeSizes(int component, std::array<uint64_t, kStdItemCount> items) {
  const StdComponentInfo& info = ComponentInfo(static_cast<StdComponent>(component));
  for (int i = info.first_item; i <= info.last_item; ++i) sizes_.item[static_cast<size_t>(i)] = items[static_cast<size_t>(i)];
  sizes_text_[component]->setText(Megabytes(sizes_.Component(static_cast<StdComponent>(component))));
  if (info.choosable) boxes_[component]->setEnabled(true);
  const auto* next = std::find(std::begin(kMeasureOrder), std::end(kMeasureOrder), static_cast<StdComponent>(component)) + 1;
  blinking_ = next == std::end(kMeasureOrder) ? -1 : static_cast<int>(*next);
  if (blinking_ < 0) {
    blink_->stop();
    // The first total counts every measured component; toggling adds or subtracts one.
    total_ = sizes_.Total();
    ShowTotal();
    measured_ = true;
    ok_->setEnabled(true);
    unsetCursor();
  }
  emit ComponentMeasured(component);
}

void CDovraneStdCopyDlg::Toggled(int component, bool checked) {
  if (!measured_) return;
  const uint64_t size = sizes_.Component(static_cast<StdComponent>(component));
  total_ = checked ? total_ + size : total_ - size;
  sizes_text_[component]->setText(Megabytes(checked ? size : 0));
  ShowTotal();
}

void CDovraneStdCopyDlg::ShowTotal() { total_text_->setText(Megabytes(total_)); }

void CDovraneStdCopyDlg::accept() {
  if (!measured_) return;
  StdChoice choice;
  for (int i = 0; i < kStdComponentCount; ++i) choice.checked[static_cast<size_t>(i)] = boxes_[i]->isChecked();
  table_ = FillStdItemTable(sizes_, choice);
  WriteStdChoice(choice);
  QDialog::accept();
}

std::optional<StdItemTable> AskOfficeStandard(const std::string& network_data_path, QWidget* parent) {
  CDovraneStdCopyDlg dialog(network_data_path, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Table();
}

}  // namespace dovrane::checkout
