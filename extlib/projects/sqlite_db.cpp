#include "extlib/projects/sqlite_db.h"

#include <sqlite3.h>

#include <cerrno>

namespace dovrane::extlib {

namespace {
int MapResult(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return -EBUSY;
    case SQLITE_FULL:
      return -ENOSPC;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return -EBADMSG;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return -EACCES;
    case SQLITE_CANTOPEN:
      return -ENOENT;
    case SQLITE_NOMEM:
      return -ENOMEM;
    default:
      return -EIO;
  }
}
}  // namespace

SqliteDb::~SqliteDb() { Close(); }

void SqliteDb::Close() {
  if (db_) sqlite3_close_v2(db_);  // statements are finalised by their owners first
  db_ = nullptr;
}

int SqliteDb::Check(int sqlite_rc) {
  int rc = MapResult(sqlite_rc);
  if (rc) last_error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(sqlite_rc);
  return rc;
}

int SqliteDb::Open(const std::string& native_file, int busy_timeout_ms, bool no_links) {
  Close();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (no_links) flags |= SQLITE_OPEN_NOFOLLOW;
  int rc = Check(sqlite3_open_v2(native_file.c_str(), &db_, flags, nullptr));
  if (rc == 0) rc = Check(sqlite3_busy_timeout(db_, busy_timeout_ms));
  if (rc == 0) {
    // The pragma answers with the mode in force; anything but "delete" (a
    // database another program left in WAL mode and still holds) is refused.
    SqliteStatement mode(*this, "PRAGMA journal_mode=DELETE");
    rc = mode.Result();
    if (rc == 0) rc = mode.Step() == 1 ? 0 : -EIO;
    if (rc == 0 && sqlite3_stricmp(mode.Bytes(0).c_str(), "delete") != 0) {
      last_error_ = "journal mode is " + mode.Bytes(0) + ", not delete";
      rc = -EBUSY;
    }
  }
  if (rc == 0) rc = Exec("PRAGMA synchronous=FULL");
  if (rc) {
    std::string message = last_error_;
    Close();
    last_error_ = message;
  }
  return rc;
}

int SqliteDb::Changes() const { return db_ ? sqlite3_changes(db_) : 0; }

int SqliteDb::Exec(const char* sql) {
  if (!db_) return -EBADF;
  char* message = nullptr;
  int rc = MapResult(sqlite3_exec(db_, sql, nullptr, nullptr, &message));
  if (rc) last_error_ = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return rc;
}

SqliteStatement::SqliteStatement(SqliteDb& db, const char* sql) : db_(db) {
  rc_ = db.handle() ? db_.Check(sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr)) : -EBADF;
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

SqliteStatement& SqliteStatement::Bind(int index, int64_t value) {
  if (rc_ == 0) rc_ = db_.Check(sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

SqliteStatement& SqliteStatement::BindText(int index, std::string_view text) {
  if (rc_ == 0)
    rc_ = db_.Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                      SQLITE_TRANSIENT));
  return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int index, std::string_view bytes) {
  // An empty value is still a blob (never NULL): the columns are NOT NULL.
  if (rc_ == 0)
    rc_ = db_.Check(sqlite3_bind_blob(stmt_, index, bytes.empty() ? "" : bytes.data(),
                                      static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
  return *this;
}

int SqliteStatement::Step() {
  if (rc_) return rc_;
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return 1;
  if (rc == SQLITE_DONE) return 0;
  return db_.Check(rc);
}

int SqliteStatement::Reset() {
  if (rc_) return rc_;
  int rc = db_.Check(sqlite3_reset(stmt_));
  if (rc == 0) rc = db_.Check(sqlite3_clear_bindings(stmt_));
  return rc;
}

int64_t SqliteStatement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string SqliteStatement::Bytes(int column) const {
  const void* data = sqlite3_column_blob(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : "";
}

SqliteTransaction::SqliteTransaction(SqliteDb& db, bool write) : db_(db) {
  rc_ = db_.Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
  open_ = rc_ == 0;
}

SqliteTransaction::~SqliteTransaction() {
  // Nothing is left to do when the rollback itself fails: SQLite rolls the hot
  // journal back on the next access, so the file never shows half a transaction.
  if (open_) db_.Exec("ROLLBACK");
}

int SqliteTransaction::Commit() {
  if (!open_) return rc_ ? rc_ : -EINVAL;
  int rc = db_.Exec("COMMIT");
  // A busy commit leaves the transaction open; the destructor rolls it back.
  if (rc == 0) open_ = false;
  return rc;
}

}  // namespace dovrane::extlib
