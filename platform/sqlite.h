#pragma once

// Owning wrappers for SQLite handles, statements and transactions, shared by
// the registry and the reader's word index.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace fvx::platform {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// One prepared statement, finalized when it goes out of scope. A statement
// that failed to prepare stays usable: every step answers SQLITE_ERROR.
class SqlStatement {
 public:
  SqlStatement(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) == SQLITE_OK) statement_.reset(raw);
  }
  SqlStatement(sqlite3* db, const std::string& sql) : SqlStatement(db, sql.c_str()) {}

  bool ok() const { return statement_ != nullptr; }
  sqlite3_stmt* get() const { return statement_.get(); }

  void Bind(int index, int64_t value) { sqlite3_bind_int64(get(), index, value); }
  void BindText(int index, std::string_view text) {
    sqlite3_bind_text(get(), index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  // For text that outlives the next step: saves the copy.
  void BindTextNoCopy(int index, std::string_view text) {
    sqlite3_bind_text(get(), index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  }
  void BindBlob(int index, std::string_view data) {
    sqlite3_bind_blob(get(), index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  }

  int Step() { return ok() ? sqlite3_step(get()) : SQLITE_ERROR; }
  void Reset() { sqlite3_reset(get()); }

  int64_t Int(int column) { return sqlite3_column_int64(get(), column); }
  // Valid until the next step, reset or the statement's end.
  std::string_view Bytes(int column) {
    const void* data = sqlite3_column_blob(get(), column);
    const int size = sqlite3_column_bytes(get(), column);
    return data ? std::string_view(static_cast<const char*>(data), static_cast<size_t>(size))
                : std::string_view();
  }

 private:
  SqliteStatement statement_;
};

// A transaction rolled back unless committed. Immediate mode takes the write
// lock up front, so two writers never deadlock upgrading read locks; the busy
// timeout makes the second one wait. A deferred one gives every statement of
// a reader one state of the file.
class SqlTransaction {
 public:
  enum class Mode { kDeferred, kImmediate };

  SqlTransaction(sqlite3* db, Mode mode) : db_(db) {
    const char* begin = mode == Mode::kImmediate ? "BEGIN IMMEDIATE" : "BEGIN";
    ok_ = sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~SqlTransaction() {
    if (ok_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  SqlTransaction(const SqlTransaction&) = delete;
  SqlTransaction& operator=(const SqlTransaction&) = delete;

  bool ok() const { return ok_; }
  bool Commit() {
    done_ = true;
    return ok_ && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  }

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool done_ = false;
};

}  // namespace fvx::platform
