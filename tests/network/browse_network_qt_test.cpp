#include "network/browse_network_dlg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <condition_variable>
#include <map>
#include <mutex>

#include "network/browse_network_tree_ctrl.h"
#include "network/unc_root_enumerator.h"
#include "platform/messenger.h"
#include "platform/ping.h"
#include "services/ui_text_table.h"
#include "support/fake_enumerator.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"
#include "support/stall_bound.h"
#include "ui/stall_meter_qt.h"

namespace dovrane::network {
namespace {

using Tree = CTreeCtrlBrowseNetwork;

// Answers the dialog's pings from a table (0 for a name not in it); a held
// name answers only when released, as a dead computer that is still asked.
struct FakePing {
  std::mutex mutex;
  std::condition_variable released;
  std::map<std::string, int> codes;
  std::string held;
  int asked = 0;
  int Ping(const std::string& host, int) {
    std::unique_lock<std::mutex> lock(mutex);
    ++asked;
    released.wait_for(lock, std::chrono::seconds(20), [&] { return held != host; });
    auto it = codes.find(host);
    return it == codes.end() ? 0 : it->second;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      held.clear();
    }
    released.notify_all();
  }
};

class BrowseNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net_ = std::make_shared<testing::FakeEnumerator>();
    net_->Set("", {NetError::kNone, {{"BUERO", ""}}});
    net_->Set("BUERO", {NetError::kNone, {{"PC7", ""}}});
    net_->Set("\\\\SRV1", {NetError::kNone, {{"cad", ""}, {"other", ""}}});
    net_->Set("\\\\SRV1\\cad", {NetError::kNone, {{"Net", ""}, {"Prj", ""}}});
    net_->Set("\\\\SRV1\\cad\\Net", {NetError::kNone, {}});
  }
  void TearDown() override {
    net_->Release();
    ping_->Release();
    EXPECT_TRUE(QTest::qWaitFor([] { return CDlgBrowseNetwork::RunningListings() == 0; }, 10000));
  }
  std::unique_ptr<CDlgBrowseNetwork> Open(int mode = 1, bool ping_hosts = true) {
    auto ping = ping_;
    auto d = std::make_unique<CDlgBrowseNetwork>(net_, std::make_shared<UncRootEnumerator>(platform::PathMap::Instance()),
                                                 platform::PathMap::Instance(), mode, nullptr,
                                                 ping_hosts,
                                                 [ping](const std::string& h, int ms) { return ping->Ping(h, ms); });
    d->show();
    return d;
  }
  static QStringList Roots(const CDlgBrowseNetwork& d) {
    QStringList names;
    for (int i = 0; i < d.tree()->topLevelItemCount(); ++i) names << d.tree()->topLevelItem(i)->text(0);
    return names;
  }
  // Expands item and waits for its listing.
  static void Expand(CDlgBrowseNetwork& d, QTreeWidgetItem* item) {
    item->setExpanded(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return d.Pending() == 0 && item->childCount() > 0; }, 5000));
  }
  static QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& name) {
    for (int i = 0; i < item->childCount(); ++i)
      if (item->child(i)->text(0) == name) return item->child(i);
    return nullptr;
  }
  testing::SmallInstallation inst_;
  testing::RecordingMessenger messages_;
  std::shared_ptr<testing::FakeEnumerator> net_;
  std::shared_ptr<FakePing> ping_ = std::make_shared<FakePing>();
};

TEST_F(BrowseNetworkTest, TheFirstLevelIsThereWhileTheNetworkIsStillAsked) {
  net_->Hold("");
  auto d = Open();
  // data.cfg's hosts (SRV1, SRV2 are also the UNC root's folders), without the network.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Roots(*d) == QStringList({"SRV1", "SRV2"}); }, 2000));
  EXPECT_TRUE(d->note()->text().contains("Asking"));
  EXPECT_GT(d->Pending(), 0);
  net_->Release();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
  EXPECT_EQ(Roots(*d), QStringList({"SRV1", "SRV2", "PC7"}));
  EXPECT_EQ(d->domains()->currentText(), "BUERO");
  EXPECT_TRUE(d->note()->text().isEmpty());
}

TEST_F(BrowseNetworkTest, AnEmptyBrowseSaysWhyAndOffersTheKnownHosts) {
  for (NetError e : {NetError::kNoMasterBrowser, NetError::kSmb1Refused}) {
    net_->Set("", {e, {}});
    auto d = Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
    EXPECT_TRUE(d->note()->text().contains(QString::fromStdString(NetErrorText(e)))) << d->note()->text().toStdString();
    EXPECT_EQ(Roots(*d), QStringList({"SRV1", "SRV2"}));
  }
}

