#include "extlib/projects/project_attributes.h"

#include <fcntl.h>

#include <cerrno>

#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/checksum.h"
#include "extlib/projects/project_folder.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace {
constexpr char kSchema[] = R"sql(
CREATE TABLE attribute_def(
  name TEXT PRIMARY KEY NOT NULL,
  predefined INTEGER NOT NULL DEFAULT 0,
  default_value BLOB NOT NULL DEFAULT x'',
  description TEXT NOT NULL DEFAULT '');
CREATE TABLE project_attribute(
  project INTEGER NOT NULL CHECK(project BETWEEN 0 AND 4294967295),
  name TEXT NOT NULL,
  value BLOB NOT NULL,
  PRIMARY KEY(project, name)) WITHOUT ROWID;
CREATE TABLE project_import(
  project INTEGER PRIMARY KEY CHECK(project BETWEEN 0 AND 4294967295),
  imported_at INTEGER NOT NULL,
  source_check TEXT NOT NULL,
  value_count INTEGER NOT NULL);
PRAGMA user_version=1;
)sql";

struct ImportRecord {
  int64_t imported_at = 0;
  std::string source_check;
  int64_t value_count = 0;
};

// Runs a statement to its end; 0 or -errno.
int RunToEnd(SqliteStatement& statement) {
  int rc;
  while ((rc = statement.Step()) == 1) {
  }
  return rc;
}

// The steps of a copy into another database, inside its write transaction;
// verb: "INSERT OR REPLACE" or "INSERT OR IGNORE". 0 or -errno.

// The definitions of the kinds `what` asks for.
int PutDefinitions(SqliteDb& out, const char* verb, int what, const std::vector<AttributeDefinition>& definitions) {
  int rc = 0;
  SqliteStatement put(out, (std::string(verb) + " INTO attribute_def VALUES(?,?,?,?)").c_str());
  for (auto it = definitions.begin(); rc == 0 && it != definitions.end(); ++it) {
    if (!(what & (it->predefined ? kCopyPredefined : kCopyDefinitions))) continue;
    put.BindText(1, it->name).Bind(2, it->predefined ? 1 : 0);
    put.BindBlob(3, it->default_value).BindText(4, it->description);
    rc = RunToEnd(put);
    if (rc == 0) rc = put.Reset();
  }
  return rc;
}

// Each project's values, its old ones cleared first when replacing;
// *copied counts the values written.
int PutValues(SqliteDb& out, const char* verb, bool replace, const std::map<uint32_t, AttributeValues>& values,
              int* copied) {
  int rc = 0;
  SqliteStatement clear(out, "DELETE FROM project_attribute WHERE project=?");
  SqliteStatement put(out, (std::string(verb) + " INTO project_attribute VALUES(?,?,?)").c_str());
  for (auto it = values.begin(); rc == 0 && it != values.end(); ++it) {
    if (replace) {
      rc = RunToEnd(clear.Bind(1, it->first));
      if (rc == 0) rc = clear.Reset();
    }
    for (auto v = it->second.begin(); rc == 0 && v != it->second.end(); ++v) {
      rc = RunToEnd(put.Bind(1, it->first).BindText(2, v->first).BindBlob(3, v->second));
      *copied += out.Changes() > 0 ? 1 : 0;
      if (rc == 0) rc = put.Reset();
    }
  }
  return rc;
}

// When each project was last imported.
int PutImportRecords(SqliteDb& out, const char* verb, const std::map<uint32_t, ImportRecord>& imports) {
  int rc = 0;
  SqliteStatement put(out, (std::string(verb) + " INTO project_import VALUES(?,?,?,?)").c_str());
  for (auto it = imports.begin(); rc == 0 && it != imports.end(); ++it) {
    put.Bind(1, it->first).Bind(2, it->second.imported_at);
    put.BindText(3, it->second.source_check).Bind(4, it->second.value_count);
    rc = RunToEnd(put);
    if (rc == 0) rc = put.Reset();
  }
  return rc;
}
}  // namespace

