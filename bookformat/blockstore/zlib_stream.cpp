#include "bookformat/blockstore/zlib_stream.h"

#include <climits>

namespace fvx::format {

BlockDeflater::BlockDeflater() {
  ok_ = deflateInit2(&stream_, kDeflateLevel, Z_DEFLATED, kDeflateWindowBits, kDeflateMemoryLevel,
                     Z_DEFAULT_STRATEGY) == Z_OK;
}

BlockDeflater::~BlockDeflater() {
  if (ok_) deflateEnd(&stream_);
}

BlockDeflater::Result BlockDeflater::Compress(const uint8_t* in, size_t count, uint8_t* out,
                                              size_t capacity, size_t* size) {
  if (!ok_ || count > UINT_MAX || capacity > UINT_MAX) return Result::kError;
  if (deflateReset(&stream_) != Z_OK) return Result::kError;
  stream_.next_in = const_cast<Bytef*>(in);
  stream_.avail_in = static_cast<uInt>(count);
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(capacity);
  int status = deflate(&stream_, Z_FINISH);
  if (status == Z_OK && stream_.avail_out == 0) {
    // A stream that ends exactly at the end of the room may still hold its
    // last bytes back; offer one spare byte to learn whether it is complete.
    Bytef spare;
    stream_.next_out = &spare;
    stream_.avail_out = 1;
    status = deflate(&stream_, Z_FINISH);
    if (status != Z_STREAM_END || stream_.avail_out != 1) return Result::kTooBig;
  }
  if (status == Z_STREAM_END) {
    *size = static_cast<size_t>(stream_.total_out);
    return Result::kDone;
  }
  if (status == Z_OK || status == Z_BUF_ERROR) return Result::kTooBig;
  return Result::kError;
}

BlockInflater::BlockInflater() { ok_ = inflateInit(&stream_) == Z_OK; }

BlockInflater::~BlockInflater() {
  if (ok_) inflateEnd(&stream_);
}

bool BlockInflater::InflateExact(const uint8_t* in, size_t count, uint8_t* out, size_t expected) {
  if (!ok_ || count > UINT_MAX || expected > UINT_MAX) return false;
  if (inflateReset(&stream_) != Z_OK) return false;
  stream_.next_in = const_cast<Bytef*>(in);
  stream_.avail_in = static_cast<uInt>(count);
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(expected);
  int status = inflate(&stream_, Z_FINISH);
  // Z_STREAM_END with room left means a short block; Z_BUF_ERROR or Z_OK
  // means it would have grown past the block size.
  return status == Z_STREAM_END && stream_.total_out == expected;
}

}  // namespace fvx::format
