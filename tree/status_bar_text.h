// The status bar's texts for a tree item: the project's name and directory,
// or the host's name, project count and project directory.
#pragma once

#include <string>
#include <vector>

#include "tree/host_table.h"

namespace dovrane::tree {

// For a project: two parts; for a host: three; for a child item (child_row
// >= 0) or an unknown node: three empty parts. net_dir: the network \Net
// directory (Windows form). Texts come from the UI text table (window thread).
std::vector<std::string> ItemStatusBarTexts(const TreeNode* node, int child_row, const std::string& net_dir);
// Without an item: the current data path, or this computer's name when there is none.
std::vector<std::string> NoItemStatusBarTexts(const std::string& data_path, const std::string& local_computer);

}  // namespace dovrane::tree
