#include "admin/register_entry.h"

#include <cerrno>
#include <cstring>

#include "admin/append_batch.h"
#include "admin/entry_prefetch.h"
#include "admin/host_folders.h"
#include "admin/link_target.h"
#include "admin/project_index.h"
#include "admin/record_writes.h"
#include "extlib/records/administration.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/installation/general.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_data.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

using extlib::PRJ;
void Warn(extlib::OperationContext& ctx, const char* format, const std::string& a, const std::string& b = "") {
  services::ToolMessageBox(ctx, services::kMessageWarning, format, a.c_str(), b.c_str());
}

bool EndsWithPrj(const std::string& name) {
  return name.size() >= 4 && platform::EqualsIgnoreCaseCp1252(name.substr(name.size() - 4), ".prj");
}

// The stored name and the entry name are the same project name when they
// agree (letter case aside) over their length without trailing blanks.
bool SameName(const char* stored, const std::string& base) {
  return platform::EqualsIgnoreCaseCp1252(extlib::TrimmedName(stored), base);
}

// Appends "_" after the last non-blank character until the name is free;
// with all 50 characters used the first becomes "_". False when that fails.
bool MakeNameUnique(const ProjectIndex& index, PRJ* record) {
  while (index.NameUsed(record->name)) {
    int length = extlib::StringLaenge0(record->name, extlib::kNameLength);
    if (length < extlib::kNameLength)
      record->name[length] = '_';
    else if (record->name[0] != '_')
      record->name[0] = '_';
    else
      return false;
  }
  return true;
}

// A new number: after the highest (or the largest in use, when that is
// greater and leaves room), wrapping from 9999999 to 1; numbers in use and
// numbers whose folder already lies in the host's project folder are passed.
bool ChooseNumber(extlib::OperationContext& ctx, const ProjectIndex& index, const std::string& dir, uint32_t* number) {
  uint32_t n = index.Highest();
  const uint32_t largest = index.Largest();
  if (largest > n && largest < 9999900) n = largest;
  for (uint32_t tries = 0; tries <= extlib::kMaxProjectNumber; ++tries) {
    if (++n > extlib::kMaxProjectNumber) n = 1;
    if (index.NumberUsed(n)) continue;
    if (extlib::lzcheck_path(ctx, dir + "\\" + extlib::NumberText(n) + ".prj") >= 0) continue;
    *number = n;
    return true;
  }
  return false;
}

// The native path that names the entry `to` (Windows form) exactly as written.
std::string ExactNative(extlib::OperationContext& ctx, const std::string& to) {
  return ctx.Native(extlib::ParentPath(to)) + "/" + platform::Cp1252ToUtf8(extlib::LastComponent(to));
}

bool Listed(extlib::OperationContext& ctx, const std::string& native) {
  const size_t cut = native.find_last_of('/');
  std::vector<platform::DirEntry> entries;
  if (ctx.Env().ListDir(native.substr(0, cut), &entries) != 0) return false;
  for (const platform::DirEntry& e : entries)
    if (e.name == native.substr(cut + 1)) return true;
  return false;
}

// A rename that changes only the letter case of the entry's name. A file
// system that keeps the old spelling on a direct rename gets it through a
// temporary name.
int RenameCase(extlib::OperationContext& ctx, const std::string& from, const std::string& exact) {
  platform::Env* env = &ctx.Env();
  if (from == exact) return 0;
  int rc = env->Rename(from, exact);
  if (rc != 0 || Listed(ctx, exact)) return rc;
  const std::string temporary = exact + ".case~" + std::to_string(platform::ProcessId());
  if ((rc = env->Rename(from, temporary)) != 0) return rc;
  if ((rc = env->Rename(temporary, exact)) != 0) (void)env->Rename(temporary, from);
  return rc;
}

