#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "platform/paths.h"

namespace fvx::platform {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t separator = LastPathSeparator(path);
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator + 1);
}

std::string HiddenPattern(const std::string& target) {
  const size_t separator = LastPathSeparator(target);
  const std::string base = separator == std::string::npos ? target : target.substr(separator + 1);
  return JoinPath(FolderOf(target), "." + base + ".XXXXXX");
}

constexpr char kNameLetters[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// File systems without unnamed files say so in several ways.
bool LacksUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

}  // namespace

ReplacingFile::ReplacingFile(ReplacingFile&& other) noexcept
    : file_(std::move(other.file_)),
      target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, std::string())) {}

ReplacingFile& ReplacingFile::operator=(ReplacingFile&& other) noexcept {
  if (this != &other) {
    Discard();
    file_ = std::move(other.file_);
    target_ = std::move(other.target_);
    temporary_ = std::exchange(other.temporary_, std::string());
  }
  return *this;
}

ReplacingFile::~ReplacingFile() { Discard(); }

ReplacingFile ReplacingFile::Create(const std::string& target, int* error, bool allow_unnamed) {
  ReplacingFile result;
  result.target_ = target;
  *error = 0;
  // Beside the target, so that the rename stays on one file system.
  int fd = -1;
  if (allow_unnamed) {
    fd = ::open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      result.file_ = File(fd);
      return result;
    }
    if (!LacksUnnamedFiles(errno)) {
      *error = errno;
      return result;
    }
  }
  std::string pattern = HiddenPattern(target);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return result;
  }
  result.temporary_ = name.data();
  result.file_ = File(fd);
  // mkstemp makes the file private; the new file is as readable as any.
  (void)::fchmod(fd, 0666 & ~FileCreationMask());
  return result;
}

bool ReplacingFile::Commit(int* error) {
  *error = 0;
  if (!file_.IsOpen()) {
    *error = EBADF;
    return false;
  }
  if (!file_.Sync()) {
    *error = file_.LastError();
    Discard();
    return false;
  }
  if (temporary_.empty()) {
    // A name of its own first: linkat cannot replace an existing file.
    const std::string pattern = HiddenPattern(target_);
    const std::string stem = pattern.substr(0, pattern.size() - 6);
    const std::string proc = "/proc/self/fd/" + std::to_string(file_.Descriptor());
    std::random_device random;
    errno = 0;
    for (int attempt = 0; attempt < 100 && temporary_.empty(); ++attempt) {
      std::string name = stem;
      for (int i = 0; i < 6; ++i) name += kNameLetters[random() % (sizeof kNameLetters - 1)];
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temporary_ = name;
      } else if (errno != EEXIST) {
        break;
      }
    }
    if (temporary_.empty()) {
      *error = errno ? errno : EIO;
      Discard();
      return false;
    }
  }
  file_.Close();
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    *error = errno;
    Discard();
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacingFile::Discard() {
  file_.Close();
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace fvx::platform
