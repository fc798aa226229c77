#include "checkout/office_standard.h"

#include <cerrno>
#include <cstdio>

#include "extlib/installation/language.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "extlib/installation/slot_files.h"
#include "fileops/copy_engine.h"
#include "fileops/directory_size.h"
#include "fileops/wildcard.h"
#include "platform/env.h"
#include "platform/messenger.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"

namespace dovrane::checkout {

namespace {

constexpr char kSection[] = "Settings";

const StdComponentInfo kComponents[kStdComponentCount] = {
    {1010, 1017, "CopyStdAllg", true, false, 7, 20},
    {1016, 1018, "CopyStdSym", true, true, 0, 0},
    {1011, 1019, "CopyStdSymOff", true, false, 1, 2},
    {1012, 1020, "CopyStdMac", true, true, 3, 3},
    {1013, 1021, "CopyStdText", true, true, 4, 4},
    {1014, 1022, "CopyStdFormWork", false, false, 5, 6},
};

const char* const kItemPaths[kStdItemCount] = {
    "\\STD\\Sym",      "\\STD\\zsy*.*",    "\\STD\\ztx*.*",  "\\STD\\objekt", "\\STD\\design",  "\\STD\\zsg*.*",
    "\\STD\\zsb*.*",   "\\STD",            "\\STD\\Assistent", "\\STD\\bspbruns", "\\STD\\fact", "\\STD\\Kukat1",
    "\\STD\\Kukat2",   "\\STD\\Kukat3",    "\\STD\\Kukat4",  "\\STD\\Kukat5", "\\STD\\vek_all", "\\STD\\vek_ele",
    "\\STD\\vek_pos",  "\\STD\\Prod",      "\\STD\\res"};

bool IsPattern(const std::string& path) { return path.find('*') != std::string::npos; }

// The folder and pattern an item is measured and copied with, and whether
// its subfolders belong to it.
struct ItemSource {
  std::string folder, pattern;
  bool recurse;
};
ItemSource SourceOf(const StdItem& item, const std::string& data_path) {
  const std::string full = data_path + item.path;
  if (IsPattern(item.path)) {
    size_t cut = full.rfind('\\');
    return {full.substr(0, cut), full.substr(cut + 1), false};
  }
  return {full, "*.*", item.single_file != 0};
}

bool Exists(extlib::OperationContext& ctx, const std::string& native) {
  platform::FileInfo info;
  return ctx.Env().Stat(native, &info, false) == 0;
}

class StdCopy {
 public:
  StdCopy(extlib::OperationContext& ctx, std::vector<std::string>* created) : ctx_(ctx), created_(created) {}

  // A symbolic link in the host's share where a folder of the copy goes
  // would take the copy wherever it points: the check-out stops there.
  static bool LinkInPlace(extlib::OperationContext& ctx, const std::string& native) {
    if (!platform::IsSymbolicLink(native)) return false;
    extlib::ShowMessage(ctx, extlib::LanguageTextWith(extlib::kCheckoutTexts, 5, {ctx.Windows(native)}),
                        platform::kMbOk | platform::kMbIconError);
    return true;
  }

  // Copies the matching files of folder (and with recurse its subfolders)
  // into target. False after a failure or cancel.
  bool Folder(extlib::OperationContext& ctx, const std::string& folder, const std::string& pattern, bool recurse,
              const std::string& target) {
    std::vector<platform::DirEntry> entries;
    if (ctx_.Env().ListDir(folder, &entries) != 0) return true;  // measured 0: nothing to copy
    if (LinkInPlace(ctx_, target)) return false;
    Made(target, true);
    for (const platform::DirEntry& e : entries) {
      if (ctx_.Cancelled()) return false;
      if (e.name.empty() || e.name[0] == '.') continue;
      const std::string from = folder + "/" + e.name, to = target + "/" + e.name;
      platform::FileInfo info;
      if (ctx_.Env().Stat(from, &info, true) != 0) continue;
      if (info.type == platform::EntryType::kDirectory) {
        if (recurse && !Folder(ctx, from, "*.*", true, to)) return false;
        continue;
      }
      if (!fileops::MatchesWildcard(pattern, e.name)) continue;
      if (ctx_.progress()) ctx_.progress()->Title(ctx.Windows(to));
      const fileops::CopyResult copied = fileops::CopyFileWithSplit(ctx_, nullptr, from, to);
      if (copied.made) created_->push_back(to);
      if (ctx_.progress()) ctx_.progress()->Advance(static_cast<double>(copied.bytes));
      if (!copied.ok()) return false;
    }
    return true;
  }

 private:
  // Records a folder about to be made by the copy.
  void Made(const std::string& native, bool folder) {
    if (folder && !Exists(ctx_, native)) created_->push_back(native + "/");
  }

