#include "platform/registry.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "platform/paths.h"
#include "platform/sqlite.h"

namespace fvx::platform {
namespace {

constexpr int kTypeString = 1;  // REG_SZ
constexpr int kTypeDword = 4;   // REG_DWORD

// Keys form a tree: each row names its parent; the two roots are rows 1 and 2.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS reg_values("
    " key_id INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB,"
    " PRIMARY KEY(key_id, name));"
    "INSERT OR IGNORE INTO reg_keys(id, parent, name) VALUES (1, 0, 'HKEY_LOCAL_MACHINE');"
    "INSERT OR IGNORE INTO reg_keys(id, parent, name) VALUES (2, 0, 'HKEY_CURRENT_USER');";

int64_t RootId(RegistryRoot root) { return root == RegistryRoot::kLocalMachine ? 1 : 2; }

std::vector<std::string_view> SplitKey(std::string_view key) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find('\\', start);
    if (end == std::string_view::npos) end = key.size();
    if (end > start) parts.push_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

using Statement = SqlStatement;

struct WriteTransaction : SqlTransaction {
  explicit WriteTransaction(sqlite3* db) : SqlTransaction(db, Mode::kImmediate) {}
};

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

struct Registry::Value {
  int type;
  std::string data;
};

Registry::Registry(std::string database_path) : path_(std::move(database_path)) {
  if (std::string folder = FolderOf(path_); !folder.empty()) EnsureDirectory(folder);
  if (sqlite3_open_v2(path_.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    return;
  }
  sqlite3_busy_handler(db_, &Registry::OnBusy, this);
  // Switching to WAL needs a moment of exclusive access; another process may
  // hold the database, so retry within the busy timeout.
  sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  WriteTransaction transaction(db_);
  if (!transaction.ok() || sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK ||
      !transaction.Commit()) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
}

Registry::~Registry() { sqlite3_close(db_); }

void Registry::SetWaitPolicy(std::chrono::milliseconds limit, Notice notice) {
  std::lock_guard lock(mutex_);
  wait_limit_ = limit;
  notice_ = std::move(notice);
}

void Registry::Tell(const std::string& message) {
  if (notice_) {
    notice_(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

// Called by SQLite while another connection holds the lock: wait in short
// steps, say so once the wait is noticeable, give up at the limit.
int Registry::OnBusy(void* self, int attempts) {
  auto* registry = static_cast<Registry*>(self);
  const auto now = std::chrono::steady_clock::now();
  if (attempts == 0) {
    registry->wait_started_ = now;
    registry->wait_told_ = false;
  }
  const auto waited = now - registry->wait_started_;
  const long long limit_ms = registry->wait_limit_.count();
  if (waited >= registry->wait_limit_) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", limit_ms / 1000.0);
    registry->Tell("Gave up waiting for the settings database " + registry->path_ + " after " +
                   seconds + " s: another program keeps it locked; the settings were not read or "
                   "saved.");
    return 0;
  }
  if (!registry->wait_told_ && waited >= std::chrono::seconds(1)) {
    registry->wait_told_ = true;
    registry->Tell("Waiting for the settings database " + registry->path_ +
                   ", which another program has locked...");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return 1;
}

Registry& Registry::Default() {
  static Registry registry(RegistryPath());
  return registry;
}

std::optional<int64_t> Registry::FindKey(RegistryRoot root, std::string_view key) {
  if (!db_) return std::nullopt;
  int64_t id = RootId(root);
  for (std::string_view part : SplitKey(key)) {
    Statement lookup(db_, "SELECT id FROM reg_keys WHERE parent = ?1 AND name = ?2");
    lookup.Bind(1, id);
    lookup.BindText(2, part);
    if (lookup.Step() != SQLITE_ROW) return std::nullopt;
    id = lookup.Int(0);
  }
  return id;
}

std::optional<int64_t> Registry::CreateKeyLocked(RegistryRoot root, std::string_view key) {
  int64_t id = RootId(root);
  for (std::string_view part : SplitKey(key)) {
    Statement insert(db_, "INSERT OR IGNORE INTO reg_keys(parent, name) VALUES (?1, ?2)");
    insert.Bind(1, id);
    insert.BindText(2, part);
    if (insert.Step() != SQLITE_DONE) return std::nullopt;
    Statement lookup(db_, "SELECT id FROM reg_keys WHERE parent = ?1 AND name = ?2");
    lookup.Bind(1, id);
    lookup.BindText(2, part);
    if (lookup.Step() != SQLITE_ROW) return std::nullopt;
    id = lookup.Int(0);
  }
  return id;
}

bool Registry::CreateKey(RegistryRoot root, std::string_view key) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  WriteTransaction transaction(db_);
  if (!transaction.ok() || !CreateKeyLocked(root, key)) return false;
  return transaction.Commit();
}

bool Registry::KeyExists(RegistryRoot root, std::string_view key) {
  std::lock_guard lock(mutex_);
  return FindKey(root, key).has_value();
}

bool Registry::DeleteKey(RegistryRoot root, std::string_view key) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  if (SplitKey(key).empty()) return false;  // a root is never deleted
  WriteTransaction transaction(db_);
  if (!transaction.ok()) return false;
  std::optional<int64_t> id = FindKey(root, key);
  if (!id) return transaction.Commit();
  // Collect the subtree breadth first, then delete its values and keys.
  std::vector<int64_t> subtree{*id};
  for (size_t i = 0; i < subtree.size(); ++i) {
    Statement children(db_, "SELECT id FROM reg_keys WHERE parent = ?1");
    children.Bind(1, subtree[i]);
    while (children.Step() == SQLITE_ROW) subtree.push_back(children.Int(0));
  }
  for (int64_t key_id : subtree) {
    Statement values(db_, "DELETE FROM reg_values WHERE key_id = ?1");
    values.Bind(1, key_id);
    Statement row(db_, "DELETE FROM reg_keys WHERE id = ?1");
    row.Bind(1, key_id);
    if (values.Step() != SQLITE_DONE || row.Step() != SQLITE_DONE) return false;
  }
  return transaction.Commit();
}

std::optional<Registry::Value> Registry::QueryValue(RegistryRoot root, std::string_view key,
                                                    std::string_view name) {
  std::lock_guard lock(mutex_);
  std::optional<int64_t> id = FindKey(root, key);
  if (!id) return std::nullopt;
  Statement query(db_, "SELECT type, data FROM reg_values WHERE key_id = ?1 AND name = ?2");
  query.Bind(1, *id);
  query.BindText(2, name);
  if (query.Step() != SQLITE_ROW) return std::nullopt;
  return Value{static_cast<int>(query.Int(0)), std::string(query.Bytes(1))};
}

std::optional<std::string> Registry::QueryString(RegistryRoot root, std::string_view key,
                                                 std::string_view name) {
  std::optional<Value> value = QueryValue(root, key, name);
  if (!value || value->type != kTypeString) return std::nullopt;
  return value->data;
}

std::optional<uint32_t> Registry::QueryDword(RegistryRoot root, std::string_view key,
                                             std::string_view name) {
  std::optional<Value> value = QueryValue(root, key, name);
  if (!value || value->type != kTypeDword || value->data.size() != 4) return std::nullopt;
  const auto* b = reinterpret_cast<const unsigned char*>(value->data.data());
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

std::string Registry::ReadString(RegistryRoot root, std::string_view key, std::string_view name) {
  return QueryString(root, key, name).value_or(std::string());
}

uint32_t Registry::ReadDword(RegistryRoot root, std::string_view key, std::string_view name) {
  return QueryDword(root, key, name).value_or(0);
}

bool Registry::WriteValue(RegistryRoot root, std::string_view key, std::string_view name, int type,
                          std::string_view data) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  WriteTransaction transaction(db_);
  if (!transaction.ok()) return false;
  std::optional<int64_t> id = CreateKeyLocked(root, key);
  if (!id) return false;
  // An upsert keeps the name's original spelling, as the Windows registry does.
  Statement write(db_, "INSERT INTO reg_values(key_id, name, type, data) VALUES (?1, ?2, ?3, ?4) "
                       "ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type, "
                       "data = excluded.data");
  write.Bind(1, *id);
  write.BindText(2, name);
  write.Bind(3, type);
  write.BindBlob(4, data);
  if (write.Step() != SQLITE_DONE) return false;
  return transaction.Commit();
}

bool Registry::WriteString(RegistryRoot root, std::string_view key, std::string_view name,
                           std::string_view value) {
  return WriteValue(root, key, name, kTypeString, value);
}

bool Registry::WriteDword(RegistryRoot root, std::string_view key, std::string_view name,
                          uint32_t value) {
  char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                   static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  return WriteValue(root, key, name, kTypeDword, std::string_view(bytes, 4));
}

bool Registry::DeleteValue(RegistryRoot root, std::string_view key, std::string_view name) {
  std::lock_guard lock(mutex_);
  if (!db_) return false;
  WriteTransaction transaction(db_);
  if (!transaction.ok()) return false;
  std::optional<int64_t> id = FindKey(root, key);
  if (!id) return false;
  Statement erase(db_, "DELETE FROM reg_values WHERE key_id = ?1 AND name = ?2");
  erase.Bind(1, *id);
  erase.BindText(2, name);
  if (erase.Step() != SQLITE_DONE) return false;
  bool deleted = sqlite3_changes(db_) > 0;
  return transaction.Commit() && deleted;
}

std::vector<std::string> Registry::SubKeys(RegistryRoot root, std::string_view key) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  std::optional<int64_t> id = FindKey(root, key);
  if (!id) return names;
  Statement list(db_, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY name COLLATE NOCASE, "
                      "name");
  list.Bind(1, *id);
  while (list.Step() == SQLITE_ROW) names.emplace_back(list.Bytes(0));
  return names;
}

std::vector<std::string> Registry::ValueNames(RegistryRoot root, std::string_view key) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  std::optional<int64_t> id = FindKey(root, key);
  if (!id) return names;
  Statement list(db_, "SELECT name FROM reg_values WHERE key_id = ?1 ORDER BY name COLLATE "
                      "NOCASE, name");
  list.Bind(1, *id);
  while (list.Step() == SQLITE_ROW) names.emplace_back(list.Bytes(0));
  return names;
}

}  // namespace fvx::platform
