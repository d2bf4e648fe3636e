// A handheld reached as a folder of this computer: the mount point of the
// device or of its memory, or any folder laid out like one (docs/handhelds.md).
//
//   root/                         the device's "\"
//     My Documents/               where books go
//     Storage Card/               a storage card: a mount point of another
//       .fvx-storage-card           file system than the root's, or a
//                                   folder holding this marker file
//     .fvx-builtin-folders        the device registry's "\Drivers\Builtin":
//                                   one line per subkey, "Key=FolderName"
//
// A root that is missing or cannot be read is no device: CeRapiInitEx never
// signals, so the caller's wait runs out as with a handheld that is not
// plugged in. Files without any write permission count as read-only: they
// can be neither replaced nor deleted (even by root), as on the handheld.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "library/device_link.h"
#include "platform/file.h"

namespace fvx::library {

inline constexpr char kStorageCardMarker[] = ".fvx-storage-card";
inline constexpr char kBuiltinFoldersFile[] = ".fvx-builtin-folders";

class FolderDeviceLink : public DeviceLink {
 public:
  explicit FolderDeviceLink(std::string root);
  ~FolderDeviceLink() override;

  const std::string& root() const { return root_; }

  int32_t CeRapiInitEx(RapiInit* init) override;
  int32_t CeRapiUninit() override;
  CeHandle CeFindFirstFile(std::string_view pattern, CeFindData* data) override;
  bool CeFindNextFile(CeHandle find, CeFindData* data) override;
  bool CeFindClose(CeHandle find) override;
  uint32_t CeRegOpenKeyEx(CeKey key, std::string_view subkey, CeKey* result) override;
  uint32_t CeRegEnumKeyEx(CeKey key, uint32_t index, std::string* name) override;
  uint32_t CeRegQueryValueEx(CeKey key, std::string_view value_name, std::string* data,
                             uint32_t max_bytes) override;
  uint32_t CeRegCloseKey(CeKey key) override;
  bool CeCreateDirectory(std::string_view path) override;
  CeHandle CeCreateFile(std::string_view path, uint32_t access, uint32_t creation) override;
  bool CeWriteFile(CeHandle file, const void* data, uint32_t count, uint32_t* written) override;
  bool CeCloseHandle(CeHandle handle) override;
  bool CeMoveFile(std::string_view from, std::string_view to) override;
  bool CeDeleteFile(std::string_view path) override;
  uint32_t CeGetLastError() override;

 private:
  struct OpenFile {
    platform::File file;
    bool written = false;
  };
  struct Find {
    std::vector<CeFindData> entries;
    size_t next = 0;
  };
  struct Driver {
    std::string name;
    std::optional<std::string> folder_name;
  };
  // An open key of "\Drivers\Builtin" (driver empty) or of one of its subkeys.
  struct Key {
    std::vector<Driver> drivers;
    std::optional<size_t> driver;
  };

  bool Connected();  // sets the last error when not
  bool Fail(uint32_t error);
  // The local path of a device path; false (and an error) for a name that
  // would leave the root.
  bool LocalPath(std::string_view device_path, std::string* local);
  std::vector<Driver> ReadBuiltinFolders() const;
  CeHandle NewHandle() { return next_handle_++; }

  std::mutex mutex_;
  const std::string root_;
  bool connected_ = false;
  uint32_t last_error_ = 0;
  CeHandle next_handle_ = 1;
  std::map<CeHandle, OpenFile> files_;
  std::map<CeHandle, Find> finds_;
  std::map<CeKey, Key> keys_;
};

}  // namespace fvx::library
