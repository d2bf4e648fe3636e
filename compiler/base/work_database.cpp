#include "compiler/base/work_database.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

namespace fvx::compiler {

const char* const kWorkDatabaseSettings[4] = {
    "PRAGMA default_cache_size = 68266",
    "PRAGMA default_synchronous = OFF",
    "PRAGMA cache_size = 68266",
    "PRAGMA synchronous = OFF",
};

const char* const kWorkDatabaseTables[6] = {
    "CREATE TABLE tbl_CatDef(CatDefID INTEGER PRIMARY KEY,Name TEXT UNIQUE,MinVal FLOAT DEFAULT "
    "'0.0',MaxVal FLOAT DEFAULT '0.0',Flags INTEGER DEFAULT '0',StartLine INTEGER DEFAULT "
    "'0',PreModifier TEXT,PostModifier TEXT,Precision INTEGER DEFAULT '0',FilePos INTEGER "
    "DEFAULT '0',SortOrder INTEGER DEFAULT '0')",
    "CREATE TABLE tbl_Para(Heading TEXT,TextOffsetH INTEGER,TextOffsetL INTEGER,TextLength "
    "INTEGER,SortOrder INTEGER DEFAULT 0,Flags INTEGER DEFAULT 0,Line INTEGER DEFAULT 0,Column "
    "INTEGER DEFAULT 0)",
    "CREATE TABLE tbl_Links(HRef TEXT,Anchor TEXT DEFAULT NULL,Line INTEGER,Column INTEGER)",
    "CREATE TABLE tbl_Images (Src TEXT DEFAULT NULL,Flags INTEGER DEFAULT '0',ResizeWidth "
    "INTEGER DEFAULT '0',ResizeHeight INTEGER DEFAULT '0',Line INTEGER,Column INTEGER)",
    "CREATE TABLE tbl_Anchors(Name TEXT,ParaID INTEGER,ParaHeading TEXT,Offset INTEGER,Line "
    "INTEGER,Column INTEGER)",
    "CREATE TABLE tbl_Selections(Name TEXT, Line INTEGER,Column INTEGER)",
};

namespace {

bool ExecPlain(sqlite3* db, const char* sql) {
  return db != nullptr && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Owns a text from sqlite3_vmprintf.
struct SqlText {
  char* text;
  explicit SqlText(char* t) : text(t) {}
  ~SqlText() { sqlite3_free(text); }
  SqlText(const SqlText&) = delete;
  SqlText& operator=(const SqlText&) = delete;
};

}  // namespace

WorkDatabase::~WorkDatabase() { Close(); }

bool WorkDatabase::Open() {
  Close();
  // An empty name gives a private temporary database on disk, deleted on close.
  if (sqlite3_open_v2("", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    Close();
    return false;
  }
  for (const char* sql : kWorkDatabaseSettings) {
    // Older pragmas that a newer SQLite ignores are harmless; only a failing
    // database is a failure.
    sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  }
  return true;
}

bool WorkDatabase::CreateTables() {
  for (const char* sql : kWorkDatabaseTables) {
    if (!ExecPlain(db_, sql)) return false;
  }
  return true;
}

bool WorkDatabase::Begin() { return ExecPlain(db_, "BEGIN TRANSACTION"); }
bool WorkDatabase::End() { return ExecPlain(db_, "END TRANSACTION"); }

void WorkDatabase::Close() {
  if (db_ != nullptr) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

std::string WorkDatabase::LastErrorText() const {
  return db_ != nullptr ? sqlite3_errmsg(db_) : "no database";
}

bool CSqlQuery::Query(const char* format, ...) {
  Finalize();
  if (db_ == nullptr) return false;
  va_list args;
  va_start(args, format);
  SqlText sql(sqlite3_vmprintf(format, args));
  va_end(args);
  if (sql.text == nullptr) {
    result_ = SQLITE_NOMEM;
    return false;
  }
  result_ = sqlite3_prepare_v2(db_, sql.text, -1, &statement_, nullptr);
  if (result_ != SQLITE_OK) {
    Finalize();
    return false;
  }
  column_count_ = sqlite3_column_count(statement_);
  return statement_ != nullptr;
}

bool CSqlQuery::Exec(const char* format, ...) {
  Finalize();
  if (db_ == nullptr) return false;
  va_list args;
  va_start(args, format);
  SqlText sql(sqlite3_vmprintf(format, args));
  va_end(args);
  if (sql.text == nullptr) {
    result_ = SQLITE_NOMEM;
    return false;
  }
  result_ = sqlite3_exec(db_, sql.text, nullptr, nullptr, nullptr);
  if (result_ == SQLITE_SCHEMA) result_ = sqlite3_exec(db_, sql.text, nullptr, nullptr, nullptr);
  return result_ == SQLITE_OK;
}

bool CSqlQuery::Step() {
  if (statement_ == nullptr) return false;
  result_ = sqlite3_step(statement_);
  column_count_ = sqlite3_column_count(statement_);
  return result_ == SQLITE_ROW;
}

std::optional<std::string_view> CSqlQuery::ColumnText(int index) {
  if (statement_ == nullptr || index < 0 || index >= column_count_) return std::nullopt;
  const unsigned char* text = sqlite3_column_text(statement_, index);
  int length = sqlite3_column_bytes(statement_, index);
  if (text == nullptr) return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

bool CSqlQuery::ColumnInt(int index, int64_t& value) {
  auto text = ColumnText(index);
  if (!text) return false;
  std::string copy(*text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(copy.c_str(), &end, 10);
  return !copy.empty() && end != copy.c_str() && *end == '\0' && errno == 0;
}

bool CSqlQuery::ColumnUInt(int index, uint64_t& value) {
  auto text = ColumnText(index);
  if (!text) return false;
  std::string copy(*text);
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(copy.c_str(), &end, 10);
  return !copy.empty() && end != copy.c_str() && *end == '\0' && errno == 0;
}

bool CSqlQuery::ColumnInt(int index, int32_t& value) {
  int64_t wide = 0;
  bool ok = ColumnInt(index, wide);
  value = static_cast<int32_t>(wide);
  return ok && wide >= INT32_MIN && wide <= INT32_MAX;
}

bool CSqlQuery::ColumnUInt(int index, uint32_t& value) {
  uint64_t wide = 0;
  bool ok = ColumnUInt(index, wide);
  value = static_cast<uint32_t>(wide);
  return ok && wide <= UINT32_MAX;
}

double CSqlQuery::ColumnDouble(int index) {
  if (statement_ == nullptr || index < 0 || index >= column_count_) return 0.0;
  return sqlite3_column_double(statement_, index);
}

int64_t CSqlQuery::LastInsertRowId() const {
  return db_ != nullptr ? sqlite3_last_insert_rowid(db_) : -1;
}

void CSqlQuery::Finalize() {
  if (statement_ != nullptr) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
  column_count_ = 0;
}

CachedStatement::~CachedStatement() { Finalize(); }

bool CachedStatement::Prepare(sqlite3* db, const char* sql) {
  if (statement_ != nullptr && db == db_) return true;
  Finalize();
  db_ = db;
  if (db == nullptr) return false;
  if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
    Finalize();
    return false;
  }
  return true;
}

void CachedStatement::BindInt(int index, int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
}

void CachedStatement::BindDouble(int index, double value) {
  sqlite3_bind_double(statement_, index, value);
}

void CachedStatement::BindText(int index, std::string_view text) {
  sqlite3_bind_text(statement_, index, text.data() != nullptr ? text.data() : "", static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

void CachedStatement::BindNull(int index) { sqlite3_bind_null(statement_, index); }

int CachedStatement::Run() {
  if (statement_ == nullptr) return SQLITE_MISUSE;
  int result;
  do {
    result = sqlite3_step(statement_);
  } while (result == SQLITE_ROW);
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
  return result & 0xFF;
}

void CachedStatement::Finalize() {
  if (statement_ != nullptr) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

}  // namespace fvx::compiler