const std::vector<AttributeDefinition>& PredefinedAttributes() {
  static const std::vector<AttributeDefinition> kPredefined = {
      {"PRJ_DESCRIPTION", true, "", "Description of the project"},
      {"PRJ_CLIENT", true, "", "Client"},
      {"PRJ_SITE", true, "", "Address of the building site"},
      {"PRJ_ARCHITECT", true, "", "Responsible architect"},
      {"PRJ_PHASE", true, "1", "Work phase"},
      {"PRJ_SCALE", true, "1:100", "Drawing scale"},
  };
  return kPredefined;
}

RX_ProjectAttributes::RX_ProjectAttributes(int slot) : RX_ProjectAttributes(DefaultContext(), slot) {}

RX_ProjectAttributes::RX_ProjectAttributes(OperationContext& ctx, int slot) : ctx_(&ctx) {
  std::string net = ctx.installation().Slot(slot);
  if (net.empty()) return;
  net_dir_ = ctx.Native(net);
  path_ = ctx.Native(net + kAttributeDbFolder + "\\" + kAttributeDbFile);
}

int RX_ProjectAttributes::Fail(int rc, const char* what, const std::string& detail) {
  if (rc >= 0) return rc;
  std::string reason = !db_.LastError().empty() ? db_.LastError()
                       : !detail.empty()        ? detail
                                                : platform::ErrorName(rc);
  LibraryMessage(*ctx_, 1,
                 LanguageTextWith(kRepairTexts, 39, {ctx_->installation().Paths().ToWindows(path_), what, reason}));
  return rc;
}

int RX_ProjectAttributes::CreateTables() {
  SqliteTransaction transaction(db_);
  if (transaction.Result()) return transaction.Result();
  SqliteStatement version(db_, "PRAGMA user_version");
  if (version.Result()) return version.Result();
  int rc = version.Step();
  if (rc != 1) return rc < 0 ? rc : -EIO;
  int64_t found = version.Int(0);
  if (found > kAttributeDbVersion) return -EPROTO;  // written by a newer program
  if (found == kAttributeDbVersion) return 0;      // another workstation was first
  rc = version.Reset();
  if (rc == 0) rc = db_.Exec(kSchema);
  return rc ? rc : transaction.Commit();
}

int RX_ProjectAttributes::open() {
  db_.ClearError();  // messages name this operation's failure only
  if (db_.IsOpen()) return 0;
  if (path_.empty()) return Fail(-EINVAL, "open (path slot unset)");
  platform::FileInfo info;
  int rc = ctx_->Env().Stat(net_dir_, &info);
  if (rc == 0 && info.type != platform::EntryType::kDirectory) rc = -ENOTDIR;
  if (rc) return Fail(rc, "open");
  rc = ctx_->Env().MkDir(platform::DirName(path_));
  if (rc && rc != -EEXIST) return Fail(rc, "open");
  // A \Net moved and linked is followed on purpose; the database's folder and
  // file are never a link: the database opens at the resolved folder and
  // SQLite refuses any link there, for its journal too.
  std::string folder;
  const int dir_fd = platform::OpenFolderNoFollow(AT_FDCWD, platform::DirName(path_));
  if (dir_fd == -ELOOP) return Fail(dir_fd, "open", "its folder is a symbolic link");
  if (dir_fd < 0) return Fail(dir_fd, "open");
  rc = platform::FolderPathOf(dir_fd, &folder);
  platform::CloseNothingPending(&ctx_->Env(), dir_fd);
  if (rc) return Fail(rc, "open");
  if (platform::IsSymbolicLink(path_)) return Fail(-ELOOP, "open", "it is a symbolic link");
  rc = db_.Open(folder + "/" + platform::BaseName(path_), busy_timeout_ms_, true);
  if (rc == 0) {
    SqliteStatement version(db_, "PRAGMA user_version");
    rc = version.Result();
    if (rc == 0) rc = version.Step() == 1 ? 0 : -EIO;
    if (rc == 0 && version.Int(0) != kAttributeDbVersion) {
      rc = version.Reset();  // releases the read lock before the write transaction
      if (rc == 0) rc = CreateTables();
    }
  }
  if (rc) {
    Fail(rc, "open");
    db_.Close();
  }
  return rc;
}