  extlib::OperationContext& ctx_;
  std::vector<std::string>* created_;
};

}  // namespace

const StdComponentInfo& ComponentInfo(StdComponent component) { return kComponents[static_cast<int>(component)]; }

StdItem StdItemDefinition(int index) {
  StdItem item;
  if (index < 0 || index >= kStdItemCount) return item;
  item.path = kItemPaths[index];
  // Formwork and the common files directly in \STD copy a folder's contents.
  item.single_file = index == 5 || index == 6 || index == kStdCommonFirst ? 0 : 1;
  return item;
}

uint64_t StdSizes::Component(StdComponent component) const {
  const StdComponentInfo& c = ComponentInfo(component);
  uint64_t sum = 0;
  for (int i = c.first_item; i <= c.last_item; ++i) sum += item[static_cast<size_t>(i)];
  return sum;
}

uint64_t StdSizes::Total() const {
  uint64_t sum = 0;
  for (uint64_t s : item) sum += s;
  return sum;
}

bool MeasureStdItem(extlib::OperationContext& ctx, const std::string& data_path, int index, uint64_t* bytes) {
  StdItem item = StdItemDefinition(index);
  // A file group and the common files are the files of one folder only.
  const bool recurse = !IsPattern(item.path) && index != kStdCommonFirst;
  ItemSource s = SourceOf(item, data_path);
  int64_t sum = fileops::SumDirectorySize(ctx, s.folder, s.pattern, recurse ? 1 : 0);
  if (sum < 0 || ctx.Cancelled()) return false;
  *bytes = static_cast<uint64_t>(sum);
  return true;
}

bool MeasureOfficeStandard(extlib::OperationContext& ctx, const std::string& data_path, StdSizes* sizes) {
  for (int i = 0; i < kStdItemCount; ++i)
    if (!MeasureStdItem(ctx, data_path, i, &sizes->item[static_cast<size_t>(i)])) return false;
  return true;
}

std::string MegabyteText(uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2lf MB", static_cast<double>(bytes) / 1048576.0);
  return text;
}

StdChoice ReadStdChoice() {
  StdChoice choice;
  for (int c = 0; c < kStdComponentCount; ++c) {
    const StdComponentInfo& info = kComponents[c];
    choice.checked[static_cast<size_t>(c)] = extlib::GetProfileInt(kSection, info.setting, info.checked_by_default) != 0;
  }
  return choice;
}

bool WriteStdChoice(const StdChoice& choice) {
  bool ok = true;
  for (int c = 0; c < kStdComponentCount; ++c)
    ok = extlib::WriteProfileInt(kSection, kComponents[c].setting, choice.checked[static_cast<size_t>(c)] ? 1 : 0) && ok;
  return ok;
}

StdItemTable FillStdItemTable(const StdSizes& sizes, const StdChoice& choice) {
  StdItemTable table;
  auto checked = [&](StdComponent c) { return choice.checked[static_cast<size_t>(c)]; };
  for (int i = 0; i < kStdItemCount; ++i) {
    table[static_cast<size_t>(i)] = StdItemDefinition(i);
    const bool copied = i >= kStdCommonFirst || (i == 0 && checked(StdComponent::kSymbols)) ||
                        (i == 3 && checked(StdComponent::kMacros)) || (i == 4 && checked(StdComponent::kTextures));
    table[static_cast<size_t>(i)].size = copied ? static_cast<int64_t>(sizes.item[static_cast<size_t>(i)]) : 0;
  }
  table[kStdTableSize - 1].size = -1;
  return table;
}

bool CopyOfficeStandard(extlib::OperationContext& ctx, const StdItemTable& table, const std::string& data_path,
                        const std::string& host_data_dir, std::vector<std::string>* created) {
  double total = 0;
  for (const StdItem& item : table) {
    if (item.size < 0) break;
    total += static_cast<double>(item.size);
  }
  if (ctx.progress()) ctx.progress()->StartCounted(total);
  const std::string target_std = ctx.Native(host_data_dir + table[kStdCommonFirst].path);
  if (StdCopy::LinkInPlace(ctx, target_std)) return false;
  // Made first, so it is removed last.
  if (!Exists(ctx, target_std)) created->push_back(target_std + "/");
  StdCopy copy(ctx, created);
  bool ok = true;
  for (const StdItem& item : table) {
    if (item.size < 0) break;
    if (item.size == 0 || item.path.empty()) continue;
    ItemSource s = SourceOf(item, data_path);
    std::string target = target_std;
    // A folder copied as named lands as a folder of the same name.
    if (item.single_file && !IsPattern(item.path) && item.path != table[kStdCommonFirst].path)
      target += "/" + extlib::LastComponent(item.path);
    if (!(ok = copy.Folder(ctx, ctx.Native(s.folder), s.pattern, s.recurse, target))) break;
  }
  if (ctx.progress()) ctx.progress()->Finish();
  return ok;
}

void RemoveCreated(extlib::OperationContext& ctx, const std::vector<std::string>& created) {
  for (auto it = created.rbegin(); it != created.rend(); ++it) {
    if (!it->empty() && it->back() == '/')
      (void)ctx.Env().RmDir(it->substr(0, it->size() - 1));
    else
      (void)ctx.Env().Unlink(*it);
  }
}

}  // namespace dovrane::checkout
