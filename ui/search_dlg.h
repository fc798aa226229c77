// The search row's walk: the small box that stops at each match of the host
// tree and asks whether to go on or stop there, and the search that steps
// through the matches without a message loop of its own.
#pragma once

#include <QDialog>
#include <QPersistentModelIndex>
#include <memory>
#include <string>

class QPushButton;

namespace dovrane::tree {
class CDovraneTreeCtrl;
class SearchWalk;
}  // namespace dovrane::tree

namespace dovrane::ui {

// Modeless, hidden until the first match. Neither button closes it.
class CDovraneSearchDlg : public QDialog {
  Q_OBJECT

 public:
  // centre_on: the main window it is centred on.
  explicit CDovraneSearchDlg(QWidget* centre_on, QWidget* parent = nullptr);
  QPushButton* ContinueButton() const { return continue_; }
  QPushButton* CancelButton() const { return cancel_; }

 signals:
  void continueRequested();
  void stopRequested();

 protected:
  void reject() override;  // Escape
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* centre_on_;
  QPushButton* continue_;
  QPushButton* cancel_;
};

// One search over the host tree: selects each match in turn and shows the box
// there. Ends with finished(item, beep): the item the user stopped at (and no
// beep), or none when the walk ran through the tree (beep). A refill of the
// trees during the walk ends it there.
class TreeSearch : public QObject {
  Q_OBJECT

 public:
  TreeSearch(tree::CDovraneTreeCtrl* host_tree, QWidget* centre_on, QObject* parent = nullptr);
  ~TreeSearch() override;
  // Collapses the hosts and goes to the first match; an empty text only
  // ends the search (with the beep).
  void Start(const std::string& text, uint32_t mask);
  CDovraneSearchDlg* Box() const { return box_.get(); }
  bool Running() const { return walk_ != nullptr; }

 signals:
  void finished(const QModelIndex& item, bool beep);

 private:
  void Step();
  void Finish(const QModelIndex& item, bool beep);

  tree::CDovraneTreeCtrl* host_tree_;
  std::unique_ptr<CDovraneSearchDlg> box_;
  std::unique_ptr<tree::SearchWalk> walk_;
  QPersistentModelIndex current_;
  QMetaObject::Connection refill_;
};

}  // namespace dovrane::ui
