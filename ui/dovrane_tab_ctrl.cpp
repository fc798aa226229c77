#include "ui/dovrane_tab_ctrl.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <algorithm>

#include "services/ui_text_table.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/project_tree_model_qt.h"
#include "ui/bm_button_ctrl.h"
#include "ui/divider_ctrl.h"
#include "ui/dovrane_dlg.h"
#include "services/qt_text_qt.h"

namespace dovrane::ui {

namespace {

// The page's fixed coordinates.
constexpr int kTreeLeft = 10;
constexpr int kTreeTop = 100;
constexpr int kTreeBottomGap = 20;
constexpr int kRightGap = 10;
constexpr int kLabelTop = 80;

struct ButtonPlace {
  int id;
  int left;
  const char* image;
  const char* name;
};
constexpr ButtonPlace kButtons[] = {
    {CDovraneTabCtrl::kRefreshButton, 195, ":/icons/button-refresh.svg", "Refresh"},
    {CDovraneTabCtrl::kSearchButton, 152, ":/icons/button-search.svg", "Search"},
    {CDovraneTabCtrl::kPathButton, 226, ":/icons/button-path.svg", "Data path"},
    {CDovraneTabCtrl::kNewProjectButton, 257, ":/icons/button-new-project.svg", "New project"},
};

int TextWidth(const QWidget* w, const QString& text) { return w->fontMetrics().horizontalAdvance(text); }

}  // namespace

CDovraneTabCtrl::CDovraneTabCtrl(QWidget* parent) : QWidget(parent), tabs_(new QTabBar(this)) {
  tabs_->setDrawBase(false);
  tabs_->setAccessibleName(QStringLiteral("Tabs"));
  connect(tabs_, &QTabBar::currentChanged, this, &CDovraneTabCtrl::ShowPage);
}

void CDovraneTabCtrl::CreatePageControls(tree::ProjectTreeModel* model) {
  const int w = width();
  const int h = height();
  const int quarter = (w - 24) / 4;
  if (!host_tree_) {
    host_tree_ = new tree::CDovraneTreeCtrl(1, this);
    host_tree_->setModel(model);
    host_tree_->setObjectName(QStringLiteral("host_tree"));
    host_tree_->setAccessibleName(QStringLiteral("Host tree"));
  }
  host_tree_->setGeometry(kTreeLeft, kTreeTop, quarter, h - kTreeBottomGap - kTreeTop);
  divider_ = new CDivider(this);
  divider_->setGeometry(quarter + 11, kTreeTop, 2, h - kTreeBottomGap - kTreeTop);
  if (!project_tree_) {
    project_tree_ = new tree::CDovraneTreeCtrl(0, this);
    project_tree_->setModel(model);
    project_tree_->setObjectName(QStringLiteral("project_tree"));
    project_tree_->setAccessibleName(QStringLiteral("Project tree"));
  }
  project_tree_->setGeometry(quarter + 14, kTreeTop, w - kRightGap - (quarter + 14), h - kTreeBottomGap - kTreeTop);
  for (tree::CDovraneTreeCtrl* t : {host_tree_, project_tree_}) t->setIconSize(QSize(16, 16));

  search_edit_ = new QLineEdit(this);
  search_edit_->setObjectName(QStringLiteral("search_edit"));
  search_edit_->setAccessibleName(QStringLiteral("Search"));
  search_edit_->setGeometry(10, 40, 140, 20);
  for (const ButtonPlace& place : kButtons) {
    auto* button = new CBmButton(QString::fromLatin1(place.image), this);
    button->setGeometry(place.left, 38, 28, 24);
    button->setAccessibleName(QString::fromLatin1(place.name));
    buttons_[place.id - kRefreshButton] = button;
    connect(button, &QPushButton::clicked, this, [this, id = place.id] { RunCommand(id); });
  }
  // The tooltips name what each button does, in the installed language.
  Button(kRefreshButton)->setToolTip(services::UiQText(1015, 4132));
  Button(kSearchButton)->setToolTip(services::UiQText(1015, 4131));
  Button(kPathButton)->setToolTip(services::UiQText(1015, 4122));
  Button(kNewProjectButton)->setToolTip(services::UiQText(2, 5));

  const int text_height = fontMetrics().height();
  trees_label_ = new QLabel(services::UiQText(114, services::kUiItemTreesLabel), this);
  trees_label_->setAccessibleName(trees_label_->text());
  trees_label_->setGeometry(10, kLabelTop, TextWidth(this, trees_label_->text()) + 4, text_height);
  path_caption_ = new QLabel(services::UiQText(114, services::kUiItemPathCaption), this);
  path_caption_->setAccessibleName(path_caption_->text());
  path_caption_->setGeometry(w - (w - 34) / 2 - (w - 34) / 4 - 20, kLabelTop,
                             TextWidth(this, path_caption_->text()) + 4, text_height);
  path_label_ = new QLabel(this);
  path_label_->setObjectName(QStringLiteral("path_label"));
  // Named by its text (the host shown), as a screen reader reads it.
  path_label_->setAccessibleDescription(QStringLiteral("Data path"));
  path_label_->setGeometry(path_caption_->geometry().right() + 1, kLabelTop, 120, text_height);
}

CBmButton* CDovraneTabCtrl::Button(int id) const {
  if (id < kRefreshButton || id > kNewProjectButton) return nullptr;
  return buttons_[id - kRefreshButton];
}

int CDovraneTabCtrl::InsertTab(const QString& text) { return tabs_->addTab(text); }

void CDovraneTabCtrl::ShowPage(int tab) {
  if (tab != 0 || !host_tree_) return;
  for (QWidget* w : std::initializer_list<QWidget*>{host_tree_, project_tree_, trees_label_, path_caption_}) w->show();
  project_tree_->repaint();
}

void CDovraneTabCtrl::resizeEvent(QResizeEvent*) {
  tabs_->setGeometry(0, 0, std::max(tabs_->sizeHint().width(), 0), tabs_->sizeHint().height());
  Relayout();
}

void CDovraneTabCtrl::paintEvent(QPaintEvent*) {
  // The tab page's frame below the strip.
  QPainter painter(this);
  QStyleOptionTabWidgetFrame frame;
  frame.initFrom(this);
  frame.rect = rect().adjusted(0, tabs_->height() - 1, 0, 0);
  frame.tabBarSize = tabs_->size();
  style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

void CDovraneTabCtrl::Relayout() {
  if (!host_tree_) return;
  const int w = width();
  const int bottom = height() - kTreeBottomGap;
  // The host tree keeps its right edge, unless the labels right of the
  // divider would no longer fit (a window made narrower after a drag).
  // Edges are exclusive here: the divider lies one pixel right of the host
  // tree, the project tree one pixel right of the divider.
  const int search_right = Button(kSearchButton)->geometry().right() + 1;
  const int widest = w - kRightGap - path_caption_->width() - path_label_->width();
  int host_right = host_tree_->x() + host_tree_->width();
  if (host_right + 1 > widest) host_right = std::max(widest, search_right) - 1;
  host_tree_->setGeometry(kTreeLeft, kTreeTop, std::max(host_right - kTreeLeft, 0), bottom - kTreeTop);
  divider_->setGeometry(host_right + 1, kTreeTop, 2, bottom - kTreeTop);
  const int project_left = host_right + 4;
  project_tree_->setGeometry(project_left, kTreeTop, std::max(w - kRightGap - project_left, 0), bottom - kTreeTop);
  path_caption_->move(project_left, kLabelTop);
  PlaceLabels();
}

void CDovraneTabCtrl::PlaceLabels() {
  path_label_->move(path_caption_->geometry().right() + 1, kLabelTop);
  path_caption_->show();
  path_label_->show();
}

bool CDovraneTabCtrl::DragDivider(int x) {
  if (!host_tree_) return false;
  const int w = width();
  if (x + path_caption_->width() + path_label_->width() > w - kRightGap || x == last_drag_x_) return false;
  if (x < Button(kSearchButton)->geometry().right() + 1) return false;
  last_drag_x_ = x;
  const int bottom = height() - kTreeBottomGap;
  host_tree_->setGeometry(kTreeLeft, kTreeTop, x - 1 - kTreeLeft, bottom - kTreeTop);
  divider_->move(x, divider_->y());
  project_tree_->setGeometry(x + 3, kTreeTop, std::max(w - kRightGap - (x + 3), 0), bottom - kTreeTop);
  path_caption_->move(x + 3, kLabelTop);
  PlaceLabels();
  return true;
}

void CDovraneTabCtrl::SetDataPath(const QString& text, bool enable) {
  data_path_ = text;
  if (!path_label_) return;
  path_label_->setText(text);
  // The label grows with its text; its place and height stay.
  path_label_->resize(TextWidth(path_label_, text), path_label_->height());
  Button(kNewProjectButton)->setEnabled(enable);
}

void CDovraneTabCtrl::RequestRefill() {
  QMetaObject::invokeMethod(this, [this] { RunCommand(kRefreshButton); }, Qt::QueuedConnection);
}

void CDovraneTabCtrl::CollapseHosts() {
  if (!host_tree_ || !host_tree_->model()) return;
  QAbstractItemModel* model = host_tree_->model();
  const QModelIndex root = host_tree_->rootIndex();
  for (int row = 0; row < model->rowCount(root); ++row) host_tree_->collapse(model->index(row, 0, root));
}

void CDovraneTabCtrl::SetCommand(int id, std::function<void()> command) {
  if (id >= kRefreshButton && id <= kNewProjectButton) commands_[id - kRefreshButton] = std::move(command);
}

void CDovraneTabCtrl::RunCommand(int id) {
  if (id < kRefreshButton || id > kNewProjectButton) return;
  if (id == kRefreshButton && dialog_) {
    dialog_->OnRefreshButton();
    return;
  }
  if (commands_[id - kRefreshButton]) commands_[id - kRefreshButton]();
}

}  // namespace dovrane::ui
