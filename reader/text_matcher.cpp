#include "reader/text_matcher.h"

#include <algorithm>
#include <optional>

#include "bookformat/search_keys.h"
#include "reader/element_html.h"

namespace fvx::reader {
namespace {

bool IsSeparatorValue(int c) { return c < 0 || format::IsSeparator(static_cast<uint8_t>(c)); }

}  // namespace

TextMatcher::TextMatcher(const SearchQuery& query, bool collect_hits)
    : operator2_(query.operator2),
      operator3_(query.operator3),
      match_case_(query.match_case),
      whole_words_(query.whole_words),
      collect_hits_(collect_hits) {
  for (int w = 0; w < 3; ++w) {
    WordState& word = words_[w];
    word.bytes = query.words[w];
    if (!match_case_) {
      for (char& c : word.bytes) c = static_cast<char>(format::FoldCase(static_cast<uint8_t>(c)));
    }
    word.active = !word.bytes.empty();
  }
}

void TextMatcher::Reset() {
  position_ = 0;
  previous_separator_ = true;
  header_left_ = 0;
  length_ = 0;
  skip_left_ = 0;
  found_ = {};
  hits_.clear();
  for (WordState& word : words_) {
    word.pointer = 0;
    word.pending = false;
    word.before_ok = true;
  }
}

void TextMatcher::Record(int w, uint32_t start, uint32_t end) {
  found_[w] = true;
  if (collect_hits_) hits_.push_back({start, end, w});
}

void TextMatcher::Step(int c, uint32_t position) {
  const int folded = (c >= 0 && !match_case_) ? format::FoldCase(static_cast<uint8_t>(c)) : c;
  const bool separator = IsSeparatorValue(c);
  for (int w = 0; w < 3; ++w) {
    WordState& word = words_[w];
    if (!word.active) continue;
    if (word.pending) {
      word.pending = false;
      if (separator) Record(w, word.pending_start, word.pending_end);
    }
    const int expected = static_cast<uint8_t>(word.bytes[word.pointer]);
    if (folded == expected) {
      if (word.pointer == 0) {
        word.start = position;
        word.before_ok = previous_separator_;
      }
      if (++word.pointer == word.bytes.size()) {
        word.pointer = 0;
        if (!whole_words_) {
          Record(w, word.start, position + 1);
        } else if (word.before_ok) {
          word.pending = true;
          word.pending_start = word.start;
          word.pending_end = position + 1;
        }
      }
    } else {
      word.pointer = 0;
    }
  }
  previous_separator_ = separator;
}

void TextMatcher::Feed(const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i < size) {
    if (skip_left_ > 0) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(skip_left_, size - i));
      skip_left_ -= piece;
      position_ += static_cast<uint32_t>(piece);
      i += piece;
      continue;
    }
    const uint8_t byte = data[i++];
    const uint32_t position = position_++;
    if (header_left_ > 0) {
      if (--header_left_ > 0) {
        length_ = (length_ << 8) | byte;
      } else {
        skip_left_ = length_;  // the code byte has passed
      }
      continue;
    }
    if (byte == kElementEscape) {
      header_left_ = 5;
      length_ = 0;
      Step(kElement, position);
      continue;
    }
    Step(byte, position);
  }
}

void TextMatcher::FeedPlain(std::string_view text) {
  for (unsigned char c : text) Step(c, position_++);
}

void TextMatcher::Finish() {
  for (int w = 0; w < 3; ++w) {
    WordState& word = words_[w];
    if (word.pending) {
      word.pending = false;
      Record(w, word.pending_start, word.pending_end);
    }
  }
  std::stable_sort(hits_.begin(), hits_.end(),
                   [](const Hit& a, const Hit& b) { return a.start < b.start; });
}

bool TextMatcher::Verdict() const {
  bool result = found_[0];
  if (words_[1].active) result = operator2_ == SearchOperator::kAnd ? result && found_[1] : result || found_[1];
  if (words_[2].active) result = operator3_ == SearchOperator::kAnd ? result && found_[2] : result || found_[2];
  return result;
}

bool TextMatcher::Settled() const {
  if (collect_hits_) return false;
  for (int w = 0; w < 3; ++w) {
    if (words_[w].active && !found_[w]) return false;
  }
  return true;
}

void CandidateSet::Assign(std::vector<Range> ranges) {
  ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                              [](const Range& r) { return r.first >= r.end; }),
               ranges.end());
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.first < b.first; });
  ranges_.clear();
  for (const Range& range : ranges) {
    if (!ranges_.empty() && range.first <= ranges_.back().end) {
      ranges_.back().end = std::max(ranges_.back().end, range.end);
    } else {
      ranges_.push_back(range);
    }
  }
}

uint64_t CandidateSet::Count() const {
  uint64_t count = 0;
  for (const Range& range : ranges_) count += range.end - range.first;
  return count;
}

std::optional<uint32_t> CandidateSet::FirstAtOrAfter(uint64_t subject) const {
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), subject,
                             [](uint64_t s, const Range& r) { return s < r.end; });
  if (it == ranges_.end()) return std::nullopt;
  return static_cast<uint32_t>(std::max<uint64_t>(subject, it->first));
}

std::optional<uint32_t> CandidateSet::LastAtOrBefore(int64_t subject) const {
  if (subject < 0) return std::nullopt;
  // The last range that starts at or before the subject.
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), subject,
                             [](int64_t s, const Range& r) { return s < int64_t{r.first}; });
  if (it == ranges_.begin()) return std::nullopt;
  --it;
  return static_cast<uint32_t>(std::min<int64_t>(subject, int64_t{it->end} - 1));
}

}  // namespace fvx::reader