// Renames the entry at native `from` (a folder, or a link file) to `to`
// (Windows form; exact_to: its native spelling). A target that the
// case-insensitive lookup finds as the entry itself is the entry under
// another spelling: no obstacle.
int RenameEntry(extlib::OperationContext& ctx, const std::string& from, const std::string& to,
                const std::string& exact_to, bool is_file) {
  platform::Env* env = &ctx.Env();
  platform::FileInfo a, b;
  const std::string native_to = ctx.Native(to);
  if (env->Stat(from, &a, false) == 0 && env->Stat(native_to, &b, false) == 0 && a.device == b.device &&
      a.inode == b.inode)
    return RenameCase(ctx, from, exact_to);
  if (env->Stat(native_to, &b, false) == 0) return -EEXIST;
  return is_file ? env->Rename(from, exact_to) : extlib::ldirreC(ctx, from, exact_to);
}

// The record's name as every typed name must be; a name that cannot be one
// is registered under its safe form, and said so.
void MakeNameValid(extlib::OperationContext& ctx, const std::string& entry_name, PRJ* record) {
  const std::string name = extlib::TrimmedName(record->name);
  if (extlib::IsValidProjectName(name)) return;
  std::string safe = extlib::SafeProjectName(name);
  if (safe.empty()) safe = "_";
  services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                           extlib::LanguageTextWith(extlib::kRepairTexts, 15, {name, entry_name, safe}).c_str());
  extlib::SetPrjName(record, safe);
}

}  // namespace

bool ParseEntryName(const std::string& name, EntryName* entry) {
  if (!EndsWithPrj(name)) return false;
  *entry = EntryName{};
  entry->base = name.substr(0, name.size() - 4);
  uint32_t number = 0;
  if (name.size() == 12 && extlib::ParseNumberText(entry->base, &number)) {
    entry->number_name = true;
    entry->number = number;
  }
  return true;
}

int RegisterProjectEntry(extlib::OperationContext& ctx, bool is_file, const std::string& host,
                         const std::string& entry_name) {
  EntryName entry;
  if (!ParseEntryName(entry_name, &entry) || entry.base.empty() ||
      (!entry.number_name && entry.base.size() > static_cast<size_t>(extlib::kNameLength)))
    return 1;
  if (!CurrentIndex(ctx)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return 1;
  }
  HostFolder folder;
  if (ProjectFolderOfHost(ctx, host, FolderUse::kRegister, &folder.dir) != 0) return 1;
  folder.net_id = extlib::get_PRJVekNetID(ctx);
  return RegisterEntryInFolder(ctx, is_file, host, folder, entry_name);
}

