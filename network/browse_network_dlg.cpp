#include "network/browse_network_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <atomic>

#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "network/browse_network_tree_ctrl.h"
#include "network/data_server_choice.h"
#include "network/network_browse.h"
#include "network/smb_enumerator.h"
#include "network/unc_root_enumerator.h"
#include "platform/env.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/ping.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/post_to_qt.h"
#include "services/qt_text_qt.h"
#include "services/ui_text_table.h"

namespace dovrane::network {

namespace {

// The dialog's look-ups on a worker thread: the program's installation (the
// dialog browses for the program itself), messages of the library off as
// before, since the dialog shows its own answer.
class WorkerContext : public extlib::OperationContext {
 public:
  WorkerContext() : OperationContext(extlib::ProcessInstallation()) { library_messages = false; }
};

using Tree = CTreeCtrlBrowseNetwork;

QString Q(const std::string& cp1252) { return services::FromCp1252(cp1252); }
// A path the code page cannot hold is no place: empty.
std::string S(const QString& text) {
  std::string out;
  return services::ToCp1252(text, &out) ? out : std::string();
}
QString Text(int group, unsigned item, const char* args = nullptr) { return Q(services::UiText(group, item, args)); }

// The dialog's notes and counts, lines of one text of the language files.
QString Note(int line, const QString& value = QString()) {
  return Q(extlib::LanguageText(extlib::kBrowseNoteTexts, line, value.isNull() ? std::string() : " " + S(value) + "\x1E"));
}
// Marks an item whose children are being asked for.
QString AskingSuffix() { return QStringLiteral(" (") + Note(3) + QStringLiteral(")"); }

// One child of a listed computer, share or folder, with what the worker found.
struct Child {
  std::string name, path;
  bool marker = false, mounted = true;
};
struct Children {
  NetError error = NetError::kNone;
  std::vector<Child> list;
};

bool IsFolder(extlib::OperationContext& ctx, const std::string& windows) {
  platform::FileInfo info;
  const std::string native = ctx.Native(windows);
  return !native.empty() && ctx.Env().Stat(native, &info) == 0 && info.type == platform::EntryType::kDirectory;
}

// Lists below path (a computer: its shares) on the network, else below the
// UNC root. Whether a child is a data server is looked up below the UNC root,
// where the work on it will happen (one network call per child would cost
// seconds on a large share); a share without its folder there is unusable.
Children ListChildren(extlib::OperationContext& ctx, NetworkEnumerator& net, NetworkEnumerator& unc,
                      const std::string& path, bool computer) {
  Children out;
  NetListing l = computer ? net.Shares(path.substr(2)) : net.Directories(path);
  if (!l.ok()) {
    NetListing local = computer ? unc.Shares(path.substr(2)) : unc.Directories(path);
    if (local.ok()) l = local;
  }
  out.error = l.error;
  for (const NetEntry& e : l.entries) {
    Child c{e.name, path + "\\" + e.name};
    c.marker = IsFolder(ctx, c.path + "\\PRJ");
    if (computer) c.mounted = IsFolder(ctx, c.path);
    out.list.push_back(c);
  }
  return out;
}

void Beep() { QApplication::beep(); }

}  // namespace

namespace {
// Listings still under way, of every dialog, ended or not.
std::atomic<int> g_running_listings{0};
}  // namespace

int CDlgBrowseNetwork::RunningListings() { return g_running_listings.load(); }

template <class T>
void CDlgBrowseNetwork::Async(std::function<T()> work, std::function<void(T)> apply) {
  ++g_running_listings;
  auto job = listings_.Start([work = std::move(work), apply = std::move(apply), this](services::WorkerRunner::Job&) mutable {
    T result = work();
    --g_running_listings;
    return std::function<void()>([this, apply = std::move(apply), result = std::move(result)]() mutable {
      --pending_;
      apply(std::move(result));
      emit Answered();
    });
  });
  if (job) {
    ++pending_;
  } else {
    --g_running_listings;
  }
}

CDlgBrowseNetwork::CDlgBrowseNetwork(std::shared_ptr<NetworkEnumerator> browse,
                                     std::shared_ptr<NetworkEnumerator> unc_root, const platform::PathMap& paths,
                                     int mode, QWidget* parent, bool ping_hosts, BrowsePing ping)
    : QDialog(parent),
      browse_(std::move(browse)),
      unc_root_(std::move(unc_root)),
      paths_(paths),
      mode_(mode),
      ping_hosts_(ping_hosts),
      ping_(ping ? std::move(ping) : BrowsePing(platform::PingHost)),
      listings_(services::PostTo(this), 0) {
  setWindowTitle(Text(1015, 4128));
  setAccessibleName(windowTitle());
  setSizeGripEnabled(true);
  domains_ = new QComboBox(this);
  domains_->setEditable(true);
  domains_->setAccessibleName(QStringLiteral("Domain"));
  tree_ = new Tree(this);
  path_ = new QLineEdit(this);
  path_->setReadOnly(true);
  path_->setAccessibleName(QStringLiteral("Path"));
  auto* search_label = new QLabel(Text(1015, 4130), this);
  search_ = new QLineEdit(this);
  search_->setAccessibleName(search_label->text());
  search_label->setBuddy(search_);
  search_button_ = new QPushButton(Text(1015, 4131), this);
  search_button_->setAccessibleName(search_button_->text());
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QDialogButtonBox::Ok);
  ok_->setAccessibleName(QStringLiteral("OK"));
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setText(Text(114, 1008));
  cancel->setAccessibleName(cancel->text().remove(QLatin1Char('&')));
  domain_label_ = new QLabel(this);
  domain_label_->setAccessibleName(QStringLiteral("Domain status"));
  hosts_label_ = new QLabel(this);
  hosts_label_->setAccessibleName(QStringLiteral("Hosts status"));
  note_ = new QLabel(this);
  note_->setWordWrap(true);
  note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  note_->setAccessibleName(QStringLiteral("Network status"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(domains_, 0, 0, 1, 3);
  grid->addWidget(tree_, 1, 0, 1, 3);
  grid->addWidget(path_, 2, 0, 1, 3);
  grid->addWidget(search_label, 3, 0);
  grid->addWidget(search_, 3, 1);
  grid->addWidget(search_button_, 3, 2);
  grid->addWidget(note_, 4, 0, 1, 3);
  grid->addWidget(domain_label_, 5, 0);
  grid->addWidget(hosts_label_, 5, 1);
  grid->addWidget(buttons, 5, 2);
  resize(480, 520);

  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgBrowseNetwork::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDlgBrowseNetwork::reject);
  connect(tree_, &QTreeWidget::itemExpanded, this, &CDlgBrowseNetwork::OnExpanded);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CDlgBrowseNetwork::OnSelection);
  connect(domains_, qOverload<int>(&QComboBox::activated), this, &CDlgBrowseNetwork::OnDomain);
  connect(search_button_, &QPushButton::clicked, this, &CDlgBrowseNetwork::OnSearch);
  ok_->setEnabled(false);
  own_domain_ = Q(platform::DomainName());
  Start();
}

