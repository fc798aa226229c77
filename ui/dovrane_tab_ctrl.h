// The tab page of the main window: the host tree and the project tree (two
// views of the dialog's one model) with the divider between them, the two
// labels above them and the search row. The page controls sit at fixed
// coordinates in the control's own area, below the tab strip.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QLineEdit;
class QTabBar;

namespace dovrane::tree {
class CDovraneTreeCtrl;
class ProjectTreeModel;
}  // namespace dovrane::tree

namespace dovrane::ui {

class CBmButton;
class CDivider;
class CDovraneDlg;

class CDovraneTabCtrl : public QWidget {
  Q_OBJECT

 public:
  // Command identifiers of the search row's buttons.
  static constexpr int kRefreshButton = 4131;
  static constexpr int kSearchButton = 4132;
  static constexpr int kPathButton = 4133;
  static constexpr int kNewProjectButton = 4134;

  explicit CDovraneTabCtrl(QWidget* parent = nullptr);

  // Makes the trees, the divider, the search row and the labels at their
  // places in the control's current size; the trees show `model`.
  void CreatePageControls(tree::ProjectTreeModel* model);
  void SetDialog(CDovraneDlg* dialog) { dialog_ = dialog; }
  int InsertTab(const QString& text);
  // Shows the page controls of the tab (only tab 0 has any).
  void ShowPage(int tab);
  // Places the trees, the divider and the labels for the control's size; the
  // divider keeps its place unless the project tree would end left of it.
  void Relayout();
  // The divider dragged to x (the control's coordinates). False when the move
  // was ignored: the labels would no longer fit right of it, it would pass
  // the search button, or it repeats the last accepted place.
  bool DragDivider(int x);

  void SetDataPath(const QString& text, bool enable);
  QString GetDataPath() const { return data_path_; }
  // A refill as if the refresh button were pressed, once control returns to
  // the event loop (the tree commands ask for it while they still run).
  void RequestRefill();
  void CollapseHosts();

  // What the search, path and new-project buttons do (the tree commands,
  // the search and the data-server registration supply them).
  void SetCommand(int id, std::function<void()> command);
  // Runs the command of a search-row button as if it were clicked.
  void RunCommand(int id);

  tree::CDovraneTreeCtrl* HostTree() const { return host_tree_; }
  tree::CDovraneTreeCtrl* ProjectTree() const { return project_tree_; }
  CDivider* Divider() const { return divider_; }
  QLineEdit* SearchEdit() const { return search_edit_; }
  CBmButton* Button(int id) const;
  QLabel* PathCaption() const { return path_caption_; }
  QLabel* PathLabel() const { return path_label_; }
  QLabel* TreesLabel() const { return trees_label_; }
  QTabBar* Tabs() const { return tabs_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void PlaceLabels();

  QTabBar* tabs_;
  tree::CDovraneTreeCtrl* host_tree_ = nullptr;
  tree::CDovraneTreeCtrl* project_tree_ = nullptr;
  CDivider* divider_ = nullptr;
  QLabel* trees_label_ = nullptr;
  QLabel* path_caption_ = nullptr;
  QLabel* path_label_ = nullptr;
  QLineEdit* search_edit_ = nullptr;
  std::array<CBmButton*, 4> buttons_{};  // 4131..4134
  std::array<std::function<void()>, 4> commands_{};
  CDovraneDlg* dialog_ = nullptr;
  QString data_path_;
  int last_drag_x_ = -1;
};

}  // namespace dovrane::ui
