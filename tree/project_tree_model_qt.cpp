#include "tree/project_tree_model_qt.h"

#include <QMimeData>
#include <algorithm>

#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "tree/item_kind.h"
#include "tree/project_copy.h"
#include "tree/app_icons_qt.h"
#include "services/qt_text_qt.h"

namespace dovrane::tree {

namespace {

QString ToQt(std::string_view cp1252) { return services::FromCp1252(std::string(cp1252)); }

}  // namespace

ProjectTreeModel::ProjectTreeModel(QObject* parent)
    : QAbstractItemModel(parent), table_(std::make_unique<HostTable>()) {}

ProjectTreeModel::~ProjectTreeModel() = default;

QModelIndex ProjectTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || row >= rowCount(parent)) return {};
  if (!parent.isValid()) return createIndex(row, 0, nullptr);
  ItemRef item = RefOf(parent);
  return createIndex(row, 0, const_cast<TreeNode*>(item.node));
}

QModelIndex ProjectTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || !child.internalPointer()) return {};
  auto* node = static_cast<TreeNode*>(child.internalPointer());
  return createIndex(node->row, 0, node->parent);
}

int ProjectTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(table_->hosts.size());
  if (parent.column() != 0) return 0;
  ItemRef item = RefOf(parent);
  if (!item.valid() || item.child >= 0) return 0;
  if (!item.node->parent) return static_cast<const HostRecord*>(item.node)->shown;
  return static_cast<const ProjectRecord*>(item.node)->ChildCount();
}

int ProjectTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool ProjectTreeModel::hasChildren(const QModelIndex& parent) const {
  // A host whose projects have not been given yet still has children: the
  // view shows its expander and fetches them when it opens.
  ItemRef item = RefOf(parent);
  if (item.valid() && item.child < 0 && !item.node->parent && parent.column() == 0)
    return !static_cast<const HostRecord*>(item.node)->projects.empty();
  return rowCount(parent) > 0;
}

bool ProjectTreeModel::canFetchMore(const QModelIndex& parent) const {
  ItemRef item = RefOf(parent);
  if (!item.valid() || item.child >= 0 || item.node->parent || parent.column() != 0) return false;
  const auto* host = static_cast<const HostRecord*>(item.node);
  return host->shown < static_cast<int>(host->projects.size());
}

void ProjectTreeModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  auto* host = const_cast<HostRecord*>(static_cast<const HostRecord*>(RefOf(parent).node));
  ShowRows(host, host->shown);
}

void ProjectTreeModel::ShowRows(HostRecord* host, int row) {
  const int size = static_cast<int>(host->projects.size());
  if (row < host->shown || host->shown >= size) return;
  const int end = std::min(size, (row / fetch_batch_ + 1) * fetch_batch_);
  beginInsertRows(createIndex(host->row, 0, nullptr), host->shown, end - 1);
  host->shown = end;
  endInsertRows();
}

QModelIndex ProjectTreeModel::ShownIndex(ItemRef item) {
  if (item.valid() && item.node->parent) {
    const TreeNode* project = item.node;
    ShowRows(static_cast<HostRecord*>(project->parent), project->row);
  }
  return IndexOf(item);
}

ItemRef ProjectTreeModel::RefOf(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  auto* parent = static_cast<const TreeNode*>(index.internalPointer());
  const int row = index.row();
  if (!parent) {
    if (row >= static_cast<int>(table_->hosts.size())) return {};
    return {table_->hosts[row].get(), -1};
  }
  if (!parent->parent) {
    const auto* host = static_cast<const HostRecord*>(parent);
    if (row >= host->shown) return {};
    return {&host->projects[row], -1};
  }
  return {parent, row};
}

QModelIndex ProjectTreeModel::IndexOf(ItemRef item) const {
  if (!item.valid()) return {};
  // A project not given to the views yet has no index.
  const TreeNode* project = item.node->parent ? item.node : nullptr;
  if (project && project->row >= static_cast<const HostRecord*>(project->parent)->shown) return {};
  if (item.child >= 0) return createIndex(item.child, 0, const_cast<TreeNode*>(item.node));
  return createIndex(item.node->row, 0, item.node->parent);
}