void CDlgBrowseNetwork::Start() {
  if (mode_ == 3) {
    domains_->setEnabled(false);
    search_->setEnabled(false);
    search_button_->setEnabled(false);
    domains_->setEditText(own_domain_);
    shown_domain_ = own_domain_;
    QTreeWidgetItem* own = tree_->AddComputer(Q(platform::ComputerName()));
    tree_->setCurrentItem(own);
    own->setExpanded(true);
    UpdateStatus();
    return;
  }
  // The first level at once: the hosts the installation knows and the UNC
  // root's folders (a quick local look, still off the window's thread).
  // These stay expandable when they do not answer the ping: their folders
  // below the UNC root are what is worked on.
  auto unc = unc_root_;
  Async<std::vector<std::string>>([unc] { return FallbackHosts(extlib::DefaultContext(), *unc); },
                                  [this](std::vector<std::string> hosts) { ShowComputers(hosts, true, true); });
  SetNote(Note(1));
  struct Browse {
    std::vector<std::string> hosts, domains;
    int own = 0;
    NetError error = NetError::kNone;
  };
  auto net = browse_;
  Async<Browse>(
      [net] {
        Browse b;
        (void)EnumerateWindowsNetwork(*net, &b.hosts, &b.domains, &b.own, &b.error);  // its error says why
        return b;
      },
      [this](Browse b) {
        domain_names_ = b.domains;
        domains_->clear();
        for (const std::string& d : b.domains) domains_->addItem(Q(d));
        if (!b.domains.empty()) {
          domains_->setCurrentIndex(b.own);
          shown_domain_ = Q(b.domains[static_cast<size_t>(b.own)]);
        }
        ShowComputers(b.hosts, true, false);
        if (b.hosts.empty())
          SetNote(Q(NetErrorText(b.error == NetError::kNone ? NetError::kNoMasterBrowser : b.error)) + "\n" +
                  Note(2));
        else
          SetNote(QString());
      });
}

