#include "tree/project_trees_qt.h"

#include <QItemSelectionModel>
#include <algorithm>

#include "extlib/installation/library_init.h"
#include "platform/ping.h"
#include "platform/text_codec.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_kind.h"
#include "tree/status_bar_text.h"
#include "services/post_to_qt.h"
#include "services/qt_text_qt.h"

namespace dovrane::tree {

struct ProjectTrees::FillResult {
  std::unique_ptr<HostTable> table;
  std::string data_path;
  std::string net_directory;  // the installation's Net folder the fill read
};

namespace {

QStringList ToQt(const std::vector<std::string>& parts) {
  QStringList list;
  for (const std::string& part : parts) list << services::FromCp1252(part);
  return list;
}

std::string NetDirectory(extlib::OperationContext& ctx) {
  std::string net = extlib::lfinigC(ctx, extlib::kSlotNet);
  if (!net.empty() && net.back() == '\\') net.pop_back();
  return net;
}

}  // namespace

ProjectTrees::ProjectTrees(QObject* parent)
    : QObject(parent), fill_runner_(services::PostTo(this)), ping_(platform::PingHost) {
  MakeWorker();
}

ProjectTrees::~ProjectTrees() {
  // A fill stuck on the administration host is left behind; it holds only its own copies.
  (void)fill_runner_.Close();
  worker_.reset();
}

void ProjectTrees::SetChecks(PingFunction ping, int time_limit_ms) {
  ping_ = std::move(ping);
  time_limit_ms_ = time_limit_ms;
  MakeWorker();
}

void ProjectTrees::MakeWorker() {
  worker_.reset();
  // Answers come back to the window's thread; a result of an older table is dropped there.
  worker_ = std::make_unique<ItemCheckWorker>(
      time_limit_ms_, ping_,
      [this](uint64_t serial, HostCheckResult result) {
        QMetaObject::invokeMethod(
            this, [this, serial, result = std::move(result)] { OnHostResult(serial, result); }, Qt::QueuedConnection);
      },
      [this](uint64_t, DirectoryCheck check) {
        QMetaObject::invokeMethod(
            this, [this, check = std::move(check)] { OnDirectoryResult(check); }, Qt::QueuedConnection);
      });
}

void ProjectTrees::AttachViews(CDovraneTreeCtrl* host_tree, CDovraneTreeCtrl* project_tree) {
  host_tree_ = host_tree;
  project_tree_ = project_tree;
  for (CDovraneTreeCtrl* tree : {host_tree, project_tree}) {
    tree->setModel(&model_);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this, tree](const QModelIndex& current) { OnCurrentChanged(tree, current); });
    connect(tree, &QTreeView::expanded, this, [this](const QModelIndex& item) {
      if (IsProjectKind(model_.RefOf(item).valid() ? model_.RefOf(item).kind() : 0)) CheckDirectory(item);
    });
    connect(tree, &CDovraneTreeCtrl::itemHovered, this, [this](const QModelIndex& item) {
      ItemRef ref = model_.RefOf(item);
      if (ref.valid() && ref.child < 0) ShowInStatusBar(item);
    });
  }
  // A click on the host already selected reads its projects again.
  connect(host_tree, &QAbstractItemView::clicked, this, [this](const QModelIndex& item) {
    ItemRef ref = model_.RefOf(item);
    if (ref.valid() && !ref.node->parent && ref.child < 0 && item == host_tree_->GetSelectedItem()) {
      ShowHost(static_cast<const HostRecord*>(ref.node)->name);
    }
  });
  project_tree->setRootIndex(QModelIndex());
}

void ProjectTrees::Refill(const std::string& data_path) {
  if (filling_.exchange(true)) {
    refill_pending_ = true;
    pending_data_path_ = data_path;
    return;
  }
  auto input = std::make_shared<FillInput>();
  input->unreachable = marks_;
  input->move_mark = move_mark_;
  auto started = fill_runner_.Start([this, input, data_path](services::WorkerRunner::Job& job) {
    auto result = std::make_shared<FillResult>();
    result->data_path = data_path;
    result->net_directory = NetDirectory(job.context());
    // An administration that cannot be read leaves the trees empty.
    if (ReadFillInput(job.context(), input.get()) != 0) input->snapshot.reset();
    result->table = BuildHostTable(*input);
    return std::function<void()>([this, result] { ApplyFill(result); });
  });
  if (!started) filling_ = false;
}