QModelIndex ProjectTreeModel::HostIndex(const std::string& name) const {
  const HostRecord* host = table_->FindHost(name);
  return host ? IndexOf({host, -1}) : QModelIndex();
}

QVariant ProjectTreeModel::data(const QModelIndex& index, int role) const {
  ItemRef item = RefOf(index);
  if (!item.valid()) return {};
  const uint32_t kind = item.kind();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return ToQt(item.text());
    case kKindRole:
      return static_cast<quint32>(kind);
    case kImageRole:
    case Qt::DecorationRole: {
      int image = item.child >= 0 ? KindImage(kind) : item.node->image;
      if (role == kImageRole) return image;
      if (image < 0 || image >= kImageCount) return {};
      if (!icon_loaded_[image]) {
        icons_[image] = TreeImage(image);  // the drawings compiled into the program
        icon_loaded_[image] = true;
      }
      return icons_[image];
    }
    case Qt::ToolTipRole: {
      unsigned text = TooltipTextItem(kind);
      return text ? ToQt(services::UiText(kTooltipGroup, text)) : QString::fromLatin1(kNoTipText);
    }
    // A screen reader says what a row's image shows: in use, checked out, not reachable.
    case Qt::AccessibleDescriptionRole: {
      unsigned text = TooltipTextItem(kind);
      return text ? ToQt(services::UiText(kTooltipGroup, text)) : QString();
    }
    default:
      return {};
  }
}

QString ProjectTreeModel::IconPath(int image) {
  return QStringLiteral(":/icons/tree/%1.svg").arg(image, 2, 10, QLatin1Char('0'));
}

QModelIndex ProjectTreeModel::RemapIndex(const QModelIndex& old, const HostTable& next) const {
  ItemRef item = RefOf(old);
  if (!item.valid()) return {};
  const ProjectRecord* project = nullptr;
  const HostRecord* host = nullptr;
  if (!item.node->parent) {
    host = static_cast<const HostRecord*>(item.node);
  } else {
    project = static_cast<const ProjectRecord*>(item.node);
    host = project->host();
  }
  const HostRecord* new_host = next.FindHost(host->name);
  if (!new_host) return {};
  if (!project) return createIndex(new_host->row, 0, nullptr);
  const ProjectRecord* new_project = HostTable::FindProject(*new_host, project->name());
  if (!new_project) return {};
  if (item.child < 0) return createIndex(new_project->row, 0, const_cast<HostRecord*>(new_host));
  if (item.child >= new_project->ChildCount()) return {};
  return createIndex(item.child, 0, const_cast<ProjectRecord*>(new_project));
}

void ProjectTreeModel::SetTable(std::unique_ptr<HostTable> table) {
  emit layoutAboutToBeChanged();
  // A host shows as many projects as before (a first batch at least), and
  // every item a view holds on to (selection, expansion, current) stays shown.
  for (const auto& host : table->hosts) {
    const HostRecord* old_host = table_->FindHost(host->name);
    const int before = old_host ? old_host->shown : 0;
    host->shown = std::min(static_cast<int>(host->projects.size()), std::max(before, fetch_batch_));
  }
  const QModelIndexList old = persistentIndexList();
  QModelIndexList moved;
  moved.reserve(old.size());
  for (const QModelIndex& index : old) {
    QModelIndex next = RemapIndex(index, *table);
    // A project's index (its parent a host) or a child's (its parent a project).
    const auto* parent = static_cast<const TreeNode*>(next.internalPointer());
    if (parent) {
      const bool of_host = !parent->parent;
      auto* host = static_cast<HostRecord*>(const_cast<TreeNode*>(of_host ? parent : parent->parent));
      const int row = of_host ? next.row() : parent->row;
      host->shown = std::max(host->shown, row + 1);
    }
    moved.push_back(next);
  }
  retired_ = std::move(table_);
  table_ = std::move(table);
  changePersistentIndexList(old, moved);
  emit layoutChanged();
}

