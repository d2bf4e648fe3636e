// Forward writer of a book stream into a file, with back-patching.
//
// Every integer is written big-endian; strings as u32 length + bytes; OFF
// values in the writer's offset width (bookformat/coding.h). Small writes are
// gathered in memory and reach the file in large pieces; Flush() (or a patch,
// a seek, the destructor) pushes them out.
//
// Errors stick: after the first failing write every later call returns false
// and does nothing, and error() keeps the first errno. Writing an OFF that
// does not fit a narrow width fails as well and sets overflowed(), so a book
// can never carry a silently truncated position.
//
// Call order: construct, SetOffsetWidth() before the first OFF, writes and
// patches in any order, Flush() before anyone reads the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bookformat/coding.h"
#include "platform/file.h"

namespace fvx::format {

class StreamWriter {
 public:
  // REQUIRES: file is open for writing and outlives the writer. Stream
  // position 0 is file offset base; writing starts there.
  explicit StreamWriter(platform::File* file, uint64_t base = 0);
  ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  void SetOffsetWidth(OffsetWidth width) { width_ = width; }
  OffsetWidth offset_width() const { return width_; }

  bool ok() const { return error_ == 0; }
  // errno of the first failure (EOVERFLOW for a position too large for the
  // width), 0 while all is well.
  int error() const { return error_; }
  bool overflowed() const { return overflowed_; }

  // The stream position of the next byte written.
  uint64_t Position() const { return buffer_start_ + buffer_.size(); }
  // One past the furthest byte written so far (beyond Position() after a
  // seek backwards).
  uint64_t StreamEnd() const { return Position() > written_end_ ? Position() : written_end_; }
  [[nodiscard]] bool Seek(uint64_t position);

  [[nodiscard]] bool WriteU8(uint8_t value);
  [[nodiscard]] bool WriteU16(uint16_t value);
  [[nodiscard]] bool WriteU32(uint32_t value);
  [[nodiscard]] bool WriteOff(uint64_t value);
  [[nodiscard]] bool WriteDouble(double value);
  [[nodiscard]] bool WriteBytes(const void* data, size_t count);
  [[nodiscard]] bool WriteBytes(std::string_view bytes) { return WriteBytes(bytes.data(), bytes.size()); }
  [[nodiscard]] bool WriteZeros(size_t count);
  // u32 length, then the bytes; an empty string is a bare u32 0.
  [[nodiscard]] bool WriteString(std::string_view text);

  // Placeholders: write a zero of the field's size and return where it
  // stands, so that it can be patched once the value is known.
  [[nodiscard]] bool WriteU32Placeholder(uint64_t* at);
  [[nodiscard]] bool WriteOffPlaceholder(uint64_t* at);

  // Overwrite bytes already written; the writing position does not move.
  [[nodiscard]] bool PatchU8(uint64_t at, uint8_t value);
  [[nodiscard]] bool PatchU32(uint64_t at, uint32_t value);
  [[nodiscard]] bool PatchOff(uint64_t at, uint64_t value);
  [[nodiscard]] bool PatchBytes(uint64_t at, const void* data, size_t count);

  // Pushes the gathered bytes to the file.
  [[nodiscard]] bool Flush();

  platform::File* file() const { return file_; }
  uint64_t base() const { return base_; }

 private:
  static constexpr size_t kBufferLimit = 1 << 16;

  bool Fail(int error);
  bool CheckOffset(uint64_t value);

  platform::File* file_;
  uint64_t base_;
  OffsetWidth width_ = OffsetWidth::kNarrow;
  std::string buffer_;
  uint64_t buffer_start_ = 0;  // stream position of buffer_[0]
  uint64_t written_end_ = 0;   // furthest position that reached the file
  int error_ = 0;
  bool overflowed_ = false;
};

}  // namespace fvx::format
