#include "tree/status_bar_text.h"

#include "services/ui_text_table.h"
#include "tree/item_kind.h"

namespace dovrane::tree {

namespace {

std::string Trimmed(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

}  // namespace

std::vector<std::string> ItemStatusBarTexts(const TreeNode* node, int child_row, const std::string& net_dir) {
  if (!node || child_row >= 0) return {"", "", ""};
  if (IsProjectKind(node->kind)) {
    const auto* project = static_cast<const ProjectRecord*>(node);
    return {Trimmed(project->name()), project->location()};
  }
  if (!IsHostKind(node->kind)) return {"", "", ""};
  const auto* host = static_cast<const HostRecord*>(node);
  std::string count = std::to_string(host->projects.size()) + " " + services::UiText(114, 4103);
  // The host's project directory, when data.cfg gives it a data path.
  std::string project_dir = host->listed ? "\\\\" + host->name + host->data_path + "\\Prj" : "";
  std::string where;
  if (host->kind == kKindAdminHost || !host->listed) {
    where = services::UiText(114, 4104) + ": " + (host->kind == kKindAdminHost && host->listed ? project_dir : net_dir);
  } else {
    where = services::UiText(1, 9) + " " + project_dir;
  }
  return {host->name, count, where};
}

std::vector<std::string> NoItemStatusBarTexts(const std::string& data_path, const std::string& local_computer) {
  return {data_path.empty() ? local_computer : data_path, "   ", "   "};
}

}  // namespace dovrane::tree
