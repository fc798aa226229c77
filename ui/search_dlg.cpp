#include "ui/search_dlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>

#include "extlib/installation/messages.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/project_tree_model_qt.h"
#include "tree/tree_search.h"
#include "services/qt_text_qt.h"

namespace dovrane::ui {

namespace {

QString UiTextOr(unsigned item, const char* fallback) {
  std::string text = services::UiText(114, item);
  return services::FromCp1252(text.empty() ? fallback : text);
}

}  // namespace

CDovraneSearchDlg::CDovraneSearchDlg(QWidget* centre_on, QWidget* parent)
    : QDialog(parent), centre_on_(centre_on) {
  setModal(false);
  setWindowTitle(QString::fromLatin1(extlib::kCaption));
  setAccessibleName(QStringLiteral("Search"));
  continue_ = new QPushButton(UiTextOr(1009, "&Continue"), this);
  cancel_ = new QPushButton(UiTextOr(1010, "&Cancel"), this);
  continue_->setAccessibleName(continue_->text().remove(QLatin1Char('&')));
  cancel_->setAccessibleName(cancel_->text().remove(QLatin1Char('&')));
  continue_->setDefault(true);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(continue_);
  layout->addWidget(cancel_);
  connect(continue_, &QPushButton::clicked, this, &CDovraneSearchDlg::continueRequested);
  connect(cancel_, &QPushButton::clicked, this, &CDovraneSearchDlg::stopRequested);
}

void CDovraneSearchDlg::reject() { emit stopRequested(); }

void CDovraneSearchDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit stopRequested();
}

void CDovraneSearchDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (centre_on_) move(centre_on_->geometry().center() - rect().center());
}

TreeSearch::TreeSearch(tree::CDovraneTreeCtrl* host_tree, QWidget* centre_on, QObject* parent)
    : QObject(parent), host_tree_(host_tree), box_(std::make_unique<CDovraneSearchDlg>(centre_on, host_tree)) {
  box_->setWindowFlag(Qt::Tool);
  connect(box_.get(), &CDovraneSearchDlg::continueRequested, this, &TreeSearch::Step);
  connect(box_.get(), &CDovraneSearchDlg::stopRequested, this, [this] {
    if (walk_) Finish(current_, false);
  });
}

TreeSearch::~TreeSearch() = default;

void TreeSearch::Start(const std::string& text, uint32_t mask) {
  if (walk_) return;
  if (text.empty()) {
    emit finished(QModelIndex(), true);
    return;
  }
  host_tree_->CollapseTopLevel();
  // The walk reads the model's records: a new table ends it.
  refill_ = connect(host_tree_->TreeModel(), &QAbstractItemModel::layoutAboutToBeChanged, this,
                    [this] { Finish(QModelIndex(), false); });
  walk_ = std::make_unique<tree::SearchWalk>(host_tree_->TreeModel()->table(), tree::ItemRef(), text, mask);
  Step();
}

void TreeSearch::Step() {
  if (!walk_) return;
  tree::ItemRef match = walk_->NextMatch();
  if (!match.valid()) {
    Finish(QModelIndex(), true);
    return;
  }
  // The match may lie past the rows the views were given: it is shown first.
  current_ = host_tree_->TreeModel()->ShownIndex(match);
  host_tree_->SelectItem(current_);
  box_->show();
}

void TreeSearch::Finish(const QModelIndex& item, bool beep) {
  walk_.reset();
  disconnect(refill_);
  box_->hide();
  QModelIndex stopped = item;
  current_ = QPersistentModelIndex();
  emit finished(stopped, beep);
}

}  // namespace dovrane::ui
