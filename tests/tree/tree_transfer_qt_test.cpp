#include "tree/tree_transfer_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <deque>
#include <fstream>
#include <memory>

#include "app/projects/named_ui_text.h"
#include "app/projects/project_error.h"
#include "extlib/records/prj_record.h"
#include "services/ui_text_table.h"
#include "support/sample_site.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "tree/project_copy.h"
#include "tree/project_trees_qt.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/main_window_qt.h"
#include "tree/prj_name_cut_dlg.h"
#include "tree/transfer_check.h"

namespace dovrane::tree {
namespace {

using namespace ui;  // the main window that the commands are driven through

using Model = tree::ProjectTreeModel;

// The window on a sample installation with four hosts: SRV1 the
// administration host, SRV2 checked out, SRV4 free, and SRV9, a host of
// data.cfg without projects that does not answer. The
// projects the tests move are made on SRV1; project 2 is checked out.
class TreeTransferTest : public ::testing::Test {
 protected:
  static constexpr char kLong[] = "A project whose name is long enough to grow";  // 43 characters

  void SetUp() override {
    site_.Activate();
    for (const char* name : {"Transfer one", kLong}) ASSERT_EQ(site_.Run({name, "-create", "SRV1"}).status, 0);
    site_.EditRecord(2, [](extlib::PRJ* r) { r->status = extlib::StatusCharacter(extlib::kStatusProjectOut); });
    std::ofstream(site_.NetDir() + "/SRV2.out") << "SRV2\n";
    std::ofstream(site_.NetDir() + "/data.cfg", std::ios::app) << "SRV9 \\cad\n";
    window_ = std::make_unique<MainWindow>();
    window_->trees().SetChecks([](const std::string& host, int) { return host == "SRV9" ? 10060 : 0; }, 300);
    QObject::connect(&window_->messenger(), &services::GuiMessenger::boxShown, [this](QMessageBox* box) {
      boxes_.push_back(box->text());
      QMessageBox::StandardButton answer = QMessageBox::Ok;
      if (box->button(QMessageBox::Yes)) {
        answer = answers_.empty() ? QMessageBox::No : answers_.front();
        if (!answers_.empty()) answers_.pop_front();
      }
      QTimer::singleShot(0, box, [box, answer] { box->button(answer)->click(); });
    });
    QSignalSpy checked(&window_->trees(), &tree::ProjectTrees::hostChecked);
    window_->dialog().show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return checked.count() >= 5; }, 10000));
    ASSERT_EQ(model()->data(model()->HostIndex("SRV2"), Model::kKindRole).toUInt(), tree::kKindHostOutFile);
    ASSERT_EQ(model()->data(model()->HostIndex("SRV9"), Model::kKindRole).toUInt(), tree::kKindUnreachableHost);
  }

  Model* model() { return window_->trees().model(); }
  TreeTransfer& Transfer() { return window_->transfer(); }
  QModelIndex Project(const std::string& host, const std::string& name) {
    const QModelIndex h = model()->HostIndex(host);
    for (int row = 0; h.isValid() && row < model()->rowCount(h); ++row) {
      const QModelIndex item = model()->index(row, 0, h);
      if (item.data().toString() == QString::fromStdString(name)) return item;
    }
    return {};
  }
  QModelIndex NumberTwo() {
    extlib::PRJ record;
    EXPECT_TRUE(site_.Record(2, &record));
    return Project(record.host, site_.Name(2));
  }
  // Waits for the run's end and for the trees to show the project on host.
  int Finish(const std::string& host, const std::string& name) {
    QSignalSpy finished(&Transfer(), &TreeTransfer::finished);
    if (!QTest::qWaitFor([&] { return finished.count() == 1; }, 20000)) return -100;
    EXPECT_TRUE(QTest::qWaitFor([&] { return Project(host, name).isValid(); }, 10000)) << name << " on " << host;
    return finished.front().front().toInt();
  }
  testing::InstallationState State() { return site_.State(); }

  testing::SampleSite site_{4, 4};
  std::unique_ptr<MainWindow> window_;
  std::deque<QMessageBox::StandardButton> answers_;
  QStringList boxes_;
};

