#include "bookformat/stream_writer.h"

#include <cerrno>

namespace fvx::format {

StreamWriter::StreamWriter(platform::File* file, uint64_t base) : file_(file), base_(base) {
  buffer_.reserve(kBufferLimit);
}

StreamWriter::~StreamWriter() { (void)Flush(); }

bool StreamWriter::Fail(int error) {
  if (error_ == 0) error_ = error ? error : EIO;
  return false;
}

bool StreamWriter::CheckOffset(uint64_t value) {
  if (value <= OffsetLimit(width_)) return true;
  overflowed_ = true;
  return Fail(EOVERFLOW);
}

bool StreamWriter::Flush() {
  if (!ok()) return false;
  if (buffer_.empty()) return true;
  uint64_t at;
  if (!AddChecked(base_, buffer_start_, &at)) return Fail(EOVERFLOW);
  if (file_ == nullptr || !file_->WriteAt(at, buffer_.data(), buffer_.size())) {
    return Fail(file_ ? file_->LastError() : EBADF);
  }
  buffer_start_ += buffer_.size();
  buffer_.clear();
  if (buffer_start_ > written_end_) written_end_ = buffer_start_;
  return true;
}

bool StreamWriter::Seek(uint64_t position) {
  if (!Flush()) return false;
  buffer_start_ = position;
  return true;
}

bool StreamWriter::WriteBytes(const void* data, size_t count) {
  if (!ok()) return false;
  if (count == 0) return true;
  if (data == nullptr) return Fail(EINVAL);
  if (buffer_.size() + count > kBufferLimit) {
    if (!Flush()) return false;
    if (count >= kBufferLimit) {
      uint64_t at;
      if (!AddChecked(base_, buffer_start_, &at)) return Fail(EOVERFLOW);
      if (!file_->WriteAt(at, data, count)) return Fail(file_->LastError());
      buffer_start_ += count;
      if (buffer_start_ > written_end_) written_end_ = buffer_start_;
      return true;
    }
  }
  buffer_.append(static_cast<const char*>(data), count);
  return true;
}

bool StreamWriter::WriteZeros(size_t count) {
  static constexpr char kZeros[4096] = {};
  while (count > 0) {
    size_t piece = count < sizeof kZeros ? count : sizeof kZeros;
    if (!WriteBytes(kZeros, piece)) return false;
    count -= piece;
  }
  return ok();
}

bool StreamWriter::WriteU8(uint8_t value) { return WriteBytes(&value, 1); }

bool StreamWriter::WriteU16(uint16_t value) {
  uint8_t bytes[2];
  StoreU16(bytes, value);
  return WriteBytes(bytes, sizeof bytes);
}

bool StreamWriter::WriteU32(uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  return WriteBytes(bytes, sizeof bytes);
}

bool StreamWriter::WriteOff(uint64_t value) {
  if (!ok() || !CheckOffset(value)) return false;
  uint8_t bytes[8];
  StoreOff(bytes, value, width_);
  return WriteBytes(bytes, OffsetBytes(width_));
}

bool StreamWriter::WriteDouble(double value) {
  uint8_t bytes[8];
  StoreDouble(bytes, value);
  return WriteBytes(bytes, sizeof bytes);
}

bool StreamWriter::WriteString(std::string_view text) {
  if (text.size() > UINT32_MAX) return Fail(EOVERFLOW);
  return WriteU32(static_cast<uint32_t>(text.size())) && WriteBytes(text.data(), text.size());
}

bool StreamWriter::WriteU32Placeholder(uint64_t* at) {
  *at = Position();
  return WriteU32(0);
}

bool StreamWriter::WriteOffPlaceholder(uint64_t* at) {
  *at = Position();
  return WriteOff(0);
}

bool StreamWriter::PatchBytes(uint64_t at, const void* data, size_t count) {
  if (!ok()) return false;
  uint64_t end;
  if (!AddChecked(at, count, &end)) return Fail(EOVERFLOW);
  // A patch lands on bytes already written; it must not grow the stream.
  if (end > StreamEnd()) return Fail(EINVAL);
  if (at >= buffer_start_ && end <= Position()) {
    buffer_.replace(static_cast<size_t>(at - buffer_start_), count, static_cast<const char*>(data),
                    count);
    return true;
  }
  if (!Flush()) return false;
  if (!file_->WriteAt(base_ + at, data, count)) return Fail(file_->LastError());
  return true;
}

bool StreamWriter::PatchU8(uint64_t at, uint8_t value) { return PatchBytes(at, &value, 1); }

bool StreamWriter::PatchU32(uint64_t at, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  return PatchBytes(at, bytes, sizeof bytes);
}

bool StreamWriter::PatchOff(uint64_t at, uint64_t value) {
  if (!ok() || !CheckOffset(value)) return false;
  uint8_t bytes[8];
  StoreOff(bytes, value, width_);
  return PatchBytes(at, bytes, OffsetBytes(width_));
}

}  // namespace fvx::format
