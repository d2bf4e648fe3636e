// The search acceleration index ('F'): which subjects' segments contain each
// short key, so that a search opens only the segments whose bit maps hold
// all of a word's keys.
//
//   index     := u32:segment-start{G+1} key{keys} bitmap{keys} [u8:0 when G > 0]
//   key       := K bytes, zero padded, ascending (unsigned)
//   bitmap    := G/8 bytes, bit j (least significant first) = segment j has the key
//
// Segments are consecutive runs of subjects in stored order of roughly equal
// text volume: a new segment starts before a subject once the text fed into
// the current one exceeds (text spill size div S).
//
// Two builders produce exactly the same bytes:
//   CSearchIndexBuilder  the plain one: fed subject by subject for one S,
//                        one bit set of S bits per key;
//   SearchKeyPostings    the fast one: each subject's keys are extracted once
//                        (while the texts are encoded) into per-key subject
//                        lists; a trial for any S only re-buckets those lists
//                        into segments. The automatic segmentation runs a
//                        dozen or more trials, so this is where its time goes.
//
// ChooseSegmentation() runs the growth and bisection search over trials
// supplied by the caller, so its rules can be tested on scripted figures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/search_keys.h"

namespace fvx::compiler {

class CompileContext;

inline constexpr uint32_t kIndexKeyLength = 3;
// Above this share of the book, a bigger index is not worth it.
inline constexpr double kMaxIndexOverheadPercent = 10.0;
inline constexpr uint32_t kMaxEfficiencyPercent = 90;
inline constexpr uint32_t kFirstTrialSegmentation = 64;

// Where the bytes of a serialised index go: a block store, or memory (tests).
class IndexSink {
 public:
  virtual ~IndexSink() = default;
  [[nodiscard]] virtual bool Append(const void* data, size_t count) = 0;
};

class BlockStoreSink final : public IndexSink {
 public:
  explicit BlockStoreSink(format::CBlockStore& store) : store_(store) {}
  bool Append(const void* data, size_t count) override { return store_.Append(data, count); }

 private:
  format::CBlockStore& store_;
};

class StringSink final : public IndexSink {
 public:
  bool Append(const void* data, size_t count) override {
    bytes.append(static_cast<const char*>(data), count);
    return true;
  }
  std::string bytes;
};

// Rounds a requested segmentation up to a multiple of 8.
constexpr uint32_t RoundSegmentation(uint32_t segments) {
  return segments % 8 == 0 ? segments : segments + (8 - segments % 8);
}

namespace internal {
inline uint32_t LoadLe32(const uint8_t* in) {
  return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
         (uint32_t{in[3]} << 24);
}
}  // namespace internal

// Calls emit(uint32_t packed_key) for every 3-byte key of a subject's
// recorded text, in text order, repeats included. An element (0xFF, u32
// little-endian length L, code, L payload bytes) is skipped whole, so
// payloads never give keys; a cut element ends the text. Separators and
// folding are the shared ones of bookformat/search_keys.h. Keys are packed
// first byte highest and zero padded, so they sort as the padded keys do.
template <class Emit>
void ForEachRecordedKey(const uint8_t* text, size_t length, Emit&& emit) {
  using format::FoldCase;
  using format::IsWordByte;
  size_t i = 0;
  while (i < length) {
    const uint8_t byte = text[i];
    if (byte == 0xFF) {
      if (length - i < 5) return;
      const uint64_t skip = uint64_t{internal::LoadLe32(text + i + 1)} + 6;
      if (skip > length - i) return;
      i += static_cast<size_t>(skip);
      continue;
    }
    if (!IsWordByte(byte)) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < length && IsWordByte(text[i])) ++i;
    const size_t run = i - start;
    if (run < 3) {
      uint32_t key = uint32_t{FoldCase(text[start])} << 16;
      if (run == 2) key |= uint32_t{FoldCase(text[start + 1])} << 8;
      emit(key);
      continue;
    }
    uint32_t key = (uint32_t{FoldCase(text[start])} << 8) | FoldCase(text[start + 1]);
    for (size_t j = start + 2; j < i; ++j) {
      key = ((key << 8) | FoldCase(text[j])) & 0xFFFFFF;
      emit(key);
    }
  }
}

// ---------------------------------------------------------------- plain builder

class CSearchIndexBuilder {
 public:
  // REQUIRES: key_length == 3 (the only length books use). Rounds segmentation up to a multiple of
  // 8 and empties the key map.
  void Reset(uint32_t key_length, uint32_t segmentation);
  // Ignored for segment >= the segmentation.
  void SetSegmentStart(uint32_t segment, uint32_t subject_index);
  // The keys of one subject's recorded text go into the current segment.
  void AddText(const uint8_t* text, size_t length);
  // Segments that received no subject start at the subject count.
  void FinishSegments(uint32_t subject_count);

