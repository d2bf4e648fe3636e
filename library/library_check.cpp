#include "library/library_check.h"

#include <sys/stat.h>

#include <future>
#include <vector>

#include "bookformat/book_id.h"
#include "library/library_settings.h"

namespace fvx::library {

using platform::RegistryRoot;

std::optional<uint32_t> FileCreatedTime(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return static_cast<uint32_t>(status.st_mtime);
}

int CheckLibraryEntries(platform::Registry& registry) {
  std::string root = FileInfoKey();
  if (!registry.KeyExists(RegistryRoot::kLocalMachine, root)) return 0;
  std::vector<std::string> doomed;
  for (const std::string& key : registry.SubKeys(RegistryRoot::kLocalMachine, root)) {
    std::string entry_key = root + "\\" + key;
    std::string path = registry.ReadString(RegistryRoot::kLocalMachine, entry_key, "Path");
    std::optional<uint32_t> file_time;
    if (!path.empty()) file_time = FileCreatedTime(path);
    if (!file_time) {
      doomed.push_back(entry_key);
      continue;
    }
    uint32_t recorded = registry.ReadDword(RegistryRoot::kLocalMachine, entry_key, "CreatedTime");
    if (recorded == 0) {
      std::optional<std::string> id = format::BookIdOfFile(path);
      if (!id || *id != key) {
        doomed.push_back(entry_key);
      } else {
        registry.WriteDword(RegistryRoot::kLocalMachine, entry_key, "CreatedTime", *file_time);
      }
    } else if (recorded != *file_time) {
      doomed.push_back(entry_key);
    }
  }
  for (const std::string& key : doomed) registry.DeleteKey(RegistryRoot::kLocalMachine, key);
  return static_cast<int>(doomed.size());
}

std::thread StartLibraryCheck(platform::Registry& registry) {
  std::promise<void> begun;
  std::future<void> started = begun.get_future();
  std::thread thread([&registry, begun = std::move(begun)]() mutable {
    begun.set_value();
    CheckLibraryEntries(registry);
  });
  started.wait();
  return thread;
}

}  // namespace fvx::library