namespace {

// Any other write to the administration comes after the batched appends.
int FlushBatch(extlib::OperationContext& ctx, const HostFolder& folder) {
  return folder.batch ? folder.batch->Flush(ctx) : 0;
}

// Where the entry and its project folder lie.
struct EntryPlace {
  std::string full;            // the entry in the host's folder (Windows form)
  std::string project_path;    // the project folder: the entry, or a link file's target
  std::string native_project;  // its native path
  bool relative = false;       // files below the entry are reached from the open host folder
};

// The entry is this host's own record of that number: registering it again
// would only duplicate it. A record still marked as registered from a plain
// name is finished instead. False when the entry is not such a record.
bool FinishOwnRecord(extlib::OperationContext& ctx, const std::string& host, const HostFolder& folder,
                     const ProjectIndex& index, const EntryName& entry, int* result) {
  IndexedRecord own;
  if (!entry.number_name || !index.FindNumber(entry.number, &own) ||
      !platform::EqualsIgnoreCaseCp1252(own.record.host, host))
    return false;
  const unsigned char flags = extlib::StatusFlags(own.record.status);
  *result = 0;
  if (!(flags & extlib::kStatusPlainName)) return true;
  *result = 1;
  if (FlushBatch(ctx, folder) != 0) return true;
  int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  const auto finish = [](PRJ* now) {
    const unsigned char flags_now = extlib::StatusFlags(now->status);
    now->status = extlib::StatusCharacter(flags_now & static_cast<unsigned char>(~extlib::kStatusPlainName));
    return (flags_now & extlib::kStatusPlainName) != 0;
  };
  if (handle >= 0 && RewriteRecord(ctx, own.record, handle, own.slot, finish) == 0) *result = 0;
  return true;
}

// What the entry is and where its project folder lies; a link file is
// followed to the folder it names. False when registration ends here with
// *result (nothing to do, or reported).
bool ClassifyEntry(extlib::OperationContext& ctx, bool is_file, const std::string& host, const HostFolder& folder,
                   const ProjectIndex& index, const EntryName& entry, const std::string& entry_name,
                   const std::string& native_entry, EntryPlace* place, int* result) {
  if (FinishOwnRecord(ctx, host, folder, index, entry, result)) return false;
  *result = 0;
  place->full = folder.dir + "\\" + entry_name;
  place->project_path = place->full;
  place->relative = !is_file && folder.fd >= 0 && !folder.native.empty() && !native_entry.empty();
  if (place->relative) place->native_project = folder.native + "/" + native_entry;
  const std::string& full = place->full;
  if (is_file) {
    int link = extlib::resolve_prj_link(ctx, &place->project_path);
    if (link == extlib::kLinkInvalid && Reachability().LinkTargetReachable(ctx, full)) {
      bool deleted = ctx.Env().Unlink(ctx.Native(full)) == 0;
      ctx.Print("Invalid link %sremoved\n\t<%s>\n", deleted ? "" : "can not be ", full.c_str());
      return false;
    }
    if (link == extlib::kLinkUnreachable || link == extlib::kLinkInvalid) {
      ctx.Print("Problem reaching linked path\n\t<%s>\n", full.c_str());
      return false;
    }
    if (link == 1) return false;
    if (CheckLinkTarget(ctx, full, place->project_path, index) != LinkTarget::kProject) return false;  // reported there
  }
  // The project folder goes into the slot for the library's project-level
  // work: a folder that cannot be put there is not registered.
  if (extlib::lfinipC(ctx, folder.slot, place->project_path + "\\") != 0) {
    Warn(ctx, "Can't set path to\n\t<%s>\n", place->project_path);
    *result = 1;
    return false;
  }
  if (place->native_project.empty()) place->native_project = ctx.Native(place->project_path);
  return true;
}

// The record the entry is registered with.
struct Identity {
  PRJ record;
  PRJ as_stored;           // the folder's stored record as read
  uint32_t stored_id = 0;  // the folder's stored identifier
  int stored = extlib::kProjectInfoDamaged;  // kProjectInfoRead when the folder had a stored record
  bool reorganise = false;  // the project data are reorganised once registered
};

// The project's own stored record where it belongs to this installation,
// else a new one; then a unique name and a free number. False when
// registration ends here with *result.
bool ChooseIdentity(extlib::OperationContext& ctx, bool is_file, const std::string& host, const HostFolder& folder,
                    const ProjectIndex& index, const EntryName& entry, const std::string& entry_name,
                    const std::string& native_entry, const PrefetchedEntry* ahead, const EntryPlace& place,
                    Identity* id, int* result) {
  *result = 0;
  PRJ& record = id->record;
  if (!place.relative) ahead = nullptr;
  if (ahead) {
    id->stored = ahead->stored;
    id->stored_id = ahead->net_id;
    record = ahead->record;
  } else {
    id->stored = place.relative ? extlib::ReadProjectInfoAt(folder.fd, native_entry, &id->stored_id, &record)
                                : extlib::ReadProjectInfo(place.native_project, &id->stored_id, &record);
  }
  // A folder whose stored record reads is accessible; only otherwise is it looked at.
  if (id->stored != 0 && extlib::ldirexC(ctx, folder.slot, 0) != 0) {
    ctx.Print("Can't access path <%s>\n\t skiped.\n", place.project_path.c_str());
    return false;
  }
  if (id->stored == extlib::kProjectInfoUnreadable) {
    // Registering it as a new project now would lose its name, owner and members.
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kRepairTexts, 16, {entry_name}).c_str());
    *result = kPrjFailed;
    return false;
  }
  id->as_stored = record;
  if (id->stored != 0 || extlib::IsDeleted(record)) {
    ctx.Print("Create new project info for <%s>.\n", entry_name.c_str());
    record = PRJ{};
    extlib::SetPrjName(&record, entry.base);
    record.status = extlib::StatusCharacter(static_cast<unsigned char>((is_file ? extlib::kStatusLink : 0) |
                                                                       (entry.number_name ? 0 : extlib::kStatusPlainName)));
    record.number = entry.number_name ? entry.number : 0;
    id->reorganise = true;
  } else {
    // The status character is the blank plus the flags; the link flag follows the entry's kind.
    unsigned char flags = extlib::StatusFlags(record.status);
    flags = static_cast<unsigned char>(is_file ? flags | extlib::kStatusLink : flags & ~extlib::kStatusLink);
    if (id->stored_id != folder.net_id) {
      record.owner = 0;
      if (extlib::lfnetg(ctx))
        std::memset(record.members, 0, sizeof record.members);
      else
        flags &= static_cast<unsigned char>(~(extlib::kStatusProjectOut | extlib::kStatusHostOut));
      id->reorganise = true;
    }
    record.status = extlib::StatusCharacter(flags);
    if (entry.number_name) {
      record.number = entry.number;
    } else {
      if (!SameName(record.name, entry.base)) record.number = 0;
      extlib::SetPrjName(&record, entry.base);
    }
  }
  extlib::SetPrjHost(&record, host);
  MakeNameValid(ctx, entry_name, &record);

  *result = 1;
  if (!MakeNameUnique(index, &record)) return false;
  if (record.number == 0 || index.NumberUsed(record.number)) {
    if (!ChooseNumber(ctx, index, folder.dir, &record.number)) return false;
  }
  *result = 0;
  return true;
}

