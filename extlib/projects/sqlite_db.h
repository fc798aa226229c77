// A small wrapper over an SQLite connection for the shared attribute database:
// opened with the rollback journal (journal_mode=DELETE, never WAL, which needs
// shared memory on one computer), synchronous=FULL and a busy timeout, so two
// workstations writing through a network share wait for each other instead of
// failing. Every SQLite result is checked and mapped to -errno:
//   busy/locked -EBUSY, full -ENOSPC, corrupt/not a database -EBADMSG,
//   read-only/permission -EACCES, cannot open -ENOENT, anything else -EIO.
// SQLite does its own file I/O (not through platform::Env).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace dovrane::extlib {

class SqliteDb {
 public:
  SqliteDb() = default;
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Opens (creating) the database file with the pragmas above. 0 or -errno.
  // no_links: any symbolic link in native_file's path is refused (pass a
  // path whose folders were resolved on purpose).
  int Open(const std::string& native_file, int busy_timeout_ms, bool no_links = false);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }

  // Runs statements without results. 0 or -errno.
  int Exec(const char* sql);
  // Maps an SQLite result to 0 or -errno and remembers the connection's message.
  int Check(int sqlite_rc);
  const std::string& LastError() const { return last_error_; }
  void ClearError() { last_error_.clear(); }
  // Rows changed by the last statement.
  int Changes() const;

 private:
  sqlite3* db_ = nullptr;
  std::string last_error_;
};

// One prepared statement; finalised by the destructor.
class SqliteStatement {
 public:
  SqliteStatement(SqliteDb& db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  int Result() const { return rc_; }  // of the preparation and every bind
  SqliteStatement& Bind(int index, int64_t value);
  SqliteStatement& BindText(int index, std::string_view text);
  SqliteStatement& BindBlob(int index, std::string_view bytes);
  // 1 for a row, 0 when done, -errno on failure.
  int Step();
  int Reset();  // ready to run again with new bindings; 0 or -errno
  int64_t Int(int column) const;
  std::string Bytes(int column) const;

 private:
  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = 0;
};

// A write transaction (BEGIN IMMEDIATE: takes the write lock at once, so the
// busy timeout applies and two writers cannot deadlock). Rolled back by the
// destructor unless committed.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db, bool write = true);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  int Result() const { return rc_; }
  int Commit();

 private:
  SqliteDb& db_;
  int rc_ = 0;
  bool open_ = false;
};

}  // namespace dovrane::extlib
