#include "tree/item_commands.h"

namespace dovrane::tree {

namespace {

MenuEntry Cmd(uint32_t id, bool enabled = true) {
  switch (id) {
    case kCmdProperties: return {id, 1015, 4123, enabled};
    case kCmdMarkMove: return {id, 1015, 4117, enabled};
    case kCmdMarkCopy: return {id, 1015, 4118, enabled};
    case kCmdPaste: return {id, 1015, 4121, enabled};
    case kCmdDelete: return {id, 1015, 4119, enabled};
    case kCmdRename: return {id, 1015, 4120, enabled};
    case kCmdNewProject: return {id, 2, 5, enabled};
    case kCmdCheckOutProject: return {id, 1015, 4113, enabled};
    case kCmdCheckInProject: return {id, 1015, 4114, enabled};
    case kCmdDeleteLockFile: return {id, 1015, 4133, enabled};
    case kCmdCheckInHost: return {id, 1015, 4116, enabled};
    case kCmdCheckOutHost: return {id, 1015, 4115, enabled};
    case kCmdDeleteHostCheckoutFile: return {id, 1015, 4116, enabled};
    case kCmdAddDataServer: return {id, 1015, 4122, enabled};
    case kCmdRemoveHost: return {id, 1015, 4126, enabled};
    case kCmdAddLocalComputer: return {id, 1015, 4127, enabled};
    default: return {};
  }
}

const MenuEntry kSeparator{};

}  // namespace

uint32_t MenuKind(TreeRole role, bool clicked_empty, bool has_selection, uint32_t selected_kind) {
  if (clicked_empty || !has_selection) return role == TreeRole::kHostTree ? kKindHostTreeEmpty : kKindHost;
  return selected_kind;
}

std::vector<MenuEntry> ContextMenuEntries(uint32_t kind, const MenuConditions& c) {
  const bool host_tree = c.role == TreeRole::kHostTree;
  switch (kind) {
    case kKindProject:
      return {Cmd(kCmdMarkMove),        Cmd(kCmdMarkCopy), Cmd(kCmdDelete), Cmd(kCmdRename, !c.project_host_checked_out),
              Cmd(kCmdCheckOutProject), kSeparator,        Cmd(kCmdProperties)};
    case kKindProjectInUse:
      if (c.ctrl_held) return {Cmd(kCmdDeleteLockFile), kSeparator, Cmd(kCmdProperties)};
      return {Cmd(kCmdProperties)};
    case kKindProjectOut: return {Cmd(kCmdCheckInProject), kSeparator, Cmd(kCmdProperties)};
    case kKindProjectOutWithHost:
      if (c.ctrl_held || c.host_free) return {Cmd(kCmdCheckInHost), kSeparator, Cmd(kCmdProperties)};
      return {Cmd(kCmdProperties)};
    case kKindHostOut: return {Cmd(kCmdCheckInHost), kSeparator, Cmd(kCmdProperties)};
    case kKindHostOutFile:
      if (c.ctrl_held) return {Cmd(kCmdDeleteHostCheckoutFile), kSeparator, Cmd(kCmdProperties)};
      return {Cmd(kCmdProperties)};
    case kKindHost: {
      std::vector<MenuEntry> menu{Cmd(kCmdPaste, c.transfer_pending)};
      if (c.named_like_computer) menu.push_back(Cmd(kCmdCheckOutHost));
      menu.insert(menu.end(), {kSeparator, Cmd(kCmdNewProject)});
      if (host_tree) menu.push_back(Cmd(kCmdRemoveHost));
      menu.insert(menu.end(), {kSeparator, Cmd(kCmdProperties)});
      return menu;
    }
    case kKindLocalHost:
      // The administration host named like this computer cannot check itself out.
      return {Cmd(kCmdPaste, c.transfer_pending), Cmd(kCmdCheckOutHost, !c.named_like_computer), kSeparator,
              Cmd(kCmdNewProject), kSeparator, Cmd(kCmdProperties)};
    case kKindHostTreeEmpty:
      return {Cmd(kCmdAddDataServer), Cmd(kCmdAddLocalComputer, !c.computer_in_host_tree)};
    case kKindUnreachableHost:
      if (host_tree) return {Cmd(kCmdRemoveHost)};
      return {};
    default: return {};
  }
}

}  // namespace dovrane::tree