int RX_ProjectAttributes::setAttribute(uint32_t number, const std::string& name,
                                       const std::string& value) {
  if (!ValidAttributeName(name) || value.size() > kMaxAttributeValueBytes) return -EINVAL;
  int rc = open();
  if (rc) return rc;
  SqliteStatement put(db_, "INSERT OR REPLACE INTO project_attribute VALUES(?,?,?)");
  put.Bind(1, number).BindText(2, name).BindBlob(3, value);
  return Fail(RunToEnd(put), "set attribute");
}

int RX_ProjectAttributes::getAttribute(uint32_t number, const std::string& name,
                                       std::string* value) {
  int rc = open();
  if (rc) return rc;
  SqliteStatement get(db_, "SELECT value FROM project_attribute WHERE project=? AND name=?");
  get.Bind(1, number).BindText(2, name);
  rc = get.Step();
  if (rc == 1) *value = get.Bytes(0);
  return rc == 1 ? 0 : rc == 0 ? -ENOENT : Fail(rc, "get attribute");
}

int RX_ProjectAttributes::ReadValues(uint32_t number, AttributeValues* values) {
  values->clear();
  SqliteStatement get(db_, "SELECT name, value FROM project_attribute WHERE project=?");
  get.Bind(1, number);
  int rc;
  while ((rc = get.Step()) == 1) (*values)[get.Bytes(0)] = get.Bytes(1);
  return rc;
}

int RX_ProjectAttributes::getProjectAttributes(uint32_t number, AttributeValues* values) {
  int rc = open();
  return rc ? rc : Fail(ReadValues(number, values), "read attributes");
}

int RX_ProjectAttributes::projectNumbers(std::set<uint32_t>* numbers) {
  int rc = open();
  if (rc) return rc;
  numbers->clear();
  SqliteStatement get(db_, "SELECT DISTINCT project FROM project_attribute");
  while ((rc = get.Step()) == 1) numbers->insert(static_cast<uint32_t>(get.Int(0)));
  return Fail(rc, "list projects");
}

int RX_ProjectAttributes::replaceProjectAttributes(uint32_t number, const AttributeValues& values,
                                                   const std::string& source_check) {
  for (const auto& [name, value] : values)
    if (!ValidAttributeName(name) || value.size() > kMaxAttributeValueBytes) return -EINVAL;
  int rc = open();
  if (rc) return rc;
  SqliteTransaction transaction(db_);
  rc = transaction.Result();
  if (rc == 0) {
    SqliteStatement clear(db_, "DELETE FROM project_attribute WHERE project=?");
    rc = RunToEnd(clear.Bind(1, number));
  }
  SqliteStatement put(db_, "INSERT INTO project_attribute VALUES(?,?,?)");
  for (auto it = values.begin(); rc == 0 && it != values.end(); ++it) {
    rc = RunToEnd(put.Bind(1, number).BindText(2, it->first).BindBlob(3, it->second));
    if (rc == 0) rc = put.Reset();
  }
  if (rc == 0) {
    SqliteStatement record(db_, "INSERT OR REPLACE INTO project_import VALUES(?,?,?,?)");
    record.Bind(1, number).Bind(2, ctx_->Env().NowSeconds());
    record.BindText(3, source_check).Bind(4, static_cast<int64_t>(values.size()));
    rc = RunToEnd(record);
  }
  if (rc == 0) rc = transaction.Commit();
  return Fail(rc, "replace attributes");
}

int RX_ProjectAttributes::defineAttribute(const AttributeDefinition& definition) {
  if (!ValidAttributeName(definition.name) ||
      definition.default_value.size() > kMaxAttributeValueBytes)
    return -EINVAL;
  int rc = open();
  if (rc) return rc;
  SqliteStatement put(db_, "INSERT OR REPLACE INTO attribute_def VALUES(?,?,?,?)");
  put.BindText(1, definition.name).Bind(2, definition.predefined ? 1 : 0);
  put.BindBlob(3, definition.default_value).BindText(4, definition.description);
  return Fail(RunToEnd(put), "define attribute");
}

