#include "library/folder_device_link.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <memory>

#include "library/library_settings.h"
#include "platform/ascii.h"
#include "platform/paths.h"

namespace fvx::library {
namespace {

uint32_t ErrorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kCeErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP:
      return kCeErrorAccessDenied;
    case ENOSPC:
    case EDQUOT:
      return kCeErrorDiskFull;
    case EEXIST:
      return kCeErrorAlreadyExists;
    case ENAMETOOLONG:
      return kCeErrorInvalidName;
    default:
      return kCeErrorGeneralFailure;
  }
}

// Read-only on the handheld: no write permission for anyone. Checked
// explicitly, since the permission bits alone do not stop root.
bool IsReadOnly(const struct stat& info) {
  return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

std::string Trim(const std::string& text) {
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

// "Drivers\Builtin" and its subkeys, split at either separator.
std::vector<std::string> KeyParts(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

FolderDeviceLink::FolderDeviceLink(std::string root) : root_(std::move(root)) {}
FolderDeviceLink::~FolderDeviceLink() = default;

bool FolderDeviceLink::Fail(uint32_t error) {
  last_error_ = error;
  return false;
}

bool FolderDeviceLink::Connected() {
  return connected_ || Fail(kCeErrorDeviceNotConnected);
}

bool FolderDeviceLink::LocalPath(std::string_view device_path, std::string* local) {
  while (!device_path.empty() && (device_path.front() == '\\' || device_path.front() == '/')) {
    device_path.remove_prefix(1);
  }
  while (!device_path.empty() && (device_path.back() == '\\' || device_path.back() == '/')) {
    device_path.remove_suffix(1);
  }
  if (device_path.empty()) {
    *local = root_;
    return true;
  }
  if (!IsPlainRelativeName(device_path)) return Fail(kCeErrorInvalidName);
  std::string relative(device_path);
  std::replace(relative.begin(), relative.end(), '\\', '/');
  *local = platform::JoinPath(root_, relative);
  return true;
}

int32_t FolderDeviceLink::CeRapiInitEx(RapiInit* init) {
  if (init == nullptr) return -1;
  std::lock_guard lock(mutex_);
  struct stat info {};
  DirPtr dir(root_.empty() ? nullptr : ::opendir(root_.c_str()));
  if (dir && ::stat(root_.c_str(), &info) == 0) {
    connected_ = true;
    init->hrRapiInit = 0;
    init->heRapiInit.Set();
  }
  return 0;
}

int32_t FolderDeviceLink::CeRapiUninit() {
  std::lock_guard lock(mutex_);
  connected_ = false;
  files_.clear();
  finds_.clear();
  keys_.clear();
  return 0;
}

CeHandle FolderDeviceLink::CeFindFirstFile(std::string_view pattern, CeFindData* data) {
  std::lock_guard lock(mutex_);
  if (!Connected()) return kInvalidCeHandle;
  if (data == nullptr || pattern.empty() || pattern.back() != '*') {
    Fail(kCeErrorInvalidParameter);
    return kInvalidCeHandle;
  }
  pattern.remove_suffix(1);
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') {
    Fail(kCeErrorInvalidParameter);  // only whole folders are listed
    return kInvalidCeHandle;
  }
  std::string folder;
  if (!LocalPath(pattern, &folder)) return kInvalidCeHandle;
  DirPtr dir(::opendir(folder.c_str()));
  if (!dir) {
    Fail(ErrorOf(errno));
    return kInvalidCeHandle;
  }
  struct stat folder_info {};
  if (::fstat(::dirfd(dir.get()), &folder_info) != 0) {
    Fail(ErrorOf(errno));
    return kInvalidCeHandle;
  }
  const bool at_root = folder == root_;
  Find find;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    std::string path = platform::JoinPath(folder, name);
    if (::stat(path.c_str(), &info) != 0) continue;  // a dangling link
    CeFindData found;
    found.name = name;
    if (S_ISDIR(info.st_mode)) {
      found.attributes = kCeAttributeDirectory;
      bool card = info.st_dev != folder_info.st_dev ||
                  ::access(platform::JoinPath(path, kStorageCardMarker).c_str(), F_OK) == 0;
      if (at_root && card) found.attributes |= kCeAttributeTemporary;
    } else {
      found.size = static_cast<uint64_t>(info.st_size);
      found.attributes = IsReadOnly(info) ? kCeAttributeReadOnly : kCeAttributeNormal;
    }
    if (name[0] == '.')
      found.attributes = (found.attributes & ~kCeAttributeNormal) | kCeAttributeHidden;
    find.entries.push_back(std::move(found));
  }
  // Directory order depends on the file system; name order makes "the
  // first card" the same on every run.
  std::sort(find.entries.begin(), find.entries.end(),
            [](const CeFindData& a, const CeFindData& b) { return a.name < b.name; });
  if (find.entries.empty()) {
    Fail(kCeErrorNoMoreFiles);
    return kInvalidCeHandle;
  }
  *data = find.entries[0];
  find.next = 1;
  CeHandle handle = NewHandle();
  finds_.emplace(handle, std::move(find));
  return handle;
}

bool FolderDeviceLink::CeFindNextFile(CeHandle find, CeFindData* data) {
  std::lock_guard lock(mutex_);
  auto it = finds_.find(find);
  if (it == finds_.end() || data == nullptr) return Fail(kCeErrorInvalidHandle);
  if (it->second.next >= it->second.entries.size()) return Fail(kCeErrorNoMoreFiles);
  *data = it->second.entries[it->second.next++];
  return true;
}

bool FolderDeviceLink::CeFindClose(CeHandle find) {
  std::lock_guard lock(mutex_);
  return finds_.erase(find) == 1 || Fail(kCeErrorInvalidHandle);
}

std::vector<FolderDeviceLink::Driver> FolderDeviceLink::ReadBuiltinFolders() const {
  std::vector<Driver> drivers;
  std::ifstream in(platform::JoinPath(root_, kBuiltinFoldersFile));
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    Driver driver;
    size_t equals = line.find('=');
    driver.name = Trim(line.substr(0, equals));
    if (equals != std::string::npos) driver.folder_name = Trim(line.substr(equals + 1));
    if (!driver.name.empty()) drivers.push_back(std::move(driver));
  }
  return drivers;
}

