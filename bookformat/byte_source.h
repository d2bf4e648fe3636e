// Random-access bytes that a book is read from: a file on disk, or memory
// (tests and the fuzzer). Reads are exact: a read that would pass the end
// fails and delivers nothing usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace fvx::format {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // False when [position, position + count) is not wholly inside the source
  // or the read fails.
  [[nodiscard]] virtual bool ReadAt(uint64_t position, void* out, size_t count) const = 0;
};

class FileByteSource final : public ByteSource {
 public:
  // The size is taken once: a book does not change under an open reader.
  explicit FileByteSource(platform::File file);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t position, void* out, size_t count) const override;
  const platform::File& file() const { return file_; }

 private:
  platform::File file_;
  uint64_t size_ = 0;
};

class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t position, void* out, size_t count) const override;

 private:
  std::string bytes_;
};

// A view of a source through an already open file that the caller keeps
// (the writer digesting its own stream).
class BorrowedFileByteSource final : public ByteSource {
 public:
  explicit BorrowedFileByteSource(const platform::File* file);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t position, void* out, size_t count) const override;

 private:
  const platform::File* file_;
  uint64_t size_ = 0;
};

}  // namespace fvx::format