  uint32_t Segmentation() const { return segmentation_; }
  uint32_t SegmentCount() const;
  uint32_t KeyCount() const { return static_cast<uint32_t>(keys_.size()); }
  uint32_t Efficiency() const;
  const std::vector<uint32_t>& SegmentStarts() const { return starts_; }
  [[nodiscard]] bool Serialize(IndexSink& sink) const;

 private:
  uint32_t key_length_ = kIndexKeyLength;
  uint32_t segmentation_ = 0;
  std::vector<uint32_t> starts_;
  uint32_t current_ = 0;
  uint32_t highest_ = 0;
  // Packed key -> a bit set of segmentation_ bits, least significant first.
  std::map<uint32_t, std::vector<uint8_t>> keys_;
};

// Feeds the plain builder the way the writer's stage does: subjects in stored
// order, each subject's text read through read_text. text_lengths are the
// subjects' recorded lengths in stored order; spill_size is the text spill
// file's length. False when a read fails or the compile is cancelled.
using ReadSubjectText = std::function<bool(uint32_t stored_index, std::string* text)>;
[[nodiscard]] bool FeedSearchIndex(CSearchIndexBuilder& builder, uint32_t segmentation,
                                   const std::vector<uint32_t>& text_lengths, uint64_t spill_size,
                                   const ReadSubjectText& read_text,
                                   const std::function<bool()>& keep_going);

// ---------------------------------------------------------------- segment plan

// The segments of one segmentation, from the subjects' text lengths alone.
struct SegmentPlan {
  uint32_t segmentation = 0;              // S, a multiple of 8
  uint32_t segment_count = 0;             // G
  std::vector<uint32_t> starts;           // S + 1 entries, as serialised (first G + 1)
  std::vector<uint32_t> segment_of;       // per subject in stored order
  std::vector<uint32_t> segment_end;      // per segment < G: one past its last subject
};

SegmentPlan MakeSegmentPlan(uint32_t requested, const std::vector<uint32_t>& text_lengths,
                            uint64_t spill_size);

// ---------------------------------------------------------------- fast builder

struct IndexFigures {
  uint32_t segment_count = 0;  // G
  uint32_t key_count = 0;
  uint32_t efficiency = 0;     // integer percent
};

class SearchKeyPostings {
 public:
  explicit SearchKeyPostings(uint32_t subject_count);
  ~SearchKeyPostings();
  SearchKeyPostings(const SearchKeyPostings&) = delete;
  SearchKeyPostings& operator=(const SearchKeyPostings&) = delete;

  // REQUIRES: stored indexes strictly rising across calls, below the count.
  void AddSubject(uint32_t stored_index, const uint8_t* text, size_t length);

  uint32_t KeyCount() const { return static_cast<uint32_t>(postings_.size()); }
  // Bytes held by the subject lists (for the memory report).
  size_t MemoryBytes() const;

  // Serialises the index of the plan into sink: the same bytes the plain
  // builder gives for the same segmentation. keep_going is asked now and then.
  [[nodiscard]] bool Serialize(const SegmentPlan& plan, IndexSink& sink, IndexFigures* figures,
                               const std::function<bool()>& keep_going) const;

 private:
  struct Posting {
    uint32_t key = 0;
    uint32_t last = UINT32_MAX;   // last subject added (none yet)
    std::vector<uint8_t> deltas;  // varint gaps: subject - (previous + 1)
    std::vector<uint64_t> dense;  // one bit per subject, once the gaps would take more
  };
  uint32_t IdOf(uint32_t packed_key);
  void Add(Posting& posting, uint32_t stored_index);
  void MakeDense(Posting& posting);

  uint32_t subject_count_;
  std::vector<Posting> postings_;
  std::unique_ptr<std::vector<uint32_t>[]> pages_;  // packed key >> 8 -> 256 slots (id + 1)
  mutable std::vector<uint32_t> sorted_;             // ids in key order, made on first use
  mutable bool sorted_valid_ = false;
};

// ---------------------------------------------------------------- choosing S

struct TrialResult {
  uint32_t segment_count = 0;  // G
  uint64_t compressed_bytes = 0;  // X
  uint32_t efficiency = 0;
};

// Runs one trial for the requested segmentation; false ends the search with
// failure (a read failed or the compile was cancelled).
using SegmentationTrial = std::function<bool(uint32_t requested, TrialResult* result)>;

// Index overhead in percent for X bytes of index after P bytes of book.
double IndexOverhead(uint64_t stream_position, uint64_t compressed_bytes);

// The segmentation to write: the user's fixed one (reduced to the subject
// count), else the growth phase (64, doubling to 4096, then +4096, while the
// overhead stays at most 10 % and the efficiency at most 90 %) and a
// bisection down to a width of 64. Reports every trial. On false *chosen is
// unspecified.
[[nodiscard]] bool ChooseSegmentation(CompileContext& context, uint32_t subject_count,
                                      uint64_t stream_position, const SegmentationTrial& trial,
                                      uint32_t* chosen);

}  // namespace fvx::compiler
