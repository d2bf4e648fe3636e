// A file held under an exclusive advisory lock (flock) for a read-modify-
// write that other processes make too. Programs that change the file in
// place take the lock before they read what they will change, and hold it
// until they have written.
//
// The lock is on the file the path names once it is granted: when another
// process replaced the file under the path (rename) while this one waited,
// the new file is opened and locked instead.
#pragma once

#include <string>

#include "platform/file.h"

namespace fvx::platform {

class LockedFile {
 public:
  LockedFile() = default;
  LockedFile(LockedFile&&) noexcept = default;
  LockedFile& operator=(LockedFile&&) noexcept = default;

  // Waits for the lock. A closed LockedFile on failure, with LastError().
  // REQUIRES: mode is kRead or kReadWrite.
  static LockedFile Open(const std::string& path, File::Mode mode);

  bool IsOpen() const { return file_.IsOpen(); }
  int LastError() const { return error_; }
  File& file() { return file_; }
  // The locked file's identity, to tell whether it is the one read earlier.
  unsigned long long device() const { return device_; }
  unsigned long long inode() const { return inode_; }

 private:
  File file_;  // closing the descriptor releases the lock
  int error_ = 0;
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
};

// The identity of the file a path names now; false when it cannot be told.
bool FileIdentity(const std::string& path, unsigned long long* device, unsigned long long* inode);

}  // namespace fvx::platform
