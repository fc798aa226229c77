// The project attribute database: named values per project number, and the
// catalogue of attribute definitions (the predefined ones every project offers
// and the ones an office adds). One SQLite file below \Net\PelomarProjectDB of
// the folder in a path slot, shared by every workstation of the installation.
// See sqlite_db.h for how the shared file is kept safe.
//
// Results: >= 0 success, -errno otherwise (see sqlite_db.h for the mapping);
// a failure is also shown once as the library's own message.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/sqlite_db.h"

namespace dovrane::extlib {

class OperationContext;

class Installation;

inline constexpr char kAttributeDbFolder[] = "PelomarProjectDB";
inline constexpr char kAttributeDbFile[] = "ProjectAttributes.db";
inline constexpr int kAttributeDbVersion = 1;
inline constexpr int kDefaultBusyTimeoutMs = 10000;

// What copyProjectAttributes(target, what, ...) copies (bits of `what`).
inline constexpr int kCopyValues = 0x001;       // the values of the given projects
inline constexpr int kCopyPredefined = 0x002;   // predefined definitions
inline constexpr int kCopyDefinitions = 0x004;  // the office's own definitions
inline constexpr int kCopyImportRecords = 0x080;  // when each project was last imported
inline constexpr int kCopyVerify = 0x100;       // read the target back and compare
inline constexpr int kCopyForCheckout = 391;    // all of the above
// ensurePreDefinedAttributes flag: reset changed predefined definitions.
inline constexpr int kResetPredefined = 0x1;

struct AttributeDefinition {
  std::string name;
  bool predefined = false;
  std::string default_value;
  std::string description;
  bool operator==(const AttributeDefinition&) const = default;
};

// The built-in predefined attributes.
const std::vector<AttributeDefinition>& PredefinedAttributes();

class RX_ProjectAttributes {
 public:
  // The database of the folder in path slot `slot` (Windows form), resolved
  // now: pointing the slot elsewhere later does not move this object.
  // Its failures are shown through the operation's context, which must outlive it.
  RX_ProjectAttributes(OperationContext& ctx, int slot);
  // The same for the process default context.
  explicit RX_ProjectAttributes(int slot);

  // Native path of the database file; "" when the slot was unset.
  const std::string& databasePath() const { return path_; }
  void setBusyTimeout(int ms) { busy_timeout_ms_ = ms; }
  const std::string& lastError() const { return db_.LastError(); }
  // Opens the database, creating the folder, file and tables when missing
  // (the \Net\ folder itself must exist). Done by every call below.
  int open();
  // Closes the connection (the next call opens it again).
  void close() { db_.Close(); }

  int setAttribute(uint32_t number, const std::string& name, const std::string& value);
  // 0, -ENOENT when the project has no such value, or -errno.
  int getAttribute(uint32_t number, const std::string& name, std::string* value);
  int getProjectAttributes(uint32_t number, AttributeValues* values);
  // Replaces all values of a project in one transaction. source_check names
  // where they came from (recorded with the time of the import).
  int replaceProjectAttributes(uint32_t number, const AttributeValues& values,
                               const std::string& source_check);
  // Numbers of the projects that have values.
  int projectNumbers(std::set<uint32_t>* numbers);

  int defineAttribute(const AttributeDefinition& definition);
  int getDefinitions(std::vector<AttributeDefinition>* definitions);

  // Number of values removed (the import record goes too).
  int deleteAttributesByProject(uint32_t number);
  // The values of from_number replace those of to_number; number copied.
  int copyProjectAttributes(uint32_t from_number, uint32_t to_number);
  // Copies what `what` names for the projects in `numbers` into target, in one
  // transaction there. replace: the target's values of those projects (and
  // definitions of the same name) are replaced; otherwise existing ones stay.
  // Number of values copied; -EINVAL for unknown bits, -EIO when verifying fails.
  int copyProjectAttributes(RX_ProjectAttributes& target, int what, bool replace,
                            const std::set<uint32_t>& numbers);
  // Makes sure the predefined definitions exist; their number (> 0).
  int ensurePreDefinedAttributes(int flags);
  // VACUUM: rewrites the file without free pages. 0 or -errno.
  int compressDatabase();

 private:
  // Shows a failure once (with the database's own text, else detail); returns rc.
  int Fail(int rc, const char* what, const std::string& detail = "");
  // Without opening or reporting: for use inside other operations.
  int ReadValues(uint32_t number, AttributeValues* values);
  int ReadDefinitions(std::vector<AttributeDefinition>* definitions);
  int CreateTables();

  OperationContext* ctx_;
  std::string path_;
  std::string net_dir_;
  int busy_timeout_ms_ = kDefaultBusyTimeoutMs;
  SqliteDb db_;
};

class RX_ProjectAttributesCache {
 public:
  // The process default installation's (the library's own name for it).
  static RX_ProjectAttributesCache& instance();
  // The installation's.
  static RX_ProjectAttributesCache& of(Installation& installation);
  // Loads the attribute disk cache file into the values of project `number`,
  // replacing them in one transaction. 0 imported, 1 no cache file (nothing
  // changed), -EBADMSG damaged file (nothing changed), other -errno.
  int importFromDiskCacheFile(OperationContext& ctx, uint32_t number, const std::string& native_cache_file,
                              RX_ProjectAttributes& attrs);
  // The same for the cache file in the project's folder, found through the
  // administration: 0, 1 no cache file, or the lookup's or the import's error.
  int importFromDiskCache(OperationContext& ctx, uint32_t number, RX_ProjectAttributes& attrs);
  // Writes the values of project `number` as a disk cache file, crash-safe.
  int exportToDiskCacheFile(uint32_t number, const std::string& native_cache_file,
                            RX_ProjectAttributes& attrs);
};

}  // namespace dovrane::extlib