uint32_t FolderDeviceLink::CeRegOpenKeyEx(CeKey key, std::string_view subkey, CeKey* result) {
  std::lock_guard lock(mutex_);
  if (!Connected()) return last_error_;
  if (result == nullptr) return kCeErrorInvalidParameter;
  std::vector<std::string> parts = KeyParts(subkey);
  Key opened;
  if (key == kCeHkeyLocalMachine) {
    if (parts.size() < 2 || parts.size() > 3 ||
        !platform::EqualsIgnoringAsciiCase(parts[0], "Drivers") ||
        !platform::EqualsIgnoringAsciiCase(parts[1], "Builtin")) {
      return kCeErrorFileNotFound;
    }
    opened.drivers = ReadBuiltinFolders();
    parts.erase(parts.begin(), parts.begin() + 2);
  } else {
    auto it = keys_.find(key);
    if (it == keys_.end()) return kCeErrorInvalidHandle;
    if (it->second.driver.has_value() && !parts.empty()) return kCeErrorFileNotFound;
    opened = it->second;
    if (parts.size() > 1) return kCeErrorFileNotFound;
  }
  if (!parts.empty()) {
    auto match = std::find_if(opened.drivers.begin(), opened.drivers.end(), [&](const Driver& d) {
      return platform::EqualsIgnoringAsciiCase(d.name, parts[0]);
    });
    if (match == opened.drivers.end()) return kCeErrorFileNotFound;
    opened.driver = static_cast<size_t>(match - opened.drivers.begin());
  }
  *result = NewHandle();
  keys_.emplace(*result, std::move(opened));
  return kCeErrorSuccess;
}

uint32_t FolderDeviceLink::CeRegEnumKeyEx(CeKey key, uint32_t index, std::string* name) {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (it == keys_.end() || name == nullptr) return kCeErrorInvalidHandle;
  if (it->second.driver.has_value() || index >= it->second.drivers.size()) {
    return kCeErrorNoMoreItems;
  }
  *name = it->second.drivers[index].name;
  return kCeErrorSuccess;
}

uint32_t FolderDeviceLink::CeRegQueryValueEx(CeKey key, std::string_view value_name,
                                             std::string* data, uint32_t max_bytes) {
  std::lock_guard lock(mutex_);
  auto it = keys_.find(key);
  if (it == keys_.end() || data == nullptr) return kCeErrorInvalidHandle;
  if (!it->second.driver.has_value() ||
      !platform::EqualsIgnoringAsciiCase(value_name, "FolderName")) {
    return kCeErrorFileNotFound;
  }
  const std::optional<std::string>& value = it->second.drivers[*it->second.driver].folder_name;
  if (!value.has_value()) return kCeErrorFileNotFound;
  if (value->size() + 1 > max_bytes) return kCeErrorMoreData;
  *data = *value;
  return kCeErrorSuccess;
}

