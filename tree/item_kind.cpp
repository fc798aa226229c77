#include "tree/item_kind.h"

namespace dovrane::tree {

bool IsHostKind(uint32_t kind) {
  switch (kind) {
    case kKindDataHost: case kKindAdminHost: case kKindDataHostOut:
    case kKindDataHostDown: case kKindAdminHostOut: case kKindAdminHostDown:
      return true;
    default:
      return false;
  }
}

bool IsProjectKind(uint32_t kind) {
  switch (kind) {
    case kKindProject: case kKindProjectOut: case kKindProjectHostOut:
    case kKindProjectInUse: case kKindProjectUnreachable:
      return true;
    default:
      return false;
  }
}

int HostImage(uint32_t kind, const std::string& host, const std::string& local_computer) {
  if (kind == kKindDataHost && !host.empty() && host == local_computer) return kImageLocalHost;
  return KindImage(kind);
}

int ProjectImage(uint32_t kind, bool marked_for_move) {
  if (kind == kKindProject && marked_for_move) return kImageProjectMarked;
  return KindImage(kind);
}

int KindImage(uint32_t kind) {
  switch (kind) {
    case kKindDataHost: return kImageDataHost;
    case kKindAdminHost: return kImageAdminHost;
    case kKindDataHostOut: return kImageDataHostOut;
    case kKindDataHostDown: return kImageDataHostDown;
    case kKindAdminHostOut: return kImageAdminHostOut;
    case kKindAdminHostDown: return kImageAdminHostDown;
    case kKindProject: return kImageProject;
    case kKindProjectOut: return kImageProjectOut;
    case kKindProjectHostOut: return kImageProjectHostOut;
    case kKindProjectInUse: return kImageProjectInUse;
    case kKindProjectUnreachable: return kImageProjectUnreachable;
    case kKindDirectory: return kImageDirectory;
    case kKindOwner: return kImageOwner;
    case kKindMember: return kImageMember;
    default: return -1;
  }
}

unsigned TooltipTextItem(uint32_t kind) {
  switch (kind) {
    case kKindProject: return 4102;
    case kKindDirectory: return 4112;
    case kKindProjectInUse: return 4105;
    case kKindOwner: return 4110;
    case kKindProjectUnreachable: case kKindAdminHostDown: case kKindDataHostDown: return 4134;
    case kKindMember: return 4111;
    case kKindDataHost: return 4103;
    case kKindAdminHost: return 4104;
    case kKindAdminHostOut: return 4109;
    case kKindProjectOut: return 4106;
    case kKindProjectHostOut: return 4107;
    case kKindDataHostOut: return 4108;
    default: return 0;
  }
}

}  // namespace dovrane::tree
