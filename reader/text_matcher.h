// The search matcher: one pass over a subject's stored text that looks for
// up to three words at once, fed in pieces (block by block) so that a word
// crossing a block boundary is found.
//
// Each word has a pointer that walks the word: a byte equal to the word's
// next byte (A-Z folded unless matching case) advances it; any other byte
// sends it back to the word's start, and that byte is not compared with the
// word's first byte again (so "aab" is not found in "aaab"). With whole
// words, the bytes on either side of a match must be separators or absent.
//
// An element (0xFF, u32 length L, code, L payload bytes) is skipped; to the
// words it is a single separator that nothing matches, as the search index
// (which ends a word at 0xFF) sees it. Positions count every byte, elements
// included, as the renderer does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reader/document.h"

namespace fvx::reader {

class TextMatcher {
 public:
  // Empty words of the query take no part.
  TextMatcher(const SearchQuery& query, bool collect_hits);

  // Starts a new text.
  void Reset();
  // The next bytes of a stored text (elements are framed across pieces).
  void Feed(const uint8_t* data, size_t size);
  void Feed(std::string_view text) {
    Feed(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  // The next bytes of a text without elements (headings).
  void FeedPlain(std::string_view text);
  // The end of the text: counts as a separator after a pending match.
  void Finish();

  bool Found(int word) const { return found_[word]; }
  // The words combined as the query says (AND/OR, left to right).
  bool Verdict() const;
  // Without hit collection nothing more can change once every word is found.
  bool Settled() const;
  const std::vector<Hit>& hits() const { return hits_; }

 private:
  struct WordState {
    std::string bytes;  // folded unless matching case
    bool active = false;
    size_t pointer = 0;
    uint32_t start = 0;
    bool before_ok = true;  // the byte before start is a separator or absent
    bool pending = false;   // matched; waiting for the byte after it
    uint32_t pending_start = 0;
    uint32_t pending_end = 0;
  };

  // c is a byte, or kElement for an element.
  void Step(int c, uint32_t position);
  void Record(int word, uint32_t start, uint32_t end);

  static constexpr int kElement = -1;

  std::array<WordState, 3> words_;
  SearchOperator operator2_;
  SearchOperator operator3_;
  bool match_case_;
  bool whole_words_;
  bool collect_hits_;

  uint32_t position_ = 0;
  bool previous_separator_ = true;
  // Element framing: header bytes still to read, then payload bytes to skip.
  int header_left_ = 0;
  uint32_t length_ = 0;
  uint64_t skip_left_ = 0;

  std::array<bool, 3> found_{};
  std::vector<Hit> hits_;
};

// An ordered set of subject ranges [first, end) still to test.
class CandidateSet {
 public:
  struct Range {
    uint32_t first;
    uint32_t end;
  };

  // Ranges may come in any order and overlap; empty ones are dropped.
  void Assign(std::vector<Range> ranges);
  void Clear() { ranges_.clear(); }
  uint64_t Count() const;
  const std::vector<Range>& ranges() const { return ranges_; }
  std::optional<uint32_t> FirstAtOrAfter(uint64_t subject) const;
  std::optional<uint32_t> LastAtOrBefore(int64_t subject) const;

 private:
  std::vector<Range> ranges_;
};

}  // namespace fvx::reader
