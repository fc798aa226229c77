// The context menu of the trees per item kind and condition: which commands
// it offers, in which order, enabled or not. The window's menus only render
// this list and send the chosen identifier to the command handler.
#pragma once

#include <cstdint>
#include <vector>

namespace dovrane::tree {

// Menu identifiers (the command handler compares the full 32 bits).
enum ItemCommand : uint32_t {
  kCmdProperties = 1,
  kCmdMarkMove = 2,
  kCmdMarkCopy = 3,
  kCmdPaste = 4,
  kCmdDelete = 5,
  kCmdRename = 6,
  kCmdNewProject = 7,
  kCmdCheckOutProject = 10,
  kCmdCheckInProject = 11,
  kCmdDeleteLockFile = 253,
  kCmdCheckInHost = 254,
  kCmdCheckOutHost = 255,
  kCmdDeleteHostCheckoutFile = 2069,
  kCmdAddDataServer = 0xFFFF0815u,
  kCmdRemoveHost = 0xFFFF0816u,
  kCmdAddLocalComputer = 0xFFFF0817u,
};

// The item kinds the menu tells apart (the tree model's kinds).
inline constexpr uint32_t kKindProject = 1;
inline constexpr uint32_t kKindProjectInUse = 17;
inline constexpr uint32_t kKindHost = 0x10000;
inline constexpr uint32_t kKindLocalHost = 0x100000;
inline constexpr uint32_t kKindHostOut = 0x110000;
inline constexpr uint32_t kKindProjectOut = 0x1000000;
inline constexpr uint32_t kKindProjectOutWithHost = 0x10000000;
inline constexpr uint32_t kKindHostOutFile = 0x11000000;
inline constexpr uint32_t kKindUnreachableHost = 0x11010000;
// The empty area of the host tree.
inline constexpr uint32_t kKindHostTreeEmpty = 2069;

enum class TreeRole { kProjectTree = 0, kHostTree = 1 };

// The kind the menu is built for: the empty area (clicked empty, or nothing
// selected) of the host tree is 2069; of the project tree the current host.
uint32_t MenuKind(TreeRole role, bool clicked_empty, bool has_selection, uint32_t selected_kind);

// What the window knows when the menu opens.
struct MenuConditions {
  TreeRole role = TreeRole::kHostTree;
  bool ctrl_held = false;
  bool project_host_checked_out = false;  // kind 1: its host is checked out
  bool transfer_pending = false;          // a copy or a move was marked
  bool named_like_computer = false;       // hosts: the item's text is the local computer's name
  bool host_free = false;                 // kind 0x10000000: its host exists and is not checked out
  bool computer_in_host_tree = false;     // 2069: a host item is named like the local computer
};

// One menu line; id 0 is a separator. The text is UI text (group, item);
// kCmdAddLocalComputer takes the computer name as its argument.
struct MenuEntry {
  uint32_t id = 0;
  int group = 0;
  unsigned item = 0;
  bool enabled = true;
  bool operator==(const MenuEntry&) const = default;
};

std::vector<MenuEntry> ContextMenuEntries(uint32_t kind, const MenuConditions& c);

}  // namespace dovrane::tree
