#include "bookformat/book_file.h"

#include <algorithm>
#include <cstring>

namespace fvx::format {

bool SetError(FormatError* error, OpenStatus status, std::string reason) {
  if (error != nullptr && error->status == OpenStatus::kOk) {
    error->status = status;
    error->reason = std::move(reason);
  }
  return false;
}

bool CheckContainer(const ByteSource& source, ContainerInfo* info, FormatError* error) {
  uint8_t head[8 + 2 + 4];
  if (!source.ReadAt(kContainerMagicOffset, head, 8) ||
      !source.ReadAt(kRecordCountOffset, head + 8, 6)) {
    return SetError(error, OpenStatus::kNotABook, "the file is too short for a book container");
  }
  if (std::memcmp(head, kContainerMagic.data(), kContainerMagic.size()) != 0) {
    return SetError(error, OpenStatus::kNotABook, "the container type is not FVXD/FVXC");
  }
  const uint16_t records = LoadU16(head + 8);
  if (records == 0) return SetError(error, OpenStatus::kNotABook, "the container has no records");
  const uint32_t start = LoadU32(head + 10);
  if (start > source.Size()) {
    return SetError(error, OpenStatus::kNotABook, "the first record lies beyond the file");
  }
  info->record_count = records;
  info->stream_start = start;
  return true;
}

bool BookFile::Open(const std::string& path, FormatError* error) {
  Close();
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) {
    return SetError(error, OpenStatus::kNotABook,
                    "cannot open the file (errno " + std::to_string(file.LastError()) + ")");
  }
  return Open(std::make_unique<FileByteSource>(std::move(file)), error);
}

bool BookFile::Open(std::unique_ptr<ByteSource> source, FormatError* error) {
  Close();
  if (source == nullptr) return SetError(error, OpenStatus::kNotABook, "no file");
  ContainerInfo info;
  if (!CheckContainer(*source, &info, error)) return false;
  container_ = info;
  stream_size_ = source->Size() - info.stream_start;
  source_ = std::move(source);
  return true;
}

void BookFile::Close() {
  source_.reset();
  container_ = {};
  stream_size_ = 0;
}

bool BookFile::ReadAt(uint64_t position, void* out, size_t count) const {
  if (source_ == nullptr || position > stream_size_ || count > stream_size_ - position) {
    return false;
  }
  return source_->ReadAt(container_.stream_start + position, out, count);
}

StreamCursor::StreamCursor(const BookFile* file, uint64_t position, uint64_t limit)
    : file_(file), position_(position), limit_(std::min(limit, file->StreamSize())) {
  if (position_ > limit_) ok_ = false;
}

bool StreamCursor::Fail() {
  ok_ = false;
  return false;
}

bool StreamCursor::Seek(uint64_t position) {
  if (!ok_ || position > limit_) return Fail();
  position_ = position;
  return true;
}

void StreamCursor::SetLimit(uint64_t limit) {
  limit_ = std::min(limit, file_->StreamSize());
  if (position_ > limit_) ok_ = false;
}

bool StreamCursor::ReadBytes(void* out, size_t count) {
  if (!ok_) return false;
  if (count > Remaining()) return Fail();
  uint8_t* to = static_cast<uint8_t*>(out);
  // Serve from the read-ahead when it covers the request.
  if (position_ >= ahead_start_ && position_ - ahead_start_ <= ahead_.size() &&
      count <= ahead_.size() - (position_ - ahead_start_)) {
    if (count) std::memcpy(to, ahead_.data() + (position_ - ahead_start_), count);
    position_ += count;
    return true;
  }
  if (count >= kReadAhead) {
    if (!file_->ReadAt(position_, to, count)) return Fail();
    position_ += count;
    return true;
  }
  const size_t fill = static_cast<size_t>(std::min<uint64_t>(kReadAhead, Remaining()));
  ahead_.resize(fill);
  if (!file_->ReadAt(position_, ahead_.data(), fill)) {
    ahead_.clear();
    return Fail();
  }
  ahead_start_ = position_;
  std::memcpy(to, ahead_.data(), count);
  position_ += count;
  return true;
}

bool StreamCursor::Skip(uint64_t count) {
  if (!ok_ || count > Remaining()) return Fail();
  position_ += count;
  return true;
}

bool StreamCursor::ReadU8(uint8_t* value) { return ReadBytes(value, 1); }

bool StreamCursor::ReadU16(uint16_t* value) {
  uint8_t bytes[2];
  if (!ReadBytes(bytes, 2)) return false;
  *value = LoadU16(bytes);
  return true;
}

bool StreamCursor::ReadU32(uint32_t* value) {
  uint8_t bytes[4];
  if (!ReadBytes(bytes, 4)) return false;
  *value = LoadU32(bytes);
  return true;
}

bool StreamCursor::ReadOff(OffsetWidth width, uint64_t* value) {
  uint8_t bytes[8];
  if (!ReadBytes(bytes, OffsetBytes(width))) return false;
  *value = LoadOff(bytes, width);
  return true;
}

bool StreamCursor::ReadDouble(double* value) {
  uint8_t bytes[8];
  if (!ReadBytes(bytes, 8)) return false;
  *value = LoadDouble(bytes);
  return true;
}

bool StreamCursor::ReadString(std::string* text) {
  uint32_t length;
  if (!ReadU32(&length)) return false;
  if (length > Remaining()) return Fail();
  text->resize(length);
  return ReadBytes(text->data(), length);
}

}  // namespace fvx::format
