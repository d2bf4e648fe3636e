// Gathers the small values a table store is built from (u32 entries,
// offsets, characters) and hands them to the block store in large pieces:
// a table of a million entries costs a few hundred appends, not a million.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/coding.h"

namespace fvx::compiler {

class StoreBuffer {
 public:
  explicit StoreBuffer(format::CBlockStore& store) : store_(store) { buffer_.reserve(kPiece * 2); }
  StoreBuffer(const StoreBuffer&) = delete;
  StoreBuffer& operator=(const StoreBuffer&) = delete;

  [[nodiscard]] bool PutU8(uint8_t value) {
    buffer_.push_back(static_cast<char>(value));
    return Drain(false);
  }
  [[nodiscard]] bool PutU32(uint32_t value) {
    format::PutU32(&buffer_, value);
    return Drain(false);
  }
  [[nodiscard]] bool PutOff(uint64_t value, format::OffsetWidth width) {
    format::PutOff(&buffer_, value, width);
    return Drain(false);
  }
  [[nodiscard]] bool PutDouble(double value) {
    format::PutDouble(&buffer_, value);
    return Drain(false);
  }
  [[nodiscard]] bool PutBytes(std::string_view bytes) {
    if (bytes.size() >= kPiece) {
      return Drain(true) && store_.Append(bytes.data(), bytes.size());
    }
    buffer_.append(bytes);
    return Drain(false);
  }
  // Hands over what is gathered; call before the store is flushed.
  [[nodiscard]] bool Finish() { return Drain(true); }

 private:
  static constexpr size_t kPiece = 1 << 16;

  bool Drain(bool all) {
    if (buffer_.empty() || (!all && buffer_.size() < kPiece)) return ok_;
    ok_ = ok_ && store_.Append(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok_;
  }

  format::CBlockStore& store_;
  std::string buffer_;
  bool ok_ = true;
};

}  // namespace fvx::compiler