TEST_F(TreeTransferTest, AMarkedMoveShowsItsImageAndIsPastedOntoTheHost) {
  ASSERT_FALSE(Transfer().TransferPending());
  Transfer().Run(tree::kCmdMarkMove, Project("SRV1", "Transfer one"));
  EXPECT_EQ(Project("SRV1", "Transfer one").data(Model::kImageRole).toInt(), TransferMarkImage(tree::kKindProject, true));
  ASSERT_TRUE(Transfer().TransferPending());
  answers_ = {QMessageBox::Yes};
  ASSERT_TRUE(Transfer().PasteOnto(model()->HostIndex("SRV4")));
  // The window's own write is no outside change; nothing else starts meanwhile.
  EXPECT_EQ(window_->dialog().outside_change.load(), 0);
  EXPECT_FALSE(Transfer().TransferPending());
  EXPECT_EQ(Finish("SRV4", "Transfer one"), 0);
  EXPECT_FALSE(Project("SRV1", "Transfer one").isValid());
  EXPECT_EQ(Project("SRV4", "Transfer one").data(Model::kImageRole).toInt(), TransferMarkImage(tree::kKindProject, false));
  EXPECT_EQ(window_->dialog().outside_change.load(), 1);
  EXPECT_FALSE(Transfer().TransferPending());
  ASSERT_EQ(boxes_.size(), 1);
  EXPECT_TRUE(boxes_[0].contains("Transfer one") && boxes_[0].contains("SRV4")) << boxes_[0].toStdString();
}

TEST_F(TreeTransferTest, AMarkedCopyIsPastedUnderItsNewNameAndAnotherMarkTakesTheImageBack) {
  Transfer().MarkForMove(Project("SRV1", kLong));
  ASSERT_TRUE(Transfer().MarkForCopy(Project("SRV1", "Transfer one")));
  EXPECT_EQ(Project("SRV1", kLong).data(Model::kImageRole).toInt(), TransferMarkImage(tree::kKindProject, false));
  EXPECT_EQ(Project("SRV1", "Transfer one").data(Model::kImageRole).toInt(), TransferMarkImage(tree::kKindProject, false));
  answers_ = {QMessageBox::Yes};
  ASSERT_TRUE(Transfer().PasteOnto(model()->HostIndex("SRV4")));
  const std::string copy = tree::CopyName("Transfer one");
  EXPECT_EQ(Finish("SRV4", copy), 0);
  EXPECT_TRUE(Project("SRV1", "Transfer one").isValid());
  EXPECT_EQ(testing::ConsistencyProblems(State()), "");
  EXPECT_FALSE(Transfer().TransferPending());
}

TEST_F(TreeTransferTest, EveryRefusedPasteShowsItsMessageAndChangesNothing) {
  struct Case {
    bool copy;
    const char* target;
    std::string message;
  };
  const testing::InstallationState before = State();
  for (const Case& c : {Case{false, "SRV1", app::NamedUiText(3, 6, "Transfer one")},
                        Case{false, "SRV2", app::ProjectErrorText(app::kPrjHostCheckedOut) + "\n"},
                        Case{true, "SRV2", app::ProjectErrorText(app::kPrjHostCheckedOut) + "\n"},
                        Case{false, "SRV9", "No access to host <SRV9>\n"},
                        Case{true, "SRV9", "No access to host <SRV9>\n"}}) {
    boxes_.clear();
    c.copy ? Transfer().MarkForCopy(Project("SRV1", "Transfer one")) : Transfer().MarkForMove(Project("SRV1", "Transfer one"));
    EXPECT_FALSE(Transfer().PasteOnto(model()->HostIndex(c.target))) << c.target;
    ASSERT_EQ(boxes_.size(), 1) << c.target;  // the message only, no question
    EXPECT_EQ(boxes_[0].toStdString(), c.message);
    EXPECT_TRUE(Transfer().TransferPending());
  }
  // A project that is not free is not marked at all.
  boxes_.clear();
  EXPECT_FALSE(Transfer().MarkForMove(NumberTwo()));
  EXPECT_EQ(boxes_.size(), 1);
  EXPECT_TRUE(State() == before);
}

