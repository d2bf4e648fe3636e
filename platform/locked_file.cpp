#include "platform/locked_file.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace fvx::platform {

LockedFile LockedFile::Open(const std::string& path, File::Mode mode) {
  LockedFile locked;
  // Each turn of the loop is one replacement of the file by another
  // process; a path that keeps changing forever is given up on.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    File file = File::Open(path, mode);
    if (!file.IsOpen()) {
      locked.error_ = file.LastError();
      return locked;
    }
    int result;
    do {
      result = ::flock(file.Descriptor(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
      locked.error_ = errno;
      return locked;
    }
    struct stat held, named;
    if (::fstat(file.Descriptor(), &held) != 0) {
      locked.error_ = errno;
      return locked;
    }
    if (::stat(path.c_str(), &named) != 0) {
      locked.error_ = errno;
      return locked;
    }
    if (held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      locked.file_ = std::move(file);
      locked.device_ = held.st_dev;
      locked.inode_ = held.st_ino;
      return locked;
    }
  }
  locked.error_ = EAGAIN;
  return locked;
}

bool FileIdentity(const std::string& path, unsigned long long* device, unsigned long long* inode) {
  struct stat named;
  if (::stat(path.c_str(), &named) != 0) return false;
  *device = named.st_dev;
  *inode = named.st_ino;
  return true;
}

}  // namespace fvx::platform
