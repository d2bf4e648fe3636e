// The container around a book stream: a handheld database whose records are
// consecutive slices of the stream, so that a handheld can install the book
// as a database while the desktop reads one contiguous stream.
//
//   container := name[32] u16:attributes=0 u16:version=1
//                u32:created u32:modified u32:backed-up     -- one value, seconds since 1904
//                u32:modification=0 u32:app-info=0 u32:sort-info=0
//                "FVXD" "FVXC" u32:unique-id-seed=0 u32:next-record-list=0
//                u16:records=N+1  entry[N+1]  stream[L]  zero[64]
//   entry i   := u32:(D + i * 62464) u32:0      (i < N)
//   entry N   := u32:(D + L) u32:0              -- the 64 zero bytes
//   N         := ceil(L / 62464),  D := 78 + 8 * (N + 1)
//
// name is the output file's base name (after the last "/" or "\", before the
// last "."), at most 31 bytes, NUL, zero filled; "UnNamedFvx" when empty.
// A stream that needs more than 65534 records cannot be counted in 16 bits
// and is refused rather than written with a wrapped count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace fvx::format {

inline constexpr uint32_t kRecordSize = 62464;
inline constexpr uint32_t kPalmTimeOffset = 2082844800;  // 1904-01-01 to 1970-01-01
inline constexpr uint32_t kMaxRecordCount = 65535;
inline constexpr size_t kDatabaseNameSize = 32;
inline constexpr size_t kTrailingRecordSize = 64;
inline constexpr const char* kUnnamedDatabase = "UnNamedFvx";

// The base name of an output path as the container stores it (without the
// NUL): at most 31 bytes.
std::string DatabaseName(std::string_view output_path);

// Seconds since 1904 as the container's time fields hold them (mod 2^32).
uint32_t PalmTime(int64_t unix_time);

enum class WrapStatus {
  kOk,
  kCannotCreate,  // the output file could not be created
  kTooLarge,      // the stream needs more records than a container can count
  kReadFailed,    // reading the stream failed
  kWriteFailed,
  kCancelled,  // the progress callback asked to stop
};

struct WrapResult {
  WrapStatus status = WrapStatus::kOk;
  int error = 0;        // errno of a failed create, read or write
  std::string message;  // what went wrong, for logs and tools
  bool ok() const { return status == WrapStatus::kOk; }
};

struct WrapOptions {
  // The path whose base name becomes the database name.
  std::string output_path;
  // Unix time for the three time fields; now when not given.
  std::optional<int64_t> unix_time;
  uint32_t record_size = kRecordSize;
  // Called after each copied piece with the bytes copied and the total;
  // returning false cancels the wrap.
  std::function<bool(uint64_t copied, uint64_t total)> progress;
};

// The container header and record list for a stream of stream_length bytes,
// or nullopt when the record count does not fit 16 bits or a record offset
// does not fit 32 bits.
std::optional<std::string> EncodeContainerHeader(std::string_view database_name,
                                                 uint32_t palm_time, uint64_t stream_length,
                                                 uint32_t record_size = kRecordSize);

// Writes the container of the whole stream file into output from offset 0
// and cuts output to the container's size.
// REQUIRES: stream readable, output open for writing.
WrapResult WrapContainer(const platform::File& stream, platform::File& output,
                         const WrapOptions& options);

// The same into a file created (or emptied) at options.output_path.
WrapResult WrapContainer(const platform::File& stream, const WrapOptions& options);

}  // namespace fvx::format