TEST_F(TreeTransferTest, ADeclinedPasteChangesNothingAndKeepsTheMark) {
  const testing::InstallationState before = State();
  Transfer().MarkForMove(Project("SRV1", "Transfer one"));
  answers_ = {QMessageBox::No};
  EXPECT_FALSE(Transfer().PasteOnto(model()->HostIndex("SRV4")));
  EXPECT_EQ(boxes_.size(), 1);
  EXPECT_TRUE(State() == before);
  EXPECT_TRUE(Transfer().TransferPending());
  EXPECT_EQ(window_->dialog().outside_change.load(), 1);
}

TEST_F(TreeTransferTest, TheDragCarriesOnlyAFreeProjectAndOnlyHostsTakeIt) {
  const QModelIndex free = Project("SRV1", "Transfer one");
  EXPECT_TRUE(model()->flags(free) & Qt::ItemIsDragEnabled);
  EXPECT_FALSE(model()->flags(NumberTwo()) & Qt::ItemIsDragEnabled);
  EXPECT_EQ(model()->mimeData({NumberTwo()}), nullptr);
  std::unique_ptr<QMimeData> data(model()->mimeData({free}));
  ASSERT_TRUE(data);
  struct Case {
    QModelIndex parent;
    int row;
    Qt::DropAction action;
    bool accepted;
  };
  const QModelIndex srv4 = model()->HostIndex("SRV4");
  for (const Case& c : {Case{srv4, -1, Qt::MoveAction, true}, Case{srv4, -1, Qt::CopyAction, true},
                        Case{srv4, -1, Qt::LinkAction, false}, Case{srv4, 0, Qt::MoveAction, false},
                        Case{model()->HostIndex("SRV1"), -1, Qt::MoveAction, false},
                        Case{model()->HostIndex("SRV1"), -1, Qt::CopyAction, false},
                        Case{model()->HostIndex("SRV2"), -1, Qt::MoveAction, false},
                        Case{model()->HostIndex("SRV9"), -1, Qt::CopyAction, false},
                        Case{free, -1, Qt::MoveAction, false}, Case{QModelIndex(), -1, Qt::MoveAction, false}}) {
    EXPECT_EQ(model()->canDropMimeData(data.get(), c.action, c.row, 0, c.parent), c.accepted)
        << c.parent.data().toString().toStdString() << " row " << c.row << " action " << c.action;
  }
}

TEST_F(TreeTransferTest, DropDataFromElsewhereIsRefused) {
  const QModelIndex srv4 = model()->HostIndex("SRV4");
  extlib::PRJ two;
  ASSERT_TRUE(site_.Record(2, &two));
  for (const std::string& payload : {std::string(two.host) + "\n" + site_.Name(2), std::string("SRV1\nNo such"),
                                     std::string("SRV1 Transfer one"), std::string("SRV1\nTransfer one\nx"),
                                     std::string("SRV1\n") + std::string(51, 'x'), std::string("SRV1\n")}) {
    QMimeData data;
    data.setData(QString::fromLatin1(Model::kProjectMimeType), QByteArray::fromStdString(payload));
    EXPECT_FALSE(model()->canDropMimeData(&data, Qt::MoveAction, -1, 0, srv4)) << payload;
    EXPECT_FALSE(model()->dropMimeData(&data, Qt::MoveAction, -1, 0, srv4)) << payload;
  }
  QCoreApplication::processEvents();
  EXPECT_TRUE(boxes_.isEmpty());
}