TEST_F(BrowseNetworkTest, AComputerBeingAskedIsMarkedAndItsDataServersFound) {
  auto d = Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
  QTreeWidgetItem* srv1 = d->tree()->FindRootItemByText("srv1");
  ASSERT_NE(srv1, nullptr);
  net_->Hold("\\\\SRV1");
  srv1->setExpanded(true);
  EXPECT_TRUE(srv1->text(0).contains("asking"));
  net_->Release();
  ASSERT_NO_FATAL_FAILURE(Expand(*d, srv1));
  EXPECT_EQ(srv1->text(0), "SRV1");
  QTreeWidgetItem* cad = Child(srv1, "cad");
  ASSERT_NE(cad, nullptr);
  EXPECT_TRUE(cad->data(0, Tree::kMarkerRole).toBool());
  d->tree()->setCurrentItem(cad);
  EXPECT_EQ(d->pathField()->text(), "\\\\SRV1\\cad");
  EXPECT_TRUE(d->okButton()->isEnabled());
  ASSERT_NO_FATAL_FAILURE(Expand(*d, cad));
  d->tree()->setCurrentItem(Child(cad, "Net"));
  EXPECT_EQ(d->pathField()->text(), "\\\\SRV1\\cad\\Net\\*");
  // A share the UNC root has no folder for: how to mount it, and no OK.
  d->tree()->setCurrentItem(Child(srv1, "other"));
  EXPECT_TRUE(d->pathField()->text().isEmpty());
  EXPECT_FALSE(d->okButton()->isEnabled());
  EXPECT_TRUE(d->note()->text().contains("mount -t cifs //SRV1/other")) << d->note()->text().toStdString();
}

TEST_F(BrowseNetworkTest, SearchAddsAReachableComputerAndSaysWhyNotOtherwise) {
  net_->Set("\\\\LAPTOP", {NetError::kNone, {{"daten", ""}}});
  net_->Set("\\\\GONE", {NetError::kNotReachable, {}});
  auto d = Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
  d->searchField()->setText("gone");
  QTest::mouseClick(d->searchButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0 && d->searchButton()->isEnabled(); }, 5000));
  EXPECT_TRUE(d->note()->text().contains(QString::fromStdString(NetErrorText(NetError::kNotReachable))));
  EXPECT_EQ(d->tree()->FindRootItemByText("GONE"), nullptr);
  d->searchField()->setText("laptop");
  QTest::mouseClick(d->searchButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0 && d->searchButton()->isEnabled(); }, 5000));
  // A computer of no listed domain is shown alone, its domain unknown.
  EXPECT_EQ(Roots(*d), QStringList({"LAPTOP"}));
  EXPECT_EQ(d->tree()->currentItem()->text(0), "LAPTOP");
  EXPECT_EQ(d->domains()->currentText(), "?");
  EXPECT_EQ(d->domainStatus()->text(), "Domain: ");
}

TEST_F(BrowseNetworkTest, SearchPingsFirstAndSwitchesToTheComputersDomain) {
  net_->Set("", {NetError::kNone, {{"BUERO", ""}, {"LAGER", ""}}});
  net_->Set("LAGER", {NetError::kNone, {{"L1", ""}, {"L2", ""}}});
  ping_->codes["DEAD"] = platform::kPingTimedOut;
  auto d = Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
  const auto Search = [&](const char* name) {
    d->searchField()->setText(name);
    QTest::mouseClick(d->searchButton(), Qt::LeftButton);
    return QTest::qWaitFor([&] { return d->Pending() == 0 && d->searchButton()->isEnabled(); }, 5000);
  };
  const int calls = net_->Calls();
  ASSERT_TRUE(Search("dead"));
  EXPECT_EQ(net_->Calls(), calls);  // a computer that does not answer is not looked for
  EXPECT_TRUE(d->note()->text().contains(QString::fromStdString(platform::PingErrorText(platform::kPingTimedOut))));
  ASSERT_TRUE(Search("l2"));
  EXPECT_EQ(d->domains()->currentText(), "LAGER");
  EXPECT_EQ(d->domainStatus()->text(), "Domain: LAGER");
  EXPECT_EQ(Roots(*d), QStringList({"L1", "L2"}));
  ASSERT_NE(d->tree()->currentItem(), nullptr);
  EXPECT_EQ(d->tree()->currentItem()->text(0), "L2");
}