void ProjectTrees::ApplyFill(const std::shared_ptr<FillResult>& result) {
  selection_guard_ = true;
  ++serial_;
  model_.SetTable(std::move(result->table));
  net_directory_ = result->net_directory;
  // The views lay out their rows now, not on their next turn: nothing asks
  // for rows of the table before (see the model's retired table).
  for (CDovraneTreeCtrl* view : {host_tree_, project_tree_}) {
    if (view) view->doItemsLayout();
  }
  const HostTable& table = model_.table();
  std::string host = result->data_path;
  if (host.empty() && table.FindHost(table.local_computer)) host = table.local_computer;
  if (host.empty() || !table.FindHost(host)) {
    for (const auto& record : table.hosts) {
      if (record->admin) host = record->name;
    }
  }
  QModelIndex selected;  // the host the fill selected: it shows in the status bar
  if (host_tree_) {
    // The host tree shows the host the project tree shows: its selection is
    // kept only where it lies on that host.
    QModelIndex host_index = model_.HostIndex(host);
    QModelIndex top = host_tree_->GetSelectedItem();
    while (top.isValid() && top.parent().isValid()) top = top.parent();
    if (host_index.isValid() && top != host_index) {
      host_tree_->SelectItem(host_index);
      selected = host_index;
    }
  }
  selection_guard_ = false;
  ShowHost(host);
  // The item the status bar named may be gone (a project deleted or moved):
  // it names what is selected now, a project before its host.
  if (!selected.isValid() && project_tree_) selected = project_tree_->GetSelectedItem();
  if (!selected.isValid() && host_tree_) selected = host_tree_->GetSelectedItem();
  if (selected.isValid()) ShowInStatusBar(selected);
  // The ping host list leaves out the checked-out hosts: it is published
  // once every host's check-out file has been looked at.
  hosts_unchecked_ = static_cast<int>(table.hosts.size());
  if (hosts_unchecked_ == 0 && publish_) publish_({});
  // The host whose projects are on screen is checked first.
  std::vector<HostCheckRequest> requests = HostCheckRequests(table, ping_allowed_);
  std::stable_partition(requests.begin(), requests.end(), [this](const HostCheckRequest& request) {
    return platform::EqualsIgnoreCaseCp1252(request.host, current_host_);
  });
  worker_->CheckHosts(serial_, std::move(requests));
  filling_ = false;
  if (refill_pending_) {
    refill_pending_ = false;
    Refill(pending_data_path_);
  }
  emit refilled();
}

void ProjectTrees::ShowHost(const std::string& data_path) {
  const HostRecord* host = model_.table().FindHost(data_path);
  std::string name = host ? host->name : data_path;
  if (project_tree_ && host) {
    QModelIndex root = model_.IndexOf({host, -1});
    if (project_tree_->rootIndex() != root) {
      selection_guard_ = true;
      project_tree_->setRootIndex(root);
      selection_guard_ = false;
    }
  }
  if (name != current_host_) {
    current_host_ = name;
    emit currentHostChanged(services::FromCp1252(name));
  }
}

void ProjectTrees::OnHostResult(uint64_t serial, const HostCheckResult& result) {
  if (serial != serial_) return;
  HostRecord* host = model_.table().FindHost(result.host);
  if (!host) return;
  const uint32_t kind = host->kind;
  const int image = host->image;
  std::vector<ProjectRecord*> changed = ApplyHostCheck(host, result, marks_);
  if (host->kind == kKindDataHost) host->image = HostImage(host->kind, host->name, model_.table().local_computer);
  if (host->kind != kind || host->image != image) model_.NodeChanged(host);
  for (ProjectRecord* project : changed) model_.NodeChanged(project);
  if (--hosts_unchecked_ == 0 && publish_) publish_(model_.table().PingHostNames());
  emit hostChecked(services::FromCp1252(result.host));
}

void ProjectTrees::OnDirectoryResult(const DirectoryCheck& check) {
  HostRecord* host = model_.table().FindHost(check.host);
  ProjectRecord* project = host ? HostTable::FindProject(*host, check.name) : nullptr;
  if (!project) return;
  const bool had_location = !project->location().empty();
  if (ApplyDirectoryCheck(model_.table(), project, check, &marks_)) {
    model_.NodeChanged(project);
    if (!had_location && !project->location().empty()) {
      model_.ChildChanged(project, 0);
      // The status bar's folder part of a selected project waited for this.
      for (CDovraneTreeCtrl* tree : {host_tree_, project_tree_}) {
        if (!tree) continue;
        const QModelIndex selected = tree->GetSelectedItem();
        const ItemRef ref = model_.RefOf(selected);
        if (ref.valid() && ref.child < 0 && ref.node == project) {
          ShowInStatusBar(selected);
          break;
        }
      }
    }
  }
  emit directoryChecked(services::FromCp1252(check.name));
}

void ProjectTrees::CheckDirectory(const QModelIndex& item) {
  ItemRef ref = model_.RefOf(item);
  if (!ref.valid() || ref.child >= 0 || !IsProjectKind(ref.kind())) return;
  const auto* project = static_cast<const ProjectRecord*>(ref.node);
  // Only the free and the unreachable move between the two; a folder whose
  // path is known may have gone since, so it is asked at every selection.
  if (project->kind != kKindProject && project->kind != kKindProjectUnreachable && !project->location().empty()) return;
  worker_->CheckDirectory(serial_, project->host()->name, std::string(project->name()));
}

void ProjectTrees::OnCurrentChanged(CDovraneTreeCtrl* tree, const QModelIndex& item) {
  if (selection_guard_) return;
  ItemRef ref = model_.RefOf(item);
  if (!ref.valid()) return;
  CheckDirectory(item);
  if (tree == host_tree_ && ref.child < 0 && !ref.node->parent) {
    ShowHost(static_cast<const HostRecord*>(ref.node)->name);
  }
  if (ref.child < 0) ShowInStatusBar(item);
}

QStringList ProjectTrees::StatusBarTexts(const QModelIndex& item) const {
  ItemRef ref = model_.RefOf(item);
  return ToQt(ItemStatusBarTexts(ref.node, ref.child, net_directory_));
}

void ProjectTrees::ShowInStatusBar(const QModelIndex& item) { emit statusBarTextsChanged(StatusBarTexts(item)); }

}  // namespace dovrane::tree
