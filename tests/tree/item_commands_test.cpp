// The context menu per item kind and condition, as the tree commands specify it.
#include "tree/item_commands.h"

#include <gtest/gtest.h>

#include <string>

namespace dovrane::tree {
namespace {

// The menu as "id" per line, "-" for a separator and "(id)" for a disabled entry.
std::string Render(uint32_t kind, const MenuConditions& c) {
  std::string text;
  for (const MenuEntry& e : ContextMenuEntries(kind, c)) {
    const std::string id = e.id == 0 ? "-" : std::to_string(e.id);
    text += (text.empty() ? "" : " ") + (e.enabled ? id : "(" + id + ")");
  }
  return text;
}

TEST(ItemCommandsTest, MenuPerKindAndCondition) {
  MenuConditions plain, ctrl, out, pending, local, free_host, project_tree, has_computer;
  ctrl.ctrl_held = true;
  out.project_host_checked_out = true;
  pending.transfer_pending = true;
  local.named_like_computer = true;
  free_host.host_free = true;
  project_tree.role = TreeRole::kProjectTree;
  has_computer.computer_in_host_tree = true;
  const std::tuple<uint32_t, MenuConditions, std::string> cases[] = {
      {kKindProject, plain, "2 3 5 6 10 - 1"},
      {kKindProject, out, "2 3 5 (6) 10 - 1"},
      {kKindProjectInUse, plain, "1"},
      {kKindProjectInUse, ctrl, "253 - 1"},
      {kKindProjectOut, plain, "11 - 1"},
      {kKindProjectOutWithHost, plain, "1"},
      {kKindProjectOutWithHost, free_host, "254 - 1"},
      {kKindProjectOutWithHost, ctrl, "254 - 1"},
      {kKindHostOut, plain, "254 - 1"},
      {kKindHostOutFile, plain, "1"},
      {kKindHostOutFile, ctrl, "2069 - 1"},
      {kKindHost, plain, "(4) - 7 4294903830 - 1"},
      {kKindHost, pending, "4 - 7 4294903830 - 1"},
      {kKindHost, local, "(4) 255 - 7 4294903830 - 1"},
      {kKindHost, project_tree, "(4) - 7 - 1"},
      {kKindLocalHost, local, "(4) (255) - 7 - 1"},
      {kKindHostTreeEmpty, plain, "4294903829 4294903831"},
      {kKindHostTreeEmpty, has_computer, "4294903829 (4294903831)"},
      {kKindUnreachableHost, plain, "4294903830"},
      {kKindUnreachableHost, project_tree, ""},
      {16, plain, ""},
      {0x111000, plain, ""},
  };
  for (const auto& [kind, c, menu] : cases) EXPECT_EQ(Render(kind, c), menu) << std::hex << kind;
}

TEST(ItemCommandsTest, EmptyAreaAndTexts) {
  EXPECT_EQ(MenuKind(TreeRole::kHostTree, true, true, kKindProject), kKindHostTreeEmpty);
  EXPECT_EQ(MenuKind(TreeRole::kHostTree, false, false, 0), kKindHostTreeEmpty);
  EXPECT_EQ(MenuKind(TreeRole::kProjectTree, false, false, 0), kKindHost);  // the current host
  EXPECT_EQ(MenuKind(TreeRole::kProjectTree, false, true, kKindProjectInUse), kKindProjectInUse);
  // 2069 and 0xFFFF0815 are different commands with different texts.
  const auto host_out = ContextMenuEntries(kKindHostOutFile, MenuConditions{.ctrl_held = true});
  const auto empty = ContextMenuEntries(kKindHostTreeEmpty, {});
  EXPECT_EQ(host_out[0], (MenuEntry{2069, 1015, 4116, true}));
  EXPECT_EQ(empty[0], (MenuEntry{0xFFFF0815u, 1015, 4122, true}));
  EXPECT_EQ(ContextMenuEntries(kKindHost, {})[2], (MenuEntry{kCmdNewProject, 2, 5, true}));
}

}  // namespace
}  // namespace dovrane::tree
