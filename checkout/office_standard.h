// The office standard (\STD under the network data path) as a checked-out
// host takes it along: its six components, the items each consists of, their
// measured sizes, the person's choice (kept in the application profile) and
// the copy into the host's data folder through the copy engine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

inline constexpr int kStdItemCount = 21;   // entries 0..20 name items
inline constexpr int kStdTableSize = 23;   // entry 21 stays empty, 22 ends the table
inline constexpr int kStdCommonFirst = 7;  // entries 7..20: the common office standard

enum class StdComponent { kCommon, kSymbols, kOfficeSymbols, kMacros, kTextures, kFormwork, kCount };
inline constexpr int kStdComponentCount = static_cast<int>(StdComponent::kCount);

struct StdComponentInfo {
  int check_box;            // dialog control of the check box
  int size_text;            // dialog control of its size text
  const char* setting;      // profile entry in "Settings"
  bool checked_by_default;
  bool choosable;           // the person may change it; the others only show the stored choice
  int first_item, last_item;
};
const StdComponentInfo& ComponentInfo(StdComponent component);

// One entry of the item table. size: the bytes to copy (0: not copied; -1
// ends the table). path: relative to the network data path ("\STD\Sym").
// single_file: 1 copies the item as named (a folder with its contents, or a
// file pattern), 0 the files directly in the folder.
struct StdItem {
  int64_t size = 0;
  std::string path;
  int single_file = 0;
};
using StdItemTable = std::array<StdItem, kStdTableSize>;

// The item's path and flag (index 0..20).
StdItem StdItemDefinition(int index);

// Bytes of each item (64-bit: a component of 4 GiB is not mistaken for an
// empty one). A missing folder or file group measures 0.
struct StdSizes {
  std::array<uint64_t, kStdItemCount> item{};
  uint64_t Component(StdComponent component) const;
  uint64_t Total() const;
};
// Measures one item (0..20) below network_data_path (Windows form, without
// \STD). False when the context was cancelled.
bool MeasureStdItem(extlib::OperationContext& ctx, const std::string& network_data_path, int index, uint64_t* bytes);
// Measures every item. False when the context was cancelled.
bool MeasureOfficeStandard(extlib::OperationContext& ctx, const std::string& network_data_path, StdSizes* sizes);

// "%.2lf MB" of a byte count.
std::string MegabyteText(uint64_t bytes);

// The six check states.
struct StdChoice {
  std::array<bool, kStdComponentCount> checked{};
  bool operator==(const StdChoice&) const = default;
};
// From the profile (the defaults where an entry is absent).
StdChoice ReadStdChoice();
bool WriteStdChoice(const StdChoice& choice);

// The table as confirming the choice fills it: the common office standard
// always, symbols, office macros and textures when checked; office symbols
// and formwork never (they are measured and shown only); entry 22 ends it.
StdItemTable FillStdItemTable(const StdSizes& sizes, const StdChoice& choice);

// Copies every entry with a non-zero size from network_data_path into
// host_data_dir + "\STD" (both Windows form) with the copy engine, showing
// the progress in the context's progress. Files and folders that did not
// exist before are added to *created (in the order made) so a rollback can
// take them away again. False after a failure (shown by the engine) or a
// cancel; what was copied stays listed in *created.
bool CopyOfficeStandard(extlib::OperationContext& ctx, const StdItemTable& table,
                        const std::string& network_data_path, const std::string& host_data_dir,
                        std::vector<std::string>* created);
// Removes what CopyOfficeStandard listed as made (native paths), newest first.
void RemoveCreated(extlib::OperationContext& ctx, const std::vector<std::string>& created);

}  // namespace dovrane::checkout
