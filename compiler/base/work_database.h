// The compile's private SQLite database and the statement wrapper through
// which every stage reaches it.
//
// Text columns hold the compiler's characters as they are: one byte per
// character, 0..255, stored without any conversion (SQLite keeps and
// compares TEXT bytes as given; no statement here relies on UTF-8). What a
// stage writes is what it reads back, byte for byte.
//
// Call order: WorkDatabase::Open() (settings), CreateTables(), Begin(); the
// parse inserts rows; End(); later stages run their own transactions or
// none. A CSqlQuery lives on the stack of one query site.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace fvx::compiler {

class WorkDatabase {
 public:
  WorkDatabase() = default;
  ~WorkDatabase();
  WorkDatabase(const WorkDatabase&) = delete;
  WorkDatabase& operator=(const WorkDatabase&) = delete;

  // Opens a private temporary database (SQLite deletes it on close) and runs
  // the settings: page cache 68266 pages, synchronous writes off.
  [[nodiscard]] bool Open();
  // The fixed tables of a compile (subjects, categories, links, pictures,
  // anchors, selections).
  [[nodiscard]] bool CreateTables();
  [[nodiscard]] bool Begin();  // "BEGIN TRANSACTION"
  [[nodiscard]] bool End();    // "END TRANSACTION"
  void Close();

  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* handle() const { return db_; }
  // SQLite's message for the last failure (for diagnostics, never shown as a
  // compiler message).
  std::string LastErrorText() const;

 private:
  sqlite3* db_ = nullptr;
};

// The settings, in the order they are executed right after opening.
extern const char* const kWorkDatabaseSettings[4];
// The statements that create the fixed tables, in order.
extern const char* const kWorkDatabaseTables[6];

class CSqlQuery {
 public:
  explicit CSqlQuery(sqlite3* db) : db_(db) {}
  explicit CSqlQuery(const WorkDatabase& db) : db_(db.handle()) {}
  ~CSqlQuery() { Finalize(); }
  CSqlQuery(const CSqlQuery&) = delete;
  CSqlQuery& operator=(const CSqlQuery&) = delete;

  // Formats with SQLite's own formatter ("%q" quotes a text, "%Q" quotes or
  // gives NULL, "%d" an int, "%lld" an int64), finalizes the previous
  // statement and prepares the new one. True when preparation succeeded.
  [[nodiscard]] bool Query(const char* format, ...);
  // Formats and executes directly (all statements of the text); an
  // SQLITE_SCHEMA result is retried once. True on SQLITE_OK.
  [[nodiscard]] bool Exec(const char* format, ...);
  // True only while rows come (SQLITE_ROW).
  [[nodiscard]] bool Step();

  // The column's text (its bytes), or nullopt when the index is outside the
  // row or no statement exists. A NULL column is an empty text.
  std::optional<std::string_view> ColumnText(int index);
  // Base-10 conversion of the column's text. The value is stored even when
  // trailing characters follow the number; the result is true only when the
  // whole text was a number.
  [[nodiscard]] bool ColumnInt(int index, int64_t& value);
  [[nodiscard]] bool ColumnUInt(int index, uint64_t& value);
  bool ColumnInt(int index, int32_t& value);
  bool ColumnUInt(int index, uint32_t& value);
  // The column as a double (SQLite's own conversion); 0 outside the row.
  double ColumnDouble(int index);

  // The last inserted ROWID, or -1 without a database.
  int64_t LastInsertRowId() const;
  int result() const { return result_; }
  int column_count() const { return column_count_; }
  void Finalize();

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  int column_count_ = 0;
  int result_ = SQLITE_ERROR;
};

// A statement prepared once and run many times with bound parameters, for
// the inserts that run per subject, value, link or anchor while parsing.
// Same SQL meaning as the formatted statement, without the cost of
// formatting and preparing every time.
class CachedStatement {
 public:
  CachedStatement() = default;
  ~CachedStatement();
  CachedStatement(const CachedStatement&) = delete;
  CachedStatement& operator=(const CachedStatement&) = delete;

  // Prepares sql on db unless it is prepared already. False on failure.
  [[nodiscard]] bool Prepare(sqlite3* db, const char* sql);
  bool IsPrepared() const { return statement_ != nullptr; }

  // Parameters are numbered from 1 as in SQLite.
  void BindInt(int index, int64_t value);
  void BindDouble(int index, double value);
  void BindText(int index, std::string_view text);
  void BindNull(int index);
  // Runs the statement to its end and resets it for the next use; the SQLite
  // result (SQLITE_DONE on success, SQLITE_CONSTRAINT on a uniqueness
  // violation, ...).
  int Run();
  void Finalize();

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace fvx::compiler