int RX_ProjectAttributes::ReadDefinitions(std::vector<AttributeDefinition>* definitions) {
  definitions->clear();
  SqliteStatement get(db_, "SELECT name, predefined, default_value, description "
                           "FROM attribute_def ORDER BY name");
  int rc;
  while ((rc = get.Step()) == 1)
    definitions->push_back({get.Bytes(0), get.Int(1) != 0, get.Bytes(2), get.Bytes(3)});
  return rc;
}

int RX_ProjectAttributes::getDefinitions(std::vector<AttributeDefinition>* definitions) {
  int rc = open();
  return rc ? rc : Fail(ReadDefinitions(definitions), "read definitions");
}

int RX_ProjectAttributes::deleteAttributesByProject(uint32_t number) {
  int rc = open();
  if (rc) return rc;
  SqliteTransaction transaction(db_);
  rc = transaction.Result();
  int removed = 0;
  if (rc == 0) {
    SqliteStatement drop(db_, "DELETE FROM project_attribute WHERE project=?");
    rc = RunToEnd(drop.Bind(1, number));
    removed = db_.Changes();
  }
  if (rc == 0) {
    SqliteStatement drop(db_, "DELETE FROM project_import WHERE project=?");
    rc = RunToEnd(drop.Bind(1, number));
  }
  if (rc == 0) rc = transaction.Commit();
  return rc ? Fail(rc, "delete attributes") : removed;
}

int RX_ProjectAttributes::copyProjectAttributes(uint32_t from_number, uint32_t to_number) {
  if (from_number == to_number) return 0;
  AttributeValues values;
  int rc = getProjectAttributes(from_number, &values);
  if (rc) return rc;
  rc = replaceProjectAttributes(to_number, values, "copy of " + std::to_string(from_number));
  return rc ? rc : static_cast<int>(values.size());
}

int RX_ProjectAttributes::copyProjectAttributes(RX_ProjectAttributes& target, int what,
                                                bool replace, const std::set<uint32_t>& numbers) {
  if (what & ~kCopyForCheckout) return -EINVAL;
  int rc = open();
  if (rc == 0) rc = target.open();
  if (rc) return rc;

  // Read everything first, in one read transaction (a consistent picture).
  std::vector<AttributeDefinition> definitions;
  std::map<uint32_t, AttributeValues> values;
  std::map<uint32_t, ImportRecord> imports;
  {
    SqliteTransaction read(db_, false);
    rc = read.Result();
    if (rc == 0) rc = ReadDefinitions(&definitions);
    for (auto it = numbers.begin(); rc == 0 && it != numbers.end(); ++it)
      rc = ReadValues(*it, &values[*it]);
    SqliteStatement get(db_, "SELECT imported_at, source_check, value_count "
                             "FROM project_import WHERE project=?");
    for (auto it = numbers.begin(); rc == 0 && it != numbers.end(); ++it) {
      get.Bind(1, *it);
      int row = get.Step();
      if (row == 1) imports[*it] = {get.Int(0), get.Bytes(1), get.Int(2)};
      rc = row < 0 ? row : get.Reset();
    }
    if (rc == 0) rc = read.Commit();
  }
  if (rc) return Fail(rc, "copy attributes (read)");

  const char* verb = replace ? "INSERT OR REPLACE" : "INSERT OR IGNORE";
  SqliteDb& out = target.db_;
  SqliteTransaction transaction(out);
  rc = transaction.Result();
  int copied = 0;
  if (rc == 0 && (what & (kCopyPredefined | kCopyDefinitions))) rc = PutDefinitions(out, verb, what, definitions);
  if (rc == 0 && (what & kCopyValues)) rc = PutValues(out, verb, replace, values, &copied);
  if (rc == 0 && (what & kCopyImportRecords)) rc = PutImportRecords(out, verb, imports);
  if (rc == 0) rc = transaction.Commit();
  if (rc) return target.Fail(rc, "copy attributes (write)");

  if (what & kCopyVerify) {
    for (const auto& [number, expected] : values) {
      AttributeValues found;
      rc = target.getProjectAttributes(number, &found);
      if (rc) return rc;
      for (const auto& [name, value] : expected) {
        auto it = found.find(name);
        if (it == found.end() || (replace && it->second != value))
          return target.Fail(-EIO, "copy attributes (verify)",
                             "project " + std::to_string(number) + ", attribute " + name);
      }
    }
  }
  return copied;
}

