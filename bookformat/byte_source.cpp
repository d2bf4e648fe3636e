#include "bookformat/byte_source.h"

#include <cstring>

namespace fvx::format {
namespace {

bool InRange(uint64_t position, size_t count, uint64_t size) {
  return position <= size && count <= size - position;
}

}  // namespace

FileByteSource::FileByteSource(platform::File file) : file_(std::move(file)) {
  if (auto size = file_.Size()) size_ = *size;
}

bool FileByteSource::ReadAt(uint64_t position, void* out, size_t count) const {
  if (!InRange(position, count, size_)) return false;
  return count == 0 || file_.ReadAt(position, out, count);
}

bool MemoryByteSource::ReadAt(uint64_t position, void* out, size_t count) const {
  if (!InRange(position, count, bytes_.size())) return false;
  if (count) std::memcpy(out, bytes_.data() + position, count);
  return true;
}

BorrowedFileByteSource::BorrowedFileByteSource(const platform::File* file) : file_(file) {
  if (auto size = file_->Size()) size_ = *size;
}

bool BorrowedFileByteSource::ReadAt(uint64_t position, void* out, size_t count) const {
  if (!InRange(position, count, size_)) return false;
  return count == 0 || file_->ReadAt(position, out, count);
}

}  // namespace fvx::format