void CDlgBrowseNetwork::ShowComputers(const std::vector<std::string>& hosts, bool bold_own, bool expand_all) {
  const QString own = Q(platform::ComputerName());
  std::vector<QString> to_ping;
  for (const std::string& h : hosts) {
    QTreeWidgetItem* item = tree_->AddComputer(Q(h));
    if (bold_own && item->text(0).compare(own, Qt::CaseInsensitive) == 0) {
      QFont f = item->font(0);
      f.setBold(true);
      item->setFont(0, f);
    }
    if (ping_hosts_ && item->data(0, Tree::kPingRole).toInt() == Tree::kNotPinged) {
      tree_->SetPingState(item, Tree::kPinging, Note(3), true);
      to_ping.push_back(item->text(0));
    }
  }
  UpdateStatus();
  PingComputers(to_ping, expand_all);
}

void CDlgBrowseNetwork::PingComputers(const std::vector<QString>& names, bool expand_all) {
  // A few computers per worker: a thousand computers must not make a
  // thousand threads, and a dead one costs its batch only the ping's limit.
  constexpr size_t kBatch = 8;
  const int generation = domain_generation_;
  for (size_t first = 0; first < names.size(); first += kBatch) {
    std::vector<std::string> batch;
    for (size_t i = first; i < names.size() && i < first + kBatch; ++i) batch.push_back(S(names[i]));
    auto ping = ping_;
    Async<std::vector<int>>(
        [ping, batch] {
          std::vector<int> codes;
          for (const std::string& name : batch) codes.push_back(ping(name, kBrowsePingTimeoutMs));
          return codes;
        },
        [this, batch, generation, expand_all](std::vector<int> codes) {
          if (generation != domain_generation_) return;  // the tree was filled anew meanwhile
          for (size_t i = 0; i < batch.size(); ++i) {
            QTreeWidgetItem* item = tree_->FindRootItemByText(Q(batch[i]));
            if (!item || item->data(0, Tree::kPingRole).toInt() != Tree::kPinging) continue;
            const bool answered = codes[i] == 0;
            tree_->SetPingState(item, answered ? Tree::kAnswered : Tree::kNotAnswering,
                                answered ? QString() : Q(platform::PingErrorText(codes[i])), expand_all);
          }
        });
  }
}

void CDlgBrowseNetwork::OnExpanded(QTreeWidgetItem* item) {
  // Only the first time: a listed item has its children, one being asked its mark.
  if (item->childCount() > 0 || item->data(0, Tree::kAskingRole).toBool()) return;
  const int kind = item->data(0, Tree::kKindRole).toInt();
  const std::string path = S(item->data(0, Tree::kPathRole).toString());
  if (path.empty()) return;
  item->setData(0, Tree::kAskingRole, true);
  item->setText(0, item->text(0) + AskingSuffix());
  auto net = browse_;
  auto unc = unc_root_;
  const bool computer = kind == Tree::kComputer;
  // The item may be gone when the answer comes (a new domain was chosen):
  // it is found again by its path.
  Async<Children>(
      [net, unc, path, computer] {
        WorkerContext ctx;
        return ListChildren(ctx, *net, *unc, path, computer);
      },
      [this, path, computer](Children c) {
        QTreeWidgetItem* item = nullptr;
        for (QTreeWidgetItemIterator it(tree_); *it; ++it)
          if (S((*it)->data(0, Tree::kPathRole).toString()) == path && (*it)->data(0, Tree::kAskingRole).toBool())
            item = *it;
        if (!item) return;
        item->setData(0, Tree::kAskingRole, false);
        QString text = item->text(0);
        text.chop(AskingSuffix().size());
        item->setText(0, text);
        for (const Child& ch : c.list) {
          auto* child = new QTreeWidgetItem(item, {Q(ch.name)});
          child->setData(0, Tree::kKindRole, computer ? Tree::kShare : Tree::kDirectory);
          child->setData(0, Tree::kPathRole, Q(ch.path));
          child->setData(0, Tree::kMarkerRole, ch.marker);
          child->setData(0, Tree::kMountedRole, ch.mounted);
          child->setToolTip(0, Q(ch.path));
          child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        }
        if (c.list.empty()) {
          item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
          Beep();
          SetNote(Q(path) + ": " + Q(NetErrorText(c.error == NetError::kNone ? NetError::kNotFound : c.error)));
        }
      });
}

