// Seekable file with 64-bit positions; owns its descriptor.
//
// Every read and write is exact: a short transfer is a failure, so callers
// never act on half a record. The first error's errno is kept in LastError().
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fvx::platform {

class File {
 public:
  enum class Mode {
    kRead,            // existing file, read only
    kReadWrite,       // existing file, read and write
    kCreateTruncate,  // created or emptied, read and write
  };

  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Returns a closed File on failure; LastError() then tells why.
  static File Open(const std::string& path, Mode mode);

  // Opens for reading without ever waiting: a FIFO without a writer or a
  // device would block a plain open. Anything but a regular file is refused
  // (LastError() EISDIR for a folder, kNotRegularFile for the rest), except
  // a FIFO or pipe when allow_pipe; such a pipe stays non-blocking, so its
  // reads fail with EAGAIN until data comes (wait with poll).
  static File OpenForReading(const std::string& path, bool allow_pipe = false);

  // A closed File that tells why it could not be opened.
  static File Refused(int error) {
    File file;
    file.last_error_ = error;
    return file;
  }

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  int LastError() const { return last_error_.load(std::memory_order_relaxed); }

  [[nodiscard]] bool Seek(uint64_t position);
  [[nodiscard]] bool SeekToEnd();
  // Current position, or nullopt when the descriptor cannot tell.
  std::optional<uint64_t> Tell() const;
  std::optional<uint64_t> Size() const;

  // Sequential transfers from the current position.
  [[nodiscard]] bool Read(void* buffer, size_t count);
  [[nodiscard]] bool Write(const void* data, size_t count);
  // Reads up to count bytes; returns how many (0 at the end), or nullopt on error.
  std::optional<size_t> ReadSome(void* buffer, size_t count);

  // Positioned transfers; the current position is left where it was.
  [[nodiscard]] bool ReadAt(uint64_t position, void* buffer, size_t count) const;
  [[nodiscard]] bool WriteAt(uint64_t position, const void* data, size_t count);

  [[nodiscard]] bool Truncate(uint64_t size);
  [[nodiscard]] bool Sync();
  void Close();

 private:
  bool Fail() const;

  int fd_ = -1;
  // Reads at positions may run on several threads at once (a book server
  // shares one descriptor among its documents); a failure on each must not
  // race on the record of it.
  mutable std::atomic<int> last_error_{0};
};

// LastError() of a file refused for not being a regular file.
inline constexpr int kNotRegularFile = -2;

// The text of an errno value (or of kNotRegularFile).
std::string ErrorText(int error);

// The process's file-creation mask, read without changing it (umask() can
// only be read by setting it, which races with threads creating files).
unsigned FileCreationMask();

}  // namespace fvx::platform
