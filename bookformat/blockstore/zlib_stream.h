// One owner per zlib stream. A block store compresses thousands of blocks
// and a reader inflates as many, so each keeps one stream and resets it
// between blocks instead of paying for a fresh initialisation every time.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace fvx::format {

// The deflate parameters of every stored block. Window bits 14 gives the
// zlib header byte CMF = 0x68; readers accept any window up to 2^15.
inline constexpr int kDeflateLevel = 6;
inline constexpr int kDeflateWindowBits = 14;
inline constexpr int kDeflateMemoryLevel = 8;

// The output room of one block: the compressed block must fit in it.
constexpr size_t BlockOutputCapacity(size_t block_size) {
  return block_size + (block_size * 2) / 1000 + 13;
}

class BlockDeflater {
 public:
  enum class Result { kDone, kTooBig, kError };

  BlockDeflater();
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  bool ok() const { return ok_; }

  // Compresses count bytes in one deflate call with Z_FINISH. kTooBig when
  // the whole zlib stream does not fit in capacity bytes (the output is then
  // unusable); *size is set on kDone. The bytes produced never depend on the
  // capacity, only whether they fit.
  Result Compress(const uint8_t* in, size_t count, uint8_t* out, size_t capacity, size_t* size);

 private:
  z_stream stream_{};
  bool ok_ = false;
};

class BlockInflater {
 public:
  BlockInflater();
  ~BlockInflater();
  BlockInflater(const BlockInflater&) = delete;
  BlockInflater& operator=(const BlockInflater&) = delete;

  bool ok() const { return ok_; }

  // True when the zlib stream in[0..count) is intact (Adler-32 included) and
  // inflates to exactly expected bytes into out.
  [[nodiscard]] bool InflateExact(const uint8_t* in, size_t count, uint8_t* out, size_t expected);

 private:
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace fvx::format
