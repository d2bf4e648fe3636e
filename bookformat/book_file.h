// Reading a book file: the container check, then the book stream inside it.
//
// The container is a handheld database whose records are consecutive slices
// of the book stream. A reader needs only three of its fields:
//
//   offset 60  "FVXD" "FVXC"          type and creator
//   offset 76  u16 record count       must not be 0
//   offset 78  u32 D                  file offset of record 0 = stream start
//
// Every stream position in the book is relative to D. Reads are exact and
// never pass the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bookformat/byte_source.h"
#include "bookformat/coding.h"

namespace fvx::format {

// Why a book could not be opened; the values are the reader's out-codes.
enum class OpenStatus : int {
  kOk = 0,
  kDamaged = 1,             // a field is inconsistent, or a read failed
  kNotABook = 2,            // the container check failed
  kUnsupportedVersion = 3,  // header version other than 1 or 2
};

struct FormatError {
  OpenStatus status = OpenStatus::kOk;
  std::string reason;
};

// Records the first failure only, like every other error path here.
bool SetError(FormatError* error, OpenStatus status, std::string reason);

inline constexpr uint64_t kContainerMagicOffset = 60;
inline constexpr std::string_view kContainerMagic = "FVXDFVXC";
inline constexpr uint64_t kRecordCountOffset = 76;
inline constexpr uint64_t kRecordListOffset = 78;

struct ContainerInfo {
  uint16_t record_count = 0;
  uint32_t stream_start = 0;  // D
};

[[nodiscard]] bool CheckContainer(const ByteSource& source, ContainerInfo* info,
                                  FormatError* error);

// The book stream of an opened container.
class BookFile {
 public:
  BookFile() = default;
  BookFile(const BookFile&) = delete;
  BookFile& operator=(const BookFile&) = delete;

  // Opens the path read-only and checks the container. kNotABook when the
  // file cannot be opened or fails the check.
  [[nodiscard]] bool Open(const std::string& path, FormatError* error);
  [[nodiscard]] bool Open(std::unique_ptr<ByteSource> source, FormatError* error);
  void Close();

  bool IsOpen() const { return source_ != nullptr; }
  const ContainerInfo& container() const { return container_; }
  // Bytes from the stream start to the end of the file (the stream itself
  // and whatever trails it, such as the container's last record).
  uint64_t StreamSize() const { return stream_size_; }
  const ByteSource& source() const { return *source_; }

  // Exact read at a stream position. REQUIRES: IsOpen().
  [[nodiscard]] bool ReadAt(uint64_t position, void* out, size_t count) const;

 private:
  std::unique_ptr<ByteSource> source_;
  ContainerInfo container_;
  uint64_t stream_size_ = 0;
};

// Sequential reads over [position, limit) of a book stream, with a small
// read-ahead so that parsing many small fields costs few system calls.
// The first failure sticks: later reads fail too and ok() turns false.
class StreamCursor {
 public:
  // REQUIRES: file is open and outlives the cursor.
  StreamCursor(const BookFile* file, uint64_t position, uint64_t limit);

  bool ok() const { return ok_; }
  uint64_t position() const { return position_; }
  uint64_t limit() const { return limit_; }
  uint64_t Remaining() const { return limit_ > position_ ? limit_ - position_ : 0; }
  // Moves within [0, limit]; false (sticky) beyond it.
  bool Seek(uint64_t position);
  void SetLimit(uint64_t limit);

  [[nodiscard]] bool ReadBytes(void* out, size_t count);
  [[nodiscard]] bool Skip(uint64_t count);
  [[nodiscard]] bool ReadU8(uint8_t* value);
  [[nodiscard]] bool ReadU16(uint16_t* value);
  [[nodiscard]] bool ReadU32(uint32_t* value);
  [[nodiscard]] bool ReadOff(OffsetWidth width, uint64_t* value);
  [[nodiscard]] bool ReadDouble(double* value);
  // u32 length + bytes; fails before allocating when the length passes the
  // limit.
  [[nodiscard]] bool ReadString(std::string* text);

 private:
  bool Fail();

  static constexpr size_t kReadAhead = 4096;

  const BookFile* file_;
  uint64_t position_;
  uint64_t limit_;
  bool ok_ = true;
  std::vector<uint8_t> ahead_;
  uint64_t ahead_start_ = 0;  // stream position of ahead_[0]
};

}  // namespace fvx::format
