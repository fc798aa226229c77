// What an item of the host tree or the project tree is: its kind (the
// item's data), the image it shows, and the tip text it gets.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::tree {

enum ItemKind : uint32_t {
  kKindDataHost = 0x10000,
  kKindAdminHost = 0x100000,
  kKindDataHostOut = 0x11000000,    // its host check-out information file exists
  kKindDataHostDown = 0x11010000,   // did not answer the ping
  kKindAdminHostOut = 0x110000,
  kKindAdminHostDown = 0x111000,
  kKindProject = 1,                 // free
  kKindProjectOut = 0x1000000,      // checked out on its own (status bit 0x01)
  kKindProjectHostOut = 0x10000000, // gone out with its host (status bit 0x04)
  kKindProjectInUse = 17,           // its lock file is held
  kKindProjectUnreachable = 273,    // its directory cannot be reached
  kKindDirectory = 16,
  kKindOwner = 256,
  kKindMember = 4096,
};

// Every host kind (and the two checked-out project kinds).
inline constexpr uint32_t kMaskHosts = 0x11110000;
// The project kinds 1, 17 and 273.
inline constexpr uint32_t kMaskProjects = 1;
// What the search button walks: every item has a bit of it.
inline constexpr uint32_t kMaskAllItems = 0x11111111;

// The images of the tree image list, by index.
inline constexpr int kImageProject = 0;
inline constexpr int kImageDirectory = 1;
inline constexpr int kImageOwner = 2;
inline constexpr int kImageMember = 3;
inline constexpr int kImageDataHost = 4;
inline constexpr int kImageProjectOut = 6;
inline constexpr int kImageDataHostOut = 8;
inline constexpr int kImageAdminHost = 9;
inline constexpr int kImageProjectHostOut = 10;
inline constexpr int kImageProjectInUse = 11;
inline constexpr int kImageLocalHost = 12;
inline constexpr int kImageAdminHostOut = 13;
inline constexpr int kImageProjectMarked = 14;
inline constexpr int kImageDataHostDown = 16;
inline constexpr int kImageAdminHostDown = 17;
inline constexpr int kImageProjectUnreachable = 18;
inline constexpr int kImageCount = 19;

bool IsHostKind(uint32_t kind);
// Kinds 1, 17, 273, 0x1000000 and 0x10000000.
bool IsProjectKind(uint32_t kind);
// The image of a host kind; a data host named exactly like this computer
// shows the local host's image.
[[nodiscard]] int HostImage(uint32_t kind, const std::string& host, const std::string& local_computer);
// The image of a project kind (a free project: 0, or 14 while marked for moving).
[[nodiscard]] int ProjectImage(uint32_t kind, bool marked_for_move);
// The image of any kind; -1 for a kind no item has.
[[nodiscard]] int KindImage(uint32_t kind);
// The UI text item (group 1015) of an item's tip, 0 for a kind without one
// (its tip reads kNoTipText).
unsigned TooltipTextItem(uint32_t kind);
inline constexpr int kTooltipGroup = 1015;
inline constexpr char kNoTipText[] = "empty :-(";

}  // namespace dovrane::tree