TEST_F(TreeTransferTest, ADropMovesAndADropWithCtrlCopies) {
  const QModelIndex srv4 = model()->HostIndex("SRV4");
  std::unique_ptr<QMimeData> data(model()->mimeData({Project("SRV1", "Transfer one")}));
  answers_ = {QMessageBox::Yes};
  ASSERT_TRUE(model()->dropMimeData(data.get(), Qt::CopyAction, -1, 0, srv4));
  EXPECT_EQ(Finish("SRV4", tree::CopyName("Transfer one")), 0);
  EXPECT_TRUE(Project("SRV1", "Transfer one").isValid());

  data.reset(model()->mimeData({Project("SRV1", "Transfer one")}));
  answers_ = {QMessageBox::Yes};
  ASSERT_TRUE(model()->dropMimeData(data.get(), Qt::MoveAction, -1, 0, model()->HostIndex("SRV4")));
  EXPECT_EQ(Finish("SRV4", "Transfer one"), 0);
  EXPECT_FALSE(Project("SRV1", "Transfer one").isValid());
  EXPECT_EQ(boxes_.size(), 2);  // the two questions
  EXPECT_EQ(testing::ConsistencyProblems(State()), "");
}

TEST_F(TreeTransferTest, ACopyNameLongerThanFiftyIsCutByThePersonFirst) {
  ASSERT_TRUE(tree::NeedsNameCut(tree::CopyName(kLong)));
  struct Case {
    bool accept;
    const char* typed;
  };
  for (const Case& c : {Case{false, ""}, Case{true, "Shortened copy"}}) {
    boxes_.clear();
    const testing::InstallationState before = State();
    ASSERT_TRUE(Transfer().MarkForCopy(Project("SRV1", kLong)));
    QString proposed;
    QTimer::singleShot(0, [&] {
      auto* cut = qobject_cast<CPrjNameCutDialog*>(QApplication::activeModalWidget());
      ASSERT_TRUE(cut);
      proposed = cut->NameEdit()->text();
      cut->NameEdit()->setText(c.typed);
      (c.accept ? cut->OkButton() : cut->CancelButton())->click();
    });
    answers_ = {QMessageBox::Yes};
    EXPECT_EQ(Transfer().PasteOnto(model()->HostIndex("SRV4")), c.accept);
    EXPECT_EQ(proposed.size(), CPrjNameCutDialog::kMaxNameLength);
    if (!c.accept) {
      EXPECT_TRUE(boxes_.isEmpty());  // no question after Cancel
      EXPECT_TRUE(State() == before);
      continue;
    }
    EXPECT_EQ(Finish("SRV4", c.typed), 0);
  }
}

TEST_F(TreeTransferTest, ADragRestingOnAHostOpensItAndClosesTheOneOpenedBefore) {
  tree::CDovraneTreeCtrl* hosts = window_->dialog().TabCtrl()->HostTree();
  std::unique_ptr<QMimeData> data(model()->mimeData({Project("SRV1", "Transfer one")}));
  auto hover = [&](const char* host) {
    const QModelIndex item = model()->HostIndex(host);
    hosts->scrollTo(item);
    const QPoint at = hosts->visualRect(item).center();
    // Qt delivers a move only to the widget the drag entered.
    QDragEnterEvent enter(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(hosts->viewport(), &enter);
    QDragMoveEvent move(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(hosts->viewport(), &move);
    return item;
  };
  hosts->CollapseTopLevel();
  const QModelIndex srv4 = hover("SRV4");
  EXPECT_FALSE(hosts->isExpanded(srv4));  // not at once
  EXPECT_TRUE(QTest::qWaitFor([&] { return hosts->isExpanded(srv4); }, 3000));
  const QModelIndex srv1 = hover("SRV1");
  EXPECT_TRUE(QTest::qWaitFor([&] { return hosts->isExpanded(srv1); }, 3000));
  EXPECT_FALSE(hosts->isExpanded(srv4));
  QDragLeaveEvent leave;
  QApplication::sendEvent(hosts->viewport(), &leave);
}

}  // namespace
}  // namespace dovrane::tree
