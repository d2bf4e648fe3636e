#include "reader/search_index.h"

#include <algorithm>
#include <cstring>

#include "bookformat/search_keys.h"

namespace fvx::reader {

SearchIndexReader::SearchIndexReader(format::BlockCache* cache,
                                     const format::SearchIndexSection& section,
                                     uint32_t subject_count)
    : cache_(cache),
      table_(section.index_table),
      key_length_(section.key_length),
      key_count_(section.key_count),
      segments_(section.segment_count),
      subject_count_(subject_count) {
  // Keys longer than the shared splitter handles cannot be formed.
  usable_ = key_length_ >= 1 && key_length_ <= sizeof(format::SearchKey) && segments_ % 8 == 0;
  keys_at_ = (uint64_t{segments_} + 1) * 4;
  bitmaps_at_ = keys_at_ + uint64_t{key_count_} * key_length_;
}

bool SearchIndexReader::SegmentRange(uint32_t segment, uint32_t* first, uint32_t* end) {
  uint32_t a, b;
  if (!format::ReadTableU32(*cache_, table_, segment, &a) ||
      !format::ReadTableU32(*cache_, table_, uint64_t{segment} + 1, &b)) {
    return false;
  }
  *first = std::min(a, subject_count_);
  *end = std::max(*first, std::min(b, subject_count_));
  return true;
}

bool SearchIndexReader::AndKey(const uint8_t* key, std::vector<uint8_t>* bitmap) {
  // Lower bound among the keys, compared with A-Z folded on both sides.
  uint64_t low = 0, high = key_count_;
  uint8_t stored[sizeof(format::SearchKey)];
  auto compare = [&](uint64_t index, int* order) {
    if (!format::ReadStoreBytes(*cache_, table_, keys_at_ + index * key_length_, stored,
                                key_length_)) {
      return false;
    }
    *order = 0;
    for (uint32_t i = 0; i < key_length_ && *order == 0; ++i) {
      const uint8_t a = format::FoldCase(stored[i]), b = format::FoldCase(key[i]);
      *order = a < b ? -1 : (a > b ? 1 : 0);
    }
    return true;
  };
  while (low < high) {
    const uint64_t mid = low + (high - low) / 2;
    int order;
    if (!compare(mid, &order)) return false;
    if (order < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  int order = 1;
  if (low < key_count_ && !compare(low, &order)) return false;
  if (order != 0) {
    std::fill(bitmap->begin(), bitmap->end(), 0);
    return true;
  }
  std::vector<uint8_t> bits(bitmap->size());
  if (!format::ReadStoreBytes(*cache_, table_, bitmaps_at_ + low * bitmap->size(), bits.data(),
                              bits.size())) {
    return false;
  }
  for (size_t i = 0; i < bits.size(); ++i) (*bitmap)[i] &= bits[i];
  return true;
}

bool SearchIndexReader::WordSegments(std::string_view word, bool whole_words,
                                     std::vector<uint8_t>* bitmap) {
  bitmap->assign(segments_ / 8, 0xFF);
  if (!usable_) return false;
  bool ok = true;
  format::ForEachWord(word, [&](std::string_view piece) {
    const bool at_start = piece.data() == word.data();
    const bool at_end = piece.data() + piece.size() == word.data() + word.size();
    if (!whole_words && piece.size() < key_length_ && (at_start || at_end)) return;
    format::ForEachKey(piece, key_length_, [&](const uint8_t* key) {
      if (ok && std::any_of(bitmap->begin(), bitmap->end(), [](uint8_t b) { return b != 0; })) {
        ok = AndKey(key, bitmap);
      }
    });
  });
  return ok;
}

}  // namespace fvx::reader