uint32_t FolderDeviceLink::CeRegCloseKey(CeKey key) {
  std::lock_guard lock(mutex_);
  return keys_.erase(key) == 1 ? kCeErrorSuccess : kCeErrorInvalidHandle;
}

bool FolderDeviceLink::CeCreateDirectory(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string local;
  if (!Connected() || !LocalPath(path, &local)) return false;
  return ::mkdir(local.c_str(), 0777) == 0 || Fail(ErrorOf(errno));
}

CeHandle FolderDeviceLink::CeCreateFile(std::string_view path, uint32_t access, uint32_t creation) {
  std::lock_guard lock(mutex_);
  std::string local;
  if (!Connected() || !LocalPath(path, &local)) return kInvalidCeHandle;
  struct stat info {};
  const bool exists = ::lstat(local.c_str(), &info) == 0;
  int fd = -1;
  if (creation == kCeOpenExisting) {
    if (!exists) {
      Fail(kCeErrorFileNotFound);
      return kInvalidCeHandle;
    }
    if (S_ISDIR(info.st_mode) || ((access & kCeGenericWrite) && IsReadOnly(info))) {
      Fail(kCeErrorAccessDenied);
      return kInvalidCeHandle;
    }
    fd = ::open(local.c_str(), ((access & kCeGenericWrite) ? O_WRONLY : O_PATH) | O_CLOEXEC);
  } else if (creation == kCeCreateAlways) {
    // Never through a link: the file must end up inside the device.
    if (exists && (!S_ISREG(info.st_mode) || IsReadOnly(info))) {
      Fail(kCeErrorFileExists);
      return kInvalidCeHandle;
    }
    fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && exists) {
      Fail(kCeErrorFileExists);
      return kInvalidCeHandle;
    }
  } else {
    Fail(kCeErrorInvalidParameter);
    return kInvalidCeHandle;
  }
  if (fd < 0) {
    Fail(ErrorOf(errno));
    return kInvalidCeHandle;
  }
  CeHandle handle = NewHandle();
  files_.emplace(handle, OpenFile{platform::File(fd), false});
  return handle;
}

bool FolderDeviceLink::CeWriteFile(CeHandle file, const void* data, uint32_t count,
                                   uint32_t* written) {
  std::lock_guard lock(mutex_);
  if (written != nullptr) *written = 0;
  auto it = files_.find(file);
  if (it == files_.end()) return Fail(kCeErrorInvalidHandle);
  if (count > 0 && !it->second.file.Write(data, count)) {
    return Fail(ErrorOf(it->second.file.LastError()));
  }
  it->second.written = true;
  if (written != nullptr) *written = count;
  return true;
}

bool FolderDeviceLink::CeCloseHandle(CeHandle handle) {
  std::lock_guard lock(mutex_);
  if (finds_.erase(handle) == 1 || keys_.erase(handle) == 1) return true;
  auto it = files_.find(handle);
  if (it == files_.end()) return Fail(kCeErrorInvalidHandle);
  // A memory card may be pulled as soon as the transfer says it is done.
  bool ok = !it->second.written || it->second.file.Sync();
  int error = it->second.file.LastError();
  files_.erase(it);
  return ok || Fail(ErrorOf(error));
}

bool FolderDeviceLink::CeMoveFile(std::string_view from, std::string_view to) {
  std::lock_guard lock(mutex_);
  std::string local_from;
  std::string local_to;
  if (!Connected() || !LocalPath(from, &local_from) || !LocalPath(to, &local_to)) return false;
  struct stat info {};
  if (::lstat(local_from.c_str(), &info) != 0) return Fail(kCeErrorFileNotFound);
  if (::renameat2(AT_FDCWD, local_from.c_str(), AT_FDCWD, local_to.c_str(), RENAME_NOREPLACE) ==
      0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return Fail(ErrorOf(errno));
  // A file system without the no-replace rename (some FUSE mounts).
  if (::lstat(local_to.c_str(), &info) == 0) return Fail(kCeErrorAlreadyExists);
  return ::rename(local_from.c_str(), local_to.c_str()) == 0 || Fail(ErrorOf(errno));
}

bool FolderDeviceLink::CeDeleteFile(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::string local;
  if (!Connected() || !LocalPath(path, &local)) return false;
  struct stat info {};
  if (::lstat(local.c_str(), &info) != 0) return Fail(kCeErrorFileNotFound);
  if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && IsReadOnly(info))) {
    return Fail(kCeErrorAccessDenied);
  }
  return ::unlink(local.c_str()) == 0 || Fail(ErrorOf(errno));
}

uint32_t FolderDeviceLink::CeGetLastError() {
  std::lock_guard lock(mutex_);
  return last_error_;
}

}  // namespace fvx::library