// Where the entry lies once its name is the record's.
struct Placement {
  std::string target;             // the entry's name-giving path (Windows form)
  std::string final_dir;          // the project folder once placed
  std::string native_entry_path;  // the entry as it lay before
  bool rename = false;            // a folder of another name, or a link file
  bool renamed = false;           // the entry was given another name
};

// Gives the entry the name of its record's number. False when registration
// ends here with *result.
bool PlaceOnDisk(extlib::OperationContext& ctx, bool is_file, const HostFolder& folder,
                 const std::string& native_entry, const EntryPlace& place, const Identity& id, Placement* placed,
                 int* result) {
  *result = 1;
  const PRJ& record = id.record;
  const std::string& full = place.full;
  std::string target_entry;
  if (extlib::ProjectEntryName(record, &target_entry) != 0) return false;
  placed->target = folder.dir + "\\" + target_entry;
  placed->rename = is_file || extlib::LastComponent(full) != target_entry;
  // A renamed folder or a rewritten stored record must not wait for its
  // record: the administration is written first.
  if ((placed->rename || id.reorganise) && FlushBatch(ctx, folder) != 0) return false;
  ctx.Print("\t<%s>\n", record.name);
  // A link file is renamed itself; the folder it names is left as it is.
  placed->final_dir = is_file ? place.project_path : placed->target;
  placed->native_entry_path =
      !native_entry.empty() && !folder.native.empty() ? folder.native + "/" + native_entry : ctx.Native(full);
  placed->renamed = placed->rename && extlib::LastComponent(full) != target_entry;
  // A folder keeps its record with it before it takes a number name: an
  // interruption before the append must not leave a plain-named folder
  // whose name was all there was of the project's name, and a renumbered
  // one must not go on telling the number (and name) it had before.
  if (placed->renamed && !is_file &&
      extlib::WriteProjectInfo(placed->native_entry_path, id.stored == 0 ? id.stored_id : folder.net_id, record) !=
          0) {
    Warn(ctx, "Can't store PrjInfo for project:\n\t<%s>\n", full);
    return false;
  }
  if (placed->renamed &&
      RenameEntry(ctx, placed->native_entry_path, placed->target, ExactNative(ctx, placed->target), is_file) != 0) {
    Warn(ctx, is_file ? "Can't rename file\n%s\nto\n%s\n" : "Can't rename directory\n%s\nto\n%s\n", full,
         placed->target);
    return false;
  }
  *result = 0;
  return true;
}

