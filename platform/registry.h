// The programs' shared settings store, in place of the Windows registry.
//
// Keys are addressed by backslash paths ("Software\Calderwick Ltd.\Folivox\Fvx")
// under two roots; key and value names compare without regard to ASCII case,
// and enumeration is in case-insensitive alphabetical order ("registry order").
// Values are strings (arbitrary bytes) or 32-bit numbers (DWORD).
//
// Everything lives in one SQLite database (WAL mode, busy timeout), so the
// reader, its worker threads and the downloader may write at the same time.
// Reads that fail give empty text or 0, silently; the Query* forms tell a
// missing value apart.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace fvx::platform {

enum class RegistryRoot { kLocalMachine, kCurrentUser };

class Registry {
 public:
  // Opens (creating when missing) the database at path; the folder is created too.
  explicit Registry(std::string database_path);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // The process-wide registry at RegistryPath(), opened on first use.
  static Registry& Default();

  bool ok() const { return db_ != nullptr; }

  // How long an operation waits for another program that holds the database
  // locked before it gives up and fails (30 s unless set). Once a wait has
  // lasted a second, and when it gives up, the notice is told (by default a
  // line on stderr), so a stalled program says why.
  using Notice = std::function<void(const std::string& message)>;
  void SetWaitPolicy(std::chrono::milliseconds limit, Notice notice);
  const std::string& path() const { return path_; }

  // Creating a key creates its parents; it succeeds when the key exists afterwards.
  bool CreateKey(RegistryRoot root, std::string_view key);
  bool KeyExists(RegistryRoot root, std::string_view key);
  // Deletes the key, its values and its whole subtree; true when it is gone.
  bool DeleteKey(RegistryRoot root, std::string_view key);

  std::optional<std::string> QueryString(RegistryRoot root, std::string_view key,
                                         std::string_view name);
  std::optional<uint32_t> QueryDword(RegistryRoot root, std::string_view key,
                                     std::string_view name);
  std::string ReadString(RegistryRoot root, std::string_view key, std::string_view name);
  uint32_t ReadDword(RegistryRoot root, std::string_view key, std::string_view name);

  // Writing a value creates its key; a value of the other type is replaced.
  bool WriteString(RegistryRoot root, std::string_view key, std::string_view name,
                   std::string_view value);
  bool WriteDword(RegistryRoot root, std::string_view key, std::string_view name, uint32_t value);
  bool DeleteValue(RegistryRoot root, std::string_view key, std::string_view name);

  // Names as stored (their original case), in registry order.
  std::vector<std::string> SubKeys(RegistryRoot root, std::string_view key);
  std::vector<std::string> ValueNames(RegistryRoot root, std::string_view key);

 private:
  struct Value;
  std::optional<int64_t> FindKey(RegistryRoot root, std::string_view key);
  std::optional<int64_t> CreateKeyLocked(RegistryRoot root, std::string_view key);
  std::optional<Value> QueryValue(RegistryRoot root, std::string_view key, std::string_view name);
  bool WriteValue(RegistryRoot root, std::string_view key, std::string_view name, int type,
                  std::string_view data);

  static int OnBusy(void* self, int attempts);
  void Tell(const std::string& message);

  std::string path_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  std::chrono::milliseconds wait_limit_{30000};
  Notice notice_;
  std::chrono::steady_clock::time_point wait_started_;
  bool wait_told_ = false;
};

}  // namespace fvx::platform