int RX_ProjectAttributes::ensurePreDefinedAttributes(int flags) {
  int rc = open();
  if (rc) return rc;
  const char* verb = (flags & kResetPredefined) ? "INSERT OR REPLACE" : "INSERT OR IGNORE";
  SqliteTransaction transaction(db_);
  rc = transaction.Result();
  SqliteStatement put(db_, (std::string(verb) + " INTO attribute_def VALUES(?,1,?,?)").c_str());
  const std::vector<AttributeDefinition>& predefined = PredefinedAttributes();
  for (auto it = predefined.begin(); rc == 0 && it != predefined.end(); ++it) {
    put.BindText(1, it->name).BindBlob(2, it->default_value).BindText(3, it->description);
    rc = RunToEnd(put);
    if (rc == 0) rc = put.Reset();
  }
  int count = 0;
  if (rc == 0) {
    SqliteStatement counted(db_, "SELECT count(*) FROM attribute_def WHERE predefined=1");
    rc = counted.Step();
    count = rc == 1 ? static_cast<int>(counted.Int(0)) : 0;
    rc = rc == 1 ? 0 : rc < 0 ? rc : -EIO;
  }
  if (rc == 0) rc = transaction.Commit();
  return rc ? Fail(rc, "predefined attributes") : count;
}

int RX_ProjectAttributes::compressDatabase() {
  int rc = open();
  if (rc) return rc;
  return Fail(db_.Exec("VACUUM"), "compress");
}

RX_ProjectAttributesCache& RX_ProjectAttributesCache::instance() { return of(ProcessInstallation()); }

RX_ProjectAttributesCache& RX_ProjectAttributesCache::of(Installation& installation) {
  return installation.Part<RX_ProjectAttributesCache>();
}

int RX_ProjectAttributesCache::importFromDiskCacheFile(OperationContext& ctx, uint32_t number,
                                                       const std::string& native_cache_file,
                                                       RX_ProjectAttributes& attrs) {
  std::string text;
  // Thousands of attributes at most: the limit keeps a hostile file out of memory.
  int rc = platform::ReadWholeFile(native_cache_file, &text, 64 * platform::kSmallFileLimit);
  if (rc == -ENOENT) return 1;
  if (rc) return rc;
  AttributeValues values;
  rc = ParseAttributeCache(text, &values);
  if (rc) {
    LibraryMessage(ctx, 1, LanguageTextWith(kRepairTexts, 37, {ctx.Windows(native_cache_file)}));
    return rc;
  }
  return attrs.replaceProjectAttributes(number, values, Crc32Hex(text));
}

int RX_ProjectAttributesCache::importFromDiskCache(OperationContext& ctx, uint32_t number,
                                                   RX_ProjectAttributes& attrs) {
  std::string folder;
  if (int rc = ProjectFolderByNumber(ctx, number, &folder)) return rc;
  return importFromDiskCacheFile(ctx, number, folder + "/" + kAttributeCacheFileName, attrs);
}

int RX_ProjectAttributesCache::exportToDiskCacheFile(uint32_t number,
                                                     const std::string& native_cache_file,
                                                     RX_ProjectAttributes& attrs) {
  AttributeValues values;
  int rc = attrs.getProjectAttributes(number, &values);
  std::string text;
  if (rc == 0) rc = FormatAttributeCache(values, &text);
  return rc ? rc : platform::WriteFileAtomic(native_cache_file, text);
}

}  // namespace dovrane::extlib
