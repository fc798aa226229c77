// The data-server browse dialog: the administrator picks the place of a data
// server on the network (workgroup, computer, share, folders below it) or a
// plain directory that becomes a new data server. Every listing runs on a
// worker thread; the window never waits for the network. The first level is
// shown at once from data.cfg's hosts and the UNC root's folders, the network's
// computers join when they answer, computers still being asked are marked, and
// an empty or failed browse says why. With pinging on, every computer shown
// is pinged off the window's thread; one that does not answer is shown so.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

#include "network/network_enumerator.h"
#include "platform/path_map.h"
#include "services/worker_runner.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidgetItem;

namespace dovrane::network {

class CTreeCtrlBrowseNetwork;

// 0: the host answered (the ping's own codes otherwise).
using BrowsePing = std::function<int(const std::string& host, int timeout_ms)>;
// Each computer's ping waits at most this long, as the system's did.
inline constexpr int kBrowsePingTimeoutMs = 100;

class CDlgBrowseNetwork : public QDialog {
  Q_OBJECT

 public:
  // mode 3: this computer only; any other: the whole network. browse answers
  // for the network (libsmbclient), unc_root for the folders below the UNC root.
  // ping_hosts: the main window's ping-allowed flag; ping null: the system's ping.
  // paths: the installation's path map (for the advice on shares not mounted).
  CDlgBrowseNetwork(std::shared_ptr<NetworkEnumerator> browse, std::shared_ptr<NetworkEnumerator> unc_root,
                    const platform::PathMap& paths, int mode, QWidget* parent = nullptr, bool ping_hosts = true, BrowsePing ping = nullptr);

  QString ChosenPath() const { return chosen_; }
  bool Created() const { return created_; }

  CTreeCtrlBrowseNetwork* tree() const { return tree_; }
  QComboBox* domains() const { return domains_; }
  QLineEdit* pathField() const { return path_; }
  QLineEdit* searchField() const { return search_; }
  // The status bar's part 0, "Domain: %s".
  QLabel* domainStatus() const { return domain_label_; }
  QPushButton* searchButton() const { return search_button_; }
  QPushButton* okButton() const { return ok_; }
  // The line that says what the network answered (errors, advice, waits).
  QLabel* note() const { return note_; }
  // Listings asked for and not yet answered.
  int Pending() const { return pending_; }
  // Listing threads of all dialogs that have not ended yet (a closed
  // dialog's included): tests wait for them before the installation goes.
  static int RunningListings();

 signals:
  // A worker's result was applied in the window.
  void Answered();

 public slots:
  void accept() override;

 private:
  void Start();
  // expand_all: every computer stays expandable, answering or not.
  void ShowComputers(const std::vector<std::string>& hosts, bool bold_own, bool expand_all);
  // Pings the computers not pinged yet, in small batches on workers.
  void PingComputers(const std::vector<QString>& names, bool expand_all);
  // Lists the computers of domain index; then selects select (if not empty).
  void ShowDomain(int index, const QString& select);
  // Selects and shows the computer, or beeps when the tree has none of that name.
  void SelectComputer(const QString& name);
  void OnExpanded(QTreeWidgetItem* item);
  void OnSelection();
  void OnDomain(int index);
  void OnSearch();
  void SetNote(const QString& text);
  void UpdateStatus();
  // Runs work on a worker; apply gets its result in the window's thread,
  // unless the window is gone by then.
  template <class T>
  void Async(std::function<T()> work, std::function<void(T)> apply);

  std::shared_ptr<NetworkEnumerator> browse_, unc_root_;
  const platform::PathMap& paths_;
  int mode_;
  bool ping_hosts_;
  BrowsePing ping_;
  CTreeCtrlBrowseNetwork* tree_;
  QComboBox* domains_;
  QLineEdit* path_;
  QLineEdit* search_;
  QPushButton* search_button_;
  QPushButton* ok_;
  QLabel* domain_label_;
  QLabel* hosts_label_;
  QLabel* note_;
  QString own_domain_;
  QString shown_domain_;  // the status bar's domain
  QString chosen_;
  bool created_ = false;
  int pending_ = 0;
  std::vector<std::string> domain_names_;
  int domain_generation_ = 0;
  // The listings: a computer that never answers holds only its own thread,
  // and the dialog never waits for one when it goes (grace 0).
  services::WorkerRunner listings_;
};

// Opens the dialog modally over parent. 1 and the chosen path (at most 260
// characters) when confirmed, else 0 and an empty path; *created: Prj was made.
// ping_hosts: the main window's ping-allowed flag.
[[nodiscard]] int BrowseForDataServer(const platform::PathMap& paths, QString* path, QWidget* parent, int mode,
                                      int* created, int ping_hosts = 1);

}  // namespace dovrane::network
