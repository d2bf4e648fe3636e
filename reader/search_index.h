// Reading the search-acceleration index ('F'): which segments of subjects
// can hold a word. The index store, read through the content cache:
//
//   index := u32:segment-start[S + 1]  key[K]*key-count  bitmap[S/8]*key-count  u8:0
//
// Segment j covers the subjects [start j, start j+1); bit j of a key's bitmap
// (least significant bit first) is set when some subject of segment j holds
// the key. A word is cut into keys as the compiler cut the texts
// (bookformat/search_keys.h); its segments are the AND of its keys' bitmaps,
// and a key the index does not hold means the word occurs nowhere.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/sections.h"

namespace fvx::reader {

class SearchIndexReader {
 public:
  // REQUIRES: cache outlives the reader and reads the book's content stores.
  SearchIndexReader(format::BlockCache* cache, const format::SearchIndexSection& section,
                    uint32_t subject_count);

  // False when the index cannot serve searches (a key length it does not
  // support); every subject is then a candidate.
  bool usable() const { return usable_; }
  uint32_t segment_count() const { return segments_; }

  // *bitmap gets S/8 bytes. False when the index could not be read.
  // Without whole words, a piece of the word shorter than a key that may be
  // the end or the start of a longer text word (it touches the word's start
  // or end) narrows nothing: the index holds such a piece only as a word of
  // its own, and looking it up would hide matches inside longer words.
  [[nodiscard]] bool WordSegments(std::string_view word, bool whole_words,
                                  std::vector<uint8_t>* bitmap);
  // Segment j's subjects, clipped to the subject count.
  [[nodiscard]] bool SegmentRange(uint32_t segment, uint32_t* first, uint32_t* end);

 private:
  // The key's bitmap ANDed into *bitmap; a key that is missing clears it.
  bool AndKey(const uint8_t* key, std::vector<uint8_t>* bitmap);

  format::BlockCache* cache_;
  uint64_t table_;
  uint32_t key_length_;
  uint32_t key_count_;
  uint32_t segments_;
  uint32_t subject_count_;
  uint64_t keys_at_ = 0;
  uint64_t bitmaps_at_ = 0;
  bool usable_ = true;
};

}  // namespace fvx::reader