TEST_F(BrowseNetworkTest, AComputerThatDoesNotAnswerIsShownSoAndTheWindowNeverWaits) {
  ping_->codes["PC7"] = platform::kPingTimedOut;
  ping_->codes["SRV1"] = platform::kPingHostNotFound;
  ping_->held = "SRV2";  // dead: its ping is still under way
  auto d = Open();
  ui::StallMeter meter;
  meter.Start();
  const auto State = [&](const char* name) {
    QTreeWidgetItem* item = d->tree()->FindRootItemByText(name);
    return item ? item->data(0, Tree::kPingRole).toInt() : -1;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return State("PC7") == Tree::kNotAnswering; }, 5000));
  EXPECT_EQ(State("SRV2"), Tree::kPinging);
  EXPECT_TRUE(d->tree()->FindRootItemByText("SRV2")->font(0).italic());
  QTreeWidgetItem* pc7 = d->tree()->FindRootItemByText("PC7");
  EXPECT_EQ(pc7->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
  EXPECT_TRUE(pc7->toolTip(0).contains(QString::fromStdString(platform::PingErrorText(platform::kPingTimedOut))));
  EXPECT_LT(meter.LongestMs(), testing::kStallBoundMs);
  ping_->Release();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
  EXPECT_EQ(State("SRV2"), Tree::kAnswered);
  // A host of data.cfg stays expandable: its folder below the UNC root serves.
  EXPECT_EQ(State("SRV1"), Tree::kNotAnswering);
  EXPECT_EQ(d->tree()->FindRootItemByText("SRV1")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
}

TEST_F(BrowseNetworkTest, WithPingingOffNoComputerIsPinged) {
  auto d = Open(1, false);
  // The hosts of data.cfg and the browsed computer come from two listings.
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0 && Roots(*d).size() == 3; }, 5000));
  QStringList roots = Roots(*d);
  roots.sort();
  EXPECT_EQ(roots, QStringList({"PC7", "SRV1", "SRV2"}));
  EXPECT_EQ(ping_->asked, 0);
  EXPECT_EQ(d->tree()->FindRootItemByText("PC7")->data(0, Tree::kPingRole).toInt(), Tree::kNotPinged);
}

TEST_F(BrowseNetworkTest, OkPreparesAPlainDirectoryAndRefusesAnAdministeredOne) {
  inst_.dir.Write("SRV2/cad/Neu/.keep", "");
  net_->Set("\\\\SRV2", {NetError::kNone, {{"cad", ""}}});
  net_->Set("\\\\SRV2\\cad", {NetError::kNone, {{"Neu", ""}, {"Prj", ""}}});
  net_->Set("\\\\SRV2\\cad\\Neu", {NetError::kNone, {}});
  inst_.dir.Write("SRV2/cad/Prj/project.srv", "ANDERER");
  auto d = Open();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0; }, 5000));
  QTreeWidgetItem* srv2 = d->tree()->FindRootItemByText("SRV2");
  ASSERT_NO_FATAL_FAILURE(Expand(*d, srv2));
  d->tree()->setCurrentItem(Child(srv2, "cad"));
  d->accept();
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->Pending() == 0 && !messages_.texts.empty(); }, 5000));
  EXPECT_EQ(messages_.texts[0], services::UiText(132, 2, "ANDERER"));
  EXPECT_TRUE(d->isVisible());
  ASSERT_NO_FATAL_FAILURE(Expand(*d, Child(srv2, "cad")));
  d->tree()->setCurrentItem(Child(Child(srv2, "cad"), "Neu"));
  messages_.Answer(platform::kIdYes);
  d->accept();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d->isVisible(); }, 5000));
  EXPECT_EQ(d->result(), QDialog::Accepted);
  EXPECT_EQ(d->ChosenPath(), "\\\\SRV2\\cad\\Neu");
  EXPECT_TRUE(d->Created());
  EXPECT_TRUE(inst_.dir.Exists("SRV2/cad/Neu/Prj") && inst_.dir.Exists("SRV2/cad/Neu/Usr"));
  EXPECT_FALSE(inst_.dir.Exists("SRV2/cad/Neu/Usr/__check__"));
}

TEST_F(BrowseNetworkTest, ThisComputerOnlyDisablesTheSearch) {
  auto d = Open(3);
  EXPECT_EQ(d->tree()->topLevelItemCount(), 1);
  EXPECT_FALSE(d->searchButton()->isEnabled());
  EXPECT_FALSE(d->domains()->isEnabled());
}

}  // namespace
}  // namespace dovrane::network
