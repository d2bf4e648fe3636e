#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace fvx::platform {

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), last_error_(other.last_error_.load()) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    last_error_ = other.last_error_.load();
  }
  return *this;
}

File::~File() { Close(); }

File File::Open(const std::string& path, Mode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::kRead: flags |= O_RDONLY; break;
    case Mode::kReadWrite: flags |= O_RDWR; break;
    case Mode::kCreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  File file(fd);
  if (fd < 0) file.last_error_ = errno;
  return file;
}

File File::OpenForReading(const std::string& path, bool allow_pipe) {
  File file;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    file.last_error_ = errno;
    return file;
  }
  file.fd_ = fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    file.last_error_ = errno;
    file.Close();
    return file;
  }
  if (S_ISREG(st.st_mode)) {
    // Regular files never block; clearing the flag keeps reads as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return file;
  }
  if (allow_pipe && S_ISFIFO(st.st_mode)) return file;
  file.Close();
  file.last_error_ = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
  return file;
}

std::string ErrorText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return std::strerror(error);
}

bool File::Fail() const {
  last_error_ = errno ? errno : EIO;
  return false;
}

bool File::Seek(uint64_t position) {
  if (fd_ < 0) return Fail();
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return Fail();
  }
  if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) return Fail();
  return true;
}

bool File::SeekToEnd() {
  if (fd_ < 0 || ::lseek(fd_, 0, SEEK_END) < 0) return Fail();
  return true;
}

std::optional<uint64_t> File::Tell() const {
  if (fd_ < 0) return std::nullopt;
  off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) {
    Fail();
    return std::nullopt;
  }
  return static_cast<uint64_t>(at);
}

std::optional<uint64_t> File::Size() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    Fail();
    return std::nullopt;
  }
  return static_cast<uint64_t>(st.st_size);
}

bool File::Read(void* buffer, size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    ssize_t n = ::read(fd_, out, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail();
    if (n == 0) {
      errno = 0;
      last_error_ = EIO;  // short read: the file ends early
      return false;
    }
    out += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

std::optional<size_t> File::ReadSome(void* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Fail();
      return std::nullopt;
    }
    return static_cast<size_t>(n);
  }
}

bool File::Write(const void* data, size_t count) {
  const auto* in = static_cast<const unsigned char*>(data);
  while (count > 0) {
    ssize_t n = ::write(fd_, in, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail();
    in += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool File::ReadAt(uint64_t position, void* buffer, size_t count) const {
  auto* out = static_cast<unsigned char*>(buffer);
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return Fail();
  }
  while (count > 0) {
    ssize_t n = ::pread(fd_, out, count, static_cast<off_t>(position));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail();
    if (n == 0) {
      last_error_ = EIO;
      return false;
    }
    out += n;
    position += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool File::WriteAt(uint64_t position, const void* data, size_t count) {
  const auto* in = static_cast<const unsigned char*>(data);
  if (position > static_cast<uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return Fail();
  }
  while (count > 0) {
    ssize_t n = ::pwrite(fd_, in, count, static_cast<off_t>(position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail();
    in += n;
    position += static_cast<uint64_t>(n);
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool File::Truncate(uint64_t size) {
  if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail();
  return true;
}

bool File::Sync() {
  if (fd_ < 0 || ::fsync(fd_) != 0) return Fail();
  return true;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

unsigned FileCreationMask() {
  // Linux reports it in the process status; only a kernel without that line
  // makes us fall back to setting and restoring it.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status)) {
      found = std::strncmp(line, "Umask:", 6) == 0 && std::sscanf(line + 6, "%o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return mask & 0777;
  }
  const mode_t mask = umask(0);
  umask(mask);
  return mask & 0777;
}

}  // namespace fvx::platform