void CDlgBrowseNetwork::OnSelection() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  const int kind = item->data(0, Tree::kKindRole).toInt();
  if (kind == Tree::kComputer) return;
  const QString path = item->data(0, Tree::kPathRole).toString();
  std::string host, rest;
  SplitUncPath(S(path), &host, &rest);
  const std::string share = rest.substr(0, rest.find('\\'));
  // A place the UNC root has no folder for cannot be worked on: say how to mount it.
  QTreeWidgetItem* share_item = item;
  while (share_item->parent() && share_item->data(0, Tree::kKindRole).toInt() != Tree::kShare)
    share_item = share_item->parent();
  if (!share_item->data(0, Tree::kMountedRole).toBool()) {
    path_->clear();
    ok_->setEnabled(false);
    SetNote(Q(MountAdvice(paths_, host, share)));
    return;
  }
  SetNote(QString());
  if (item->data(0, Tree::kMarkerRole).toBool()) {
    path_->setText(path);
  } else if (kind == Tree::kDirectory) {
    path_->setText(path + "\\*");
  } else {
    path_->clear();
    ok_->setEnabled(false);
    return;
  }
  ok_->setEnabled(true);
  ok_->setFocus();
}

void CDlgBrowseNetwork::OnDomain(int index) { ShowDomain(index, QString()); }

void CDlgBrowseNetwork::ShowDomain(int index, const QString& select) {
  if (index < 0 || static_cast<size_t>(index) >= domain_names_.size()) return;
  tree_->clear();
  path_->clear();
  ok_->setEnabled(false);
  const std::string domain = domain_names_[static_cast<size_t>(index)];
  shown_domain_ = Q(domain);
  UpdateStatus();
  const int generation = ++domain_generation_;
  auto net = browse_;
  struct Hosts {
    std::vector<std::string> hosts;
    NetError error = NetError::kNone;
  };
  SetNote(Note(4));
  Async<Hosts>(
      [net, domain] {
        Hosts h;
        (void)EnumerateHosts(*net, &h.hosts, domain, &h.error);  // its error says why
        return h;
      },
      [this, generation, select](Hosts h) {
        if (!select.isEmpty()) search_button_->setEnabled(true);
        if (generation != domain_generation_) return;  // another domain was chosen meanwhile
        ShowComputers(h.hosts, false, true);
        SetNote(h.hosts.empty() ? Q(NetErrorText(h.error == NetError::kNone ? NetError::kNoMasterBrowser : h.error))
                                : QString());
        if (select.isEmpty()) return;
        // A searched computer the list does not name is still shown.
        if (!tree_->FindRootItemByText(select)) tree_->AddComputer(select);
        SelectComputer(select);
      });
}

void CDlgBrowseNetwork::SelectComputer(const QString& name) {
  QTreeWidgetItem* item = tree_->FindRootItemByText(name);
  if (!item) {
    Beep();
  } else {
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
  }
  tree_->setFocus();
  UpdateStatus();
}