void ProjectTreeModel::NodeChanged(const TreeNode* node) {
  // A project not shown yet is drawn from its record when it is.
  QModelIndex index = IndexOf({node, -1});
  if (index.isValid()) emit dataChanged(index, index);
}

void ProjectTreeModel::ChildChanged(const ProjectRecord* project, int child_row) {
  if (!IndexOf({project, -1}).isValid()) return;
  QModelIndex index = IndexOf({project, child_row});
  emit dataChanged(index, index);
}

}  // namespace dovrane::tree

namespace dovrane::tree {

namespace {

// A project's host and name as the drag carries them: "host\nname".
constexpr qsizetype kMaxDragData = 256;
constexpr size_t kMaxHostName = 64;

bool IsHostItem(const ItemRef& item) { return item.valid() && item.child < 0 && !item.node->parent; }

}  // namespace

bool ProjectTreeModel::ReadDraggedProject(const QMimeData* data, DraggedProject* project) {
  // A drop may come from any program: one short line pair of plain names only.
  if (!data || !data->hasFormat(QLatin1String(kProjectMimeType))) return false;
  const QByteArray bytes = data->data(QLatin1String(kProjectMimeType));
  if (bytes.isEmpty() || bytes.size() > kMaxDragData || bytes.count('\n') != 1 || bytes.contains('\0')) return false;
  const qsizetype cut = bytes.indexOf('\n');
  std::string host = bytes.left(cut).toStdString(), name = bytes.mid(cut + 1).toStdString();
  if (host.empty() || host.size() > kMaxHostName || name.empty() || name.size() > kMaxProjectNameLength) return false;
  if (host.find_first_of("/\\\r") != std::string::npos || name.find('\r') != std::string::npos) return false;
  project->host = std::move(host);
  project->name = std::move(name);
  return true;
}

Qt::ItemFlags ProjectTreeModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractItemModel::flags(index);
  ItemRef item = RefOf(index);
  if (IsHostItem(item)) flags |= Qt::ItemIsDropEnabled;
  if (item.valid() && item.child < 0 && item.node->parent && item.kind() == kKindProject)
    flags |= Qt::ItemIsDragEnabled;
  return flags;
}

QStringList ProjectTreeModel::mimeTypes() const { return {QLatin1String(kProjectMimeType)}; }

QMimeData* ProjectTreeModel::mimeData(const QModelIndexList& indexes) const {
  if (indexes.size() != 1) return nullptr;
  ItemRef item = RefOf(indexes.front());
  if (!item.valid() || item.child >= 0 || !item.node->parent || item.kind() != kKindProject) return nullptr;
  const auto* project = static_cast<const ProjectRecord*>(item.node);
  auto* data = new QMimeData;
  data->setData(QLatin1String(kProjectMimeType), QByteArray::fromStdString(project->host()->name + "\n" + std::string(project->name())));
  data->setText(ToQt(project->name()));
  return data;
}

Qt::DropActions ProjectTreeModel::supportedDragActions() const { return Qt::MoveAction | Qt::CopyAction; }

Qt::DropActions ProjectTreeModel::supportedDropActions() const { return Qt::MoveAction | Qt::CopyAction; }

bool ProjectTreeModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int,
                                       const QModelIndex& parent) const {
  // A position between items is a drop onto a project or one of its lines.
  if (!drop_handler_ || row != -1 || (action != Qt::MoveAction && action != Qt::CopyAction)) return false;
  if (!IsHostItem(RefOf(parent))) return false;
  DraggedProject project;
  if (!ReadDraggedProject(data, &project)) return false;
  return drop_handler_(project, parent, action == Qt::CopyAction, false);
}

bool ProjectTreeModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                    const QModelIndex& parent) {
  if (!canDropMimeData(data, action, row, column, parent)) return false;
  DraggedProject project;
  ReadDraggedProject(data, &project);
  return drop_handler_(project, parent, action == Qt::CopyAction, true);
}

}  // namespace dovrane::tree
