#include "library/folder_install_aide.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "library/file_copy.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"

namespace fvx::library {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A user name names a folder directly below the users folder, nothing else.
bool IsUserName(std::string_view name) {
  return !name.empty() && name[0] != '.' && name.find_first_of("/\\") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

FolderInstallAide::FolderInstallAide(std::string users_folder)
    : users_folder_(std::move(users_folder)) {}

std::vector<std::string> FolderInstallAide::Users() const {
  std::vector<std::string> users;
  if (users_folder_.empty()) return users;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(users_folder_.c_str()));
  if (!dir) return users;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (IsUserName(name) && IsFolder(platform::JoinPath(users_folder_, name))) {
      users.push_back(std::move(name));
    }
  }
  std::sort(users.begin(), users.end());
  return users;
}

std::string FolderInstallAide::UserFolder(std::string_view user) const {
  if (users_folder_.empty() || !IsUserName(user)) return {};
  std::string folder = platform::JoinPath(users_folder_, user);
  return IsFolder(folder) ? folder : std::string();
}

std::vector<uint32_t> FolderInstallAide::Slots(const std::string& user) const {
  std::vector<uint32_t> slots;
  std::string folder = UserFolder(user);
  if (folder.empty()) return slots;
  std::ifstream in(platform::JoinPath(folder, kPalmSlotsFile));
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    const char* text = line.c_str() + start;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text, &end, 0);
    bool whole = end != text && (*end == '\0' || std::strchr(" \t\r", *end) != nullptr);
    if (whole && errno == 0 && value <= UINT32_MAX) slots.push_back(static_cast<uint32_t>(value));
  }
  return slots;
}

int32_t FolderInstallAide::UserCount() {
  return static_cast<int32_t>(Users().size());
}

int32_t FolderInstallAide::UserName(int32_t index, char* buffer, uint16_t* size) {
  if (size == nullptr) return kAideBadArgument;
  std::vector<std::string> users = Users();
  if (index < 0 || static_cast<size_t>(index) >= users.size()) return kAideNoSuchUser;
  const std::string& name = users[static_cast<size_t>(index)];
  if (name.size() + 1 > UINT16_MAX) return kAideNoSuchUser;
  const auto needed = static_cast<uint16_t>(name.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    return kAideBufferTooSmall;
  }
  std::memcpy(buffer, name.c_str(), needed);
  *size = needed;
  return kAideOk;
}

int32_t FolderInstallAide::Queue(const std::string& queue_folder, std::string_view path) const {
  std::string source(path);
  std::string name = source.substr(platform::LastPathSeparator(source) + 1);
  if (name.empty() || name == "." || name == "..") return kAideBadArgument;
  if (!platform::EnsureDirectory(queue_folder)) return kAideCannotQueue;
  std::string target = platform::JoinPath(queue_folder, name);
  struct stat info {};
  const bool waiting = ::lstat(target.c_str(), &info) == 0;
  // The synchronisation tool may pick the file up at any moment: it must
  // never find half of it.
  int error = 0;
  platform::ReplacingFile file = platform::ReplacingFile::Create(target, &error);
  if (!file.IsOpen() || !CopyFileContents(source, file.file()) || !file.Commit(&error)) {
    return kAideCannotQueue;
  }
  return waiting ? kAideQueuedAgain : kAideOk;
}

int32_t FolderInstallAide::QueueForHandheld(std::string_view user, std::string_view path) {
  std::string folder = UserFolder(user);
  if (folder.empty()) return kAideNoSuchUser;
  return Queue(platform::JoinPath(folder, kPalmQueueFolder), path);
}

int32_t FolderInstallAide::QueueForCard(std::string_view user, uint32_t slot,
                                        std::string_view path) {
  std::string folder = UserFolder(user);
  if (folder.empty()) return kAideNoSuchUser;
  std::vector<uint32_t> slots = Slots(std::string(user));
  if (std::find(slots.begin(), slots.end(), slot) == slots.end()) return kAideNoSuchSlot;
  std::string card_queue =
      platform::JoinPath(platform::JoinPath(folder, kPalmCardQueueFolder), std::to_string(slot));
  return Queue(card_queue, path);
}

int32_t FolderInstallAide::UserId(std::string_view user, uint32_t* id) {
  if (id == nullptr) return kAideBadArgument;
  *id = 0;
  std::vector<std::string> users = Users();
  auto it = std::find(users.begin(), users.end(), user);
  if (it == users.end()) return kAideNoSuchUser;
  *id = static_cast<uint32_t>(it - users.begin()) + 1;
  return kAideOk;
}

int32_t FolderInstallAide::SlotCount(uint32_t id, uint16_t* count) {
  if (count == nullptr) return kAideBadArgument;
  *count = 0;
  std::vector<std::string> users = Users();
  if (id == 0 || id > users.size()) return kAideNoSuchUser;
  *count = static_cast<uint16_t>(std::min<size_t>(Slots(users[id - 1]).size(), UINT16_MAX));
  return kAideOk;
}

int32_t FolderInstallAide::SlotIds(uint32_t id, uint32_t* ids, uint16_t* count) {
  if (count == nullptr || (ids == nullptr && *count > 0)) return kAideBadArgument;
  std::vector<std::string> users = Users();
  if (id == 0 || id > users.size()) {
    *count = 0;
    return kAideNoSuchUser;
  }
  std::vector<uint32_t> slots = Slots(users[id - 1]);
  uint16_t filled = static_cast<uint16_t>(std::min<size_t>(slots.size(), *count));
  std::copy_n(slots.begin(), filled, ids);
  *count = filled;
  return kAideOk;
}

}  // namespace fvx::library