void CDlgBrowseNetwork::OnSearch() {
  const QString name = search_->text().trimmed().toUpper();
  if (name.isEmpty()) {
    Beep();
    return;
  }
  search_button_->setEnabled(false);
  std::vector<std::string> known;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i)
    known.push_back(S(tree_->topLevelItem(i)->data(0, Tree::kPathRole).toString()).substr(2));
  auto net = browse_;
  auto unc = unc_root_;
  auto ping = ping_;
  struct Found {
    int ping = 0;        // the ping's code: not 0, the computer did not answer
    std::string domain;  // the workgroup it is joined to, if the network says
    int rc = -1;         // AddHostIfReachable's
    NetError error = NetError::kNone;
  };
  const std::string wanted = S(name);
  SetNote(Note(5, name));
  Async<Found>(
      [net, unc, ping, wanted, known] {
        Found f;
        f.ping = ping(wanted, kBrowsePingTimeoutMs);
        if (f.ping != 0) return f;
        if (GetJoinedDomain(*net, wanted, &f.domain) == 1) return f;
        std::vector<std::string> hosts = known;
        f.rc = AddHostIfReachable(*net, wanted, &hosts, &f.error);
        // A computer only the UNC root knows is found there.
        if (f.rc < 0 && AddHostIfReachable(*unc, wanted, &hosts, nullptr) == 1) f.rc = 1;
        return f;
      },
      [this, name](Found f) {
        if (f.ping != 0) {
          Beep();
          SetNote(name + ": " + Q(platform::PingErrorText(f.ping)));
          search_button_->setEnabled(true);
          return;
        }
        SetNote(QString());
        if (!f.domain.empty()) {
          // Another domain's computer: that domain is shown, with the computer selected.
          const int index = domains_->findText(Q(f.domain), Qt::MatchStartsWith);
          if (index >= 0) {
            domains_->setCurrentIndex(index);
            ShowDomain(index, name);
            shown_domain_ = Q(f.domain);
            UpdateStatus();
            return;
          }
          shown_domain_ = Q(f.domain);
        } else if (f.rc < 0) {
          SetNote(name + ": " + Q(NetErrorText(f.error == NetError::kNone ? NetError::kNotFound : f.error)));
        } else if (f.rc == 1) {
          // A computer of no listed domain: shown alone, its domain unknown.
          ++domain_generation_;
          tree_->clear();
          path_->clear();
          ok_->setEnabled(false);
          domains_->setEditText(QStringLiteral("?"));
          shown_domain_.clear();
        }
        if ((f.rc >= 0 || !f.domain.empty()) && !tree_->FindRootItemByText(name)) tree_->AddComputer(name);
        SelectComputer(name);
        search_button_->setEnabled(true);
      });
}

void CDlgBrowseNetwork::accept() {
  const QString field = path_->text();
  if (field.isEmpty() || (field.startsWith('\\') && !field.startsWith(QStringLiteral("\\\\")))) {
    Beep();
    return;
  }
  ok_->setEnabled(false);
  const std::string chosen = S(field);
  Async<DataServerChoice>(
      [chosen] {
        WorkerContext ctx;
        return CheckDataServerChoice(ctx, chosen);
      },
      [this](DataServerChoice c) {
        platform::Messenger* m = platform::CurrentMessenger();
        if (c.rc != 1) {
          Beep();
          if (!c.message.empty())
            m->MessageBox(
                c.message, extlib::kCaption,
                (c.error_icon ? platform::kMbIconError : platform::kMbIconInformation) | platform::kMbSetForeground);
          ok_->setEnabled(c.message.empty() || !c.error_icon);
          return;
        }
        const std::string question = services::UiText(132, 3) + "\n\n" + services::UiText(132, 4) + "\n" +
                                     services::UiText(132, 5) + "\n\n" + services::UiText(132, 6);
        const int answer = m->MessageBox(
            question, extlib::kCaption, platform::kMbYesNo | platform::kMbIconInformation | platform::kMbSetForeground);
        ok_->setEnabled(true);
        if (answer == platform::kIdNo) return;
        chosen_ = Q(c.path).left(260);
        created_ = c.created;
        QDialog::accept();
      });
}

void CDlgBrowseNetwork::SetNote(const QString& text) {
  note_->setText(text);
  note_->setVisible(!text.isEmpty());
}

void CDlgBrowseNetwork::UpdateStatus() {
  domain_label_->setText(Note(6, shown_domain_));
  hosts_label_->setText(Note(7, QString::number(tree_->topLevelItemCount())));
}

int BrowseForDataServer(const platform::PathMap& paths, QString* path, QWidget* parent, int mode, int* created,
                        int ping_hosts) {
  path->clear();
  if (created) *created = 0;
  CDlgBrowseNetwork dialog(std::make_shared<SmbEnumerator>(SmbOptions{}), std::make_shared<UncRootEnumerator>(paths),
                           paths, mode, parent, ping_hosts != 0);
  if (dialog.exec() != QDialog::Accepted) return 0;
  *path = dialog.ChosenPath();
  if (created) *created = dialog.Created() ? 1 : 0;
  return 1;
}

}  // namespace dovrane::network