// Appends the record (into the batch where it may wait), imports the
// project's attributes from its disk cache and reorganises its data when the
// record is new to it. 0, or non-zero when the record was not appended.
int RegisterRecord(extlib::OperationContext& ctx, bool is_file, const std::string& host, const HostFolder& folder,
                   const std::string& native_entry, const PrefetchedEntry* ahead, const EntryPlace& place,
                   const Identity& id, const Placement& placed) {
  const PRJ& record = id.record;
  if (!place.relative) ahead = nullptr;
  // The disk cache lies in the final folder, known here: no lookup by number.
  std::string cache_file = (placed.rename || is_file ? ctx.Native(placed.final_dir) : place.native_project) + "/" +
                           extlib::kAttributeCacheFileName;
  platform::FileInfo cache_info;
  if (place.relative && !placed.rename &&
      (ahead
           ? ahead->cache_absent
           : ctx.Env().StatAt(folder.fd, native_entry + "/" + extlib::kAttributeCacheFileName, &cache_info) == -ENOENT))
    cache_file.clear();  // most folders have none: nothing to import
  if (folder.batch && !placed.rename && !id.reorganise) {
    const int added = folder.batch->Add(ctx, record, cache_file);
    if (added == 0) {
      if (folder.seen) (*folder.seen)[record.number] = {host, id.stored_id, id.as_stored};
      return 0;
    }
    if (added < 0) return 1;  // the batch has said why
    if (FlushBatch(ctx, folder) != 0) return 1;
  }
  if (AppendRecord(ctx, record) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't append record to project administration.\n");
    // Not registered: the entry gets its name back.
    if (placed.renamed) RenameEntry(ctx, ctx.Native(placed.target), place.full, placed.native_entry_path, is_file);
    return 1;
  }
  if (!cache_file.empty()) {
    extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
    extlib::RX_ProjectAttributesCache::instance().importFromDiskCacheFile(ctx, record.number, cache_file, attributes);
  }
  // What a link names is never written into.
  // The library reports a reorganisation that fails; the registration stands.
  if (id.reorganise && !is_file && extlib::lfinipC(ctx, folder.slot, placed.final_dir + "\\") == 0)
    (void)extlib::kpvtad2(ctx, folder.slot);
  return 0;
}

}  // namespace

int RegisterEntryInFolder(extlib::OperationContext& ctx, bool is_file, const std::string& host,
                          const HostFolder& folder, const std::string& entry_name, const std::string& native_entry,
                          const PrefetchedEntry* ahead) {
  EntryName entry;
  if (!ParseEntryName(entry_name, &entry) || entry.base.empty() ||
      (!entry.number_name && entry.base.size() > static_cast<size_t>(extlib::kNameLength)))
    return 1;
  ProjectIndex* index = folder.batch ? folder.batch->Index(ctx) : CurrentIndex(ctx);
  if (!index) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return 1;
  }
  int result = 0;
  EntryPlace place;
  if (!ClassifyEntry(ctx, is_file, host, folder, *index, entry, entry_name, native_entry, &place, &result))
    return result;
  Identity id;
  if (!ChooseIdentity(ctx, is_file, host, folder, *index, entry, entry_name, native_entry, ahead, place, &id, &result))
    return result;
  Placement placed;
  if (!PlaceOnDisk(ctx, is_file, folder, native_entry, place, id, &placed, &result)) return result;
  return RegisterRecord(ctx, is_file, host, folder, native_entry, ahead, place, id, placed);
}

}  // namespace dovrane::admin
