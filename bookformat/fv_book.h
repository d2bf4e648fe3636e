// The ".fv" file of older-generation books: one handheld-style database
// whose records are an information record and one record per subject.
// docs/fv_format.md describes it in prose for tools that make such files.
//
//   fv-book   := header entry[R] record[R]
//   header    := name[32] u16:attributes=0 u16:version=1
//                u32:created u32:modified u32:backed-up   -- seconds since 1904
//                u32:modification=0 u32:app-info=0 u32:sort-info=0
//                "FVWD" "FVWC" u32:unique-id-seed=0 u32:next-record-list=0
//                u16:R
//   entry     := u32:record-offset u32:0          -- the second word is ignored
//   record 0  := u16:format=1 u16:flags u32:N u32:file-length
//                                                 -- R = N + 1; flags bit 0: compressed
//   record i  := subject i-1                      -- 1 <= i <= N
//   subject   := u16:H heading[H] text[...]       -- plain: the rest of the record
//              | u32:L zlib(plain subject)        -- compressed: inflates to exactly L bytes
//
// Integers are big-endian. file-length is the size of the whole file, so a
// truncated file (or one with bytes appended) is refused even where the cut
// falls between records. A record runs from its offset to the next one's
// (the last to the end of the file); offsets ascend and the first lies at or
// after the end of the entries. A subject holds at most kMaxFvSubjectBytes
// bytes (heading field, heading and text, before compression), so that one
// record never needs more memory than that however the file is made.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bookformat/blockstore/zlib_stream.h"
#include "bookformat/byte_source.h"

namespace fvx::format {

inline constexpr char kFvType[] = "FVWD";
inline constexpr char kFvCreator[] = "FVWC";
inline constexpr uint16_t kFvFormat = 1;
inline constexpr uint16_t kFvFlagCompressed = 1;
inline constexpr uint32_t kFvHeaderSize = 78;
inline constexpr uint32_t kFvEntrySize = 8;
inline constexpr uint32_t kFvInfoSize = 12;
inline constexpr uint32_t kMaxFvSubjects = 65534;  // R must fit 16 bits
inline constexpr uint32_t kMaxFvSubjectBytes = 16u << 20;
inline constexpr uint32_t kMaxFvHeadingBytes = 65535;
// Deflate never packs more than about 1032 bytes into one; a larger claimed
// L cannot be real and would only make opening a small file slow.
inline constexpr uint64_t kMaxFvInflateRatio = 1100;

// Builds a whole ".fv" file in memory; subjects are appended in order.
//
// Call order: Add() for each subject, then Finish(). The first failure
// sticks: later Adds do nothing and Finish gives nullopt.
class FvBookBuilder {
 public:
  struct Options {
    std::string database_name;  // cut to 31 bytes; empty gives the container's default
    uint32_t palm_time = 0;     // the three time fields (see PalmTime)
    bool compress = false;
  };

  explicit FvBookBuilder(Options options);
  FvBookBuilder(const FvBookBuilder&) = delete;
  FvBookBuilder& operator=(const FvBookBuilder&) = delete;

  // False when the subject is too large, the book has kMaxFvSubjects
  // subjects already, or compression failed; error() tells which.
  [[nodiscard]] bool Add(std::string_view heading, std::string_view text);
  // The file's bytes, or nullopt after a failed Add or when the file would
  // pass 4 GiB (its offsets are 32-bit).
  std::optional<std::string> Finish();

  size_t subject_count() const { return offsets_.size(); }
  const std::string& error() const { return error_; }

 private:
  bool Fail(std::string message);

  Options options_;
  std::string records_;            // the subject records, back to back
  std::vector<uint64_t> offsets_;  // of each subject record in records_
  std::string scratch_;
  std::unique_ptr<BlockDeflater> deflater_;
  std::string error_;
};

// Reads a ".fv" file. Open checks the whole file, decoding every subject
// once, so that a damaged or hostile file is refused before anyone relies on
// it, and the records read later are known to be sound.
//
// Call order: Open(); RecordCount() and Read() while open; Close() or
// another Open().
class CFvwBook {
 public:
  CFvwBook();
  ~CFvwBook();
  CFvwBook(const CFvwBook&) = delete;
  CFvwBook& operator=(const CFvwBook&) = delete;

  [[nodiscard]] bool Open(const std::string& path);
  [[nodiscard]] bool Open(std::unique_ptr<ByteSource> source);
  void Close();
  bool IsOpen() const { return source_ != nullptr; }

  uint32_t RecordCount() const {
    return static_cast<uint32_t>(starts_.empty() ? 0 : starts_.size() - 1);
  }
  bool compressed() const { return compressed_; }

  // The heading and text bytes of subject index, as stored.
  // REQUIRES: IsOpen(), index < RecordCount(). False only when the file
  // cannot be read any more (it was checked by Open).
  [[nodiscard]] bool Read(uint32_t index, std::string* heading, std::string* text);
  // The same without copies: the views stay valid until the next Read or
  // Close.
  [[nodiscard]] bool Read(uint32_t index, std::string_view* heading, std::string_view* text) {
    return Decode(index, false, heading, text);
  }

  // Why the last Open or Read failed, for tools and logs; kept after
  // Close, so that whoever opened the book through another layer can tell.
  const std::string& error() const { return error_; }

 private:
  bool Fail(std::string message);
  bool ReadLayout();
  // Subject index into plain_ and views of its parts; check_only stops at
  // the checks (a plain subject is then not read beyond its first bytes).
  bool Decode(uint32_t index, bool check_only, std::string_view* heading, std::string_view* text);

  // Subjects are read in order, most far smaller than a disk read: they
  // come from one window of the file read ahead at a time.
  static constexpr size_t kReadAhead = 256 * 1024;
  bool ReadAhead(uint64_t position, void* out, size_t count);

  std::unique_ptr<ByteSource> source_;
  std::vector<uint8_t> window_;
  uint64_t window_start_ = 0;
  std::vector<uint64_t> starts_;  // subject i spans [starts_[i], starts_[i + 1])
  bool compressed_ = false;
  std::vector<uint8_t> packed_;
  std::vector<uint8_t> plain_;
  std::unique_ptr<BlockInflater> inflater_;
  std::string error_;
};

}  // namespace fvx::format
