#include "compiler/backend/search_index.h"

#include <algorithm>
#include <bit>

#include "bookformat/coding.h"
#include "compiler/base/compile_context.h"

namespace fvx::compiler {
namespace {

// Small appends gathered before they reach the sink (a block store costs a
// call and a copy per append).
class ChunkWriter {
 public:
  explicit ChunkWriter(IndexSink& sink) : sink_(sink) { buffer_.reserve(kChunk); }
  bool Put(const void* data, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (buffer_.size() + count > kChunk && !Drain()) return false;
    if (count >= kChunk) return sink_.Append(bytes, count);
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    return true;
  }
  bool PutU32(uint32_t value) {
    uint8_t bytes[4];
    format::StoreU32(bytes, value);
    return Put(bytes, 4);
  }
  bool PutKey(uint32_t packed) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 8),
                              static_cast<uint8_t>(packed)};
    return Put(bytes, 3);
  }
  bool Drain() {
    if (buffer_.empty()) return true;
    const bool ok = sink_.Append(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  static constexpr size_t kChunk = 1 << 16;
  IndexSink& sink_;
  std::vector<uint8_t> buffer_;
};

uint32_t EfficiencyOf(uint64_t keys, uint64_t segments, uint64_t ones) {
  const uint64_t bits = keys * segments;
  if (bits == 0) return 0;
  return static_cast<uint32_t>((bits - ones) * 100 / bits);
}

void PutVarint(std::vector<uint8_t>& out, uint32_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

}  // namespace

// ---------------------------------------------------------------- plain builder

void CSearchIndexBuilder::Reset(uint32_t key_length, uint32_t segmentation) {
  key_length_ = key_length;
  segmentation_ = RoundSegmentation(segmentation);
  starts_.assign(size_t{segmentation_} + 1, 0);
  current_ = 0;
  highest_ = 0;
  keys_.clear();
}

void CSearchIndexBuilder::SetSegmentStart(uint32_t segment, uint32_t subject_index) {
  if (segment >= segmentation_) return;
  starts_[segment] = subject_index;
  current_ = segment;
  highest_ = std::max(highest_, segment);
}

void CSearchIndexBuilder::AddText(const uint8_t* text, size_t length) {
  const size_t bytes = segmentation_ / 8;
  ForEachRecordedKey(text, length, [&](uint32_t key) {
    std::vector<uint8_t>& bits = keys_[key];
    if (bits.empty()) bits.assign(bytes, 0);
    if (segmentation_ > 0) bits[current_ >> 3] |= static_cast<uint8_t>(1u << (current_ & 7));
  });
}

void CSearchIndexBuilder::FinishSegments(uint32_t subject_count) {
  for (size_t j = segmentation_; j > 0 && starts_[j] == 0; --j) starts_[j] = subject_count;
}

uint32_t CSearchIndexBuilder::SegmentCount() const {
  return std::min(segmentation_, RoundSegmentation(highest_ + 1));
}

uint32_t CSearchIndexBuilder::Efficiency() const {
  const uint32_t segments = SegmentCount();
  uint64_t ones = 0;
  for (const auto& [key, bits] : keys_) {
    for (uint32_t i = 0; i < segments / 8; ++i) ones += std::popcount(bits[i]);
  }
  return EfficiencyOf(keys_.size(), segments, ones);
}

bool CSearchIndexBuilder::Serialize(IndexSink& sink) const {
  const uint32_t segments = SegmentCount();
  ChunkWriter out(sink);
  for (uint32_t j = 0; j <= segments; ++j) {
    if (!out.PutU32(starts_[j])) return false;
  }
  for (const auto& entry : keys_) {
    if (!out.PutKey(entry.first)) return false;
  }
  for (const auto& entry : keys_) {
    if (!out.Put(entry.second.data(), segments / 8)) return false;
  }
  if (segments > 0) {
    const uint8_t zero = 0;
    if (!out.Put(&zero, 1)) return false;
  }
  return out.Drain();
}

bool FeedSearchIndex(CSearchIndexBuilder& builder, uint32_t segmentation,
                     const std::vector<uint32_t>& text_lengths, uint64_t spill_size,
                     const ReadSubjectText& read_text, const std::function<bool()>& keep_going) {
  builder.Reset(kIndexKeyLength, segmentation);
  const uint32_t rounded = builder.Segmentation();
  const uint64_t quota = rounded > 0 ? spill_size / rounded : UINT64_MAX;
  builder.SetSegmentStart(0, 0);
  uint64_t accumulated = 0;
  uint32_t segment = 0;
  std::string text;
  const auto count = static_cast<uint32_t>(text_lengths.size());
  for (uint32_t s = 0; s < count; ++s) {
    if (!keep_going()) return false;
    if (accumulated > quota) {
      ++segment;
      builder.SetSegmentStart(segment, s);
      accumulated = 0;
    }
    if (text_lengths[s] > 0) {
      if (!read_text(s, &text)) return false;
      builder.AddText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    accumulated += text_lengths[s];
  }
  builder.FinishSegments(count);
  return true;
}

// ---------------------------------------------------------------- segment plan

SegmentPlan MakeSegmentPlan(uint32_t requested, const std::vector<uint32_t>& text_lengths,
                            uint64_t spill_size) {
  SegmentPlan plan;
  const uint32_t segmentation = RoundSegmentation(requested);
  plan.segmentation = segmentation;
  plan.starts.assign(size_t{segmentation} + 1, 0);
  const auto count = static_cast<uint32_t>(text_lengths.size());
  plan.segment_of.resize(count);
  const uint64_t quota = segmentation > 0 ? spill_size / segmentation : UINT64_MAX;
  uint32_t current = 0;
  uint32_t highest = 0;
  auto set_start = [&](uint32_t segment, uint32_t subject) {
    if (segment >= segmentation) return;
    plan.starts[segment] = subject;
    current = segment;
    highest = std::max(highest, segment);
  };
  set_start(0, 0);
  uint64_t accumulated = 0;
  uint32_t segment = 0;
  for (uint32_t s = 0; s < count; ++s) {
    if (accumulated > quota) {
      ++segment;
      set_start(segment, s);
      accumulated = 0;
    }
    plan.segment_of[s] = current;
    accumulated += text_lengths[s];
  }
  for (size_t j = segmentation; j > 0 && plan.starts[j] == 0; --j) plan.starts[j] = count;
  plan.segment_count = std::min(segmentation, RoundSegmentation(highest + 1));
  // Used segments are 0..highest without gaps: each new one follows the last.
  plan.segment_end.resize(size_t{highest} + 1);
  for (uint32_t j = 0; j <= highest; ++j) {
    plan.segment_end[j] = j < highest ? plan.starts[j + 1] : count;
  }
  return plan;
}

// ---------------------------------------------------------------- fast builder

SearchKeyPostings::SearchKeyPostings(uint32_t subject_count)
    : subject_count_(subject_count), pages_(std::make_unique<std::vector<uint32_t>[]>(1 << 16)) {}

SearchKeyPostings::~SearchKeyPostings() = default;

uint32_t SearchKeyPostings::IdOf(uint32_t packed_key) {
  std::vector<uint32_t>& page = pages_[packed_key >> 8];
  if (page.empty()) page.assign(256, 0);
  uint32_t& slot = page[packed_key & 0xFF];
  if (slot == 0) {
    postings_.emplace_back();
    postings_.back().key = packed_key;
    slot = static_cast<uint32_t>(postings_.size());
    sorted_valid_ = false;
  }
  return slot - 1;
}

void SearchKeyPostings::MakeDense(Posting& posting) {
  posting.dense.assign((size_t{subject_count_} + 63) / 64, 0);
  uint32_t subject = 0;
  bool first = true;
  uint32_t value = 0;
  int shift = 0;
  for (uint8_t byte : posting.deltas) {
    value |= uint32_t{byte & 0x7Fu} << shift;
    if (byte & 0x80) {
      shift += 7;
      continue;
    }
    subject = first ? value : subject + 1 + value;
    first = false;
    posting.dense[subject >> 6] |= uint64_t{1} << (subject & 63);
    value = 0;
    shift = 0;
  }
  std::vector<uint8_t>().swap(posting.deltas);
}

void SearchKeyPostings::Add(Posting& posting, uint32_t stored_index) {
  if (!posting.dense.empty()) {
    posting.dense[stored_index >> 6] |= uint64_t{1} << (stored_index & 63);
  } else {
    const uint32_t expected = posting.last == UINT32_MAX ? 0 : posting.last + 1;
    PutVarint(posting.deltas, stored_index - expected);
    if (posting.deltas.size() >= (size_t{subject_count_} + 63) / 64 * 8 + 16) MakeDense(posting);
  }
  posting.last = stored_index;
}

void SearchKeyPostings::AddSubject(uint32_t stored_index, const uint8_t* text, size_t length) {
  ForEachRecordedKey(text, length, [&](uint32_t key) {
    Posting& posting = postings_[IdOf(key)];
    if (posting.last != stored_index) Add(posting, stored_index);
  });
}

size_t SearchKeyPostings::MemoryBytes() const {
  size_t bytes = postings_.capacity() * sizeof(Posting);
  for (const Posting& posting : postings_) {
    bytes += posting.deltas.capacity() + posting.dense.capacity() * 8;
  }
  for (size_t page = 0; page < (1 << 16); ++page) bytes += pages_[page].capacity() * 4;
  return bytes;
}

bool SearchKeyPostings::Serialize(const SegmentPlan& plan, IndexSink& sink, IndexFigures* figures,
                                  const std::function<bool()>& keep_going) const {
  if (!sorted_valid_) {
    sorted_.resize(postings_.size());
    for (uint32_t id = 0; id < sorted_.size(); ++id) sorted_[id] = id;
    std::sort(sorted_.begin(), sorted_.end(),
              [this](uint32_t a, uint32_t b) { return postings_[a].key < postings_[b].key; });
    sorted_valid_ = true;
  }
  const uint32_t segments = plan.segment_count;
  const size_t map_bytes = segments / 8;
  const uint32_t subjects = static_cast<uint32_t>(plan.segment_of.size());
  ChunkWriter out(sink);
  for (uint32_t j = 0; j <= segments; ++j) {
    if (!out.PutU32(plan.starts[j])) return false;
  }
  for (uint32_t id : sorted_) {
    if (!out.PutKey(postings_[id].key)) return false;
  }
  std::vector<uint8_t> map(map_bytes);
  uint64_t ones = 0;
  size_t done = 0;
  for (uint32_t id : sorted_) {
    if (++done % 4096 == 0 && !keep_going()) return false;
    if (map_bytes == 0) continue;
    std::fill(map.begin(), map.end(), 0);
    const Posting& posting = postings_[id];
    auto mark = [&](uint32_t subject) {
      const uint32_t segment = plan.segment_of[subject];
      map[segment >> 3] |= static_cast<uint8_t>(1u << (segment & 7));
      return segment;
    };
    if (!posting.dense.empty()) {
      // Step from segment to segment: once a segment has the key, the rest
      // of its subjects need not be looked at.
      uint32_t from = 0;
      while (from < subjects) {
        size_t word = from >> 6;
        uint64_t bits = posting.dense[word] & (~uint64_t{0} << (from & 63));
        while (bits == 0 && ++word < posting.dense.size()) bits = posting.dense[word];
        if (bits == 0) break;
        const uint32_t subject = static_cast<uint32_t>(word * 64 + std::countr_zero(bits));
        if (subject >= subjects) break;
        from = plan.segment_end[mark(subject)];
      }
    } else {
      uint32_t subject = 0;
      bool first = true;
      uint32_t value = 0;
      int shift = 0;
      for (uint8_t byte : posting.deltas) {
        value |= uint32_t{byte & 0x7Fu} << shift;
        if (byte & 0x80) {
          shift += 7;
          continue;
        }
        subject = first ? value : subject + 1 + value;
        first = false;
        mark(subject);
        value = 0;
        shift = 0;
      }
    }
    for (uint8_t byte : map) ones += std::popcount(byte);
    if (!out.Put(map.data(), map.size())) return false;
  }
  if (segments > 0) {
    const uint8_t zero = 0;
    if (!out.Put(&zero, 1)) return false;
  }
  if (!out.Drain()) return false;
  if (figures != nullptr) {
    figures->segment_count = segments;
    figures->key_count = KeyCount();
    figures->efficiency = EfficiencyOf(sorted_.size(), segments, ones);
  }
  return true;
}

// ---------------------------------------------------------------- choosing S

double IndexOverhead(uint64_t stream_position, uint64_t compressed_bytes) {
  const uint64_t total = stream_position + compressed_bytes;
  if (total == 0) return 0.0;
  return static_cast<double>(compressed_bytes) * 100.0 / static_cast<double>(total);
}

bool ChooseSegmentation(CompileContext& context, uint32_t subject_count, uint64_t stream_position,
                        const SegmentationTrial& trial, uint32_t* chosen) {
  uint32_t fixed = 16;
  if (context.FixedSegmentation(fixed)) {
    fixed = std::min(fixed, subject_count);
    // No segment at all would make every search skip every subject.
    if (fixed == 0 && subject_count > 0) fixed = 1;
    *chosen = fixed;
    return true;
  }
  context.Report(false, Level::kInformation, MessageId::kAnalyzingSubjectData);
  context.Report(false, Level::kInformation, MessageId::kMayTakeSomeTime);

  auto run = [&](uint32_t x, TrialResult* result, double* overhead) {
    context.Report(false, Level::kInformation, MessageId::kAnalyzingSegmentation, "%d", {x});
    if (!trial(x, result)) return false;
    *overhead = IndexOverhead(stream_position, result->compressed_bytes);
    context.Report(false, Level::kInformation, MessageId::kSegmentationTrial, "%d:%2.2f%%:%d%%",
                   {result->segment_count, *overhead, result->efficiency});
    return true;
  };

  // 64 bits: the growth may step past the largest subject count.
  uint64_t x = kFirstTrialSegmentation;
  uint64_t lo = x;
  uint64_t hi = x;
  uint32_t result = kFirstTrialSegmentation;
  for (;;) {
    TrialResult figures;
    double overhead = 0;
    if (!run(static_cast<uint32_t>(x), &figures, &overhead)) return false;
    if (overhead > kMaxIndexOverheadPercent || figures.efficiency > kMaxEfficiencyPercent) break;
    lo = x;
    result = figures.segment_count;
    x = x < 4096 ? x * 2 : x + 4096;
    hi = x;
    if (x >= subject_count) break;
  }
  lo = std::min<uint64_t>(lo, subject_count);
  hi = std::min<uint64_t>(hi, subject_count);
  while (lo < hi && hi - lo >= 64) {
    x = lo + (hi - lo) / 2;
    TrialResult figures;
    double overhead = 0;
    if (!run(static_cast<uint32_t>(x), &figures, &overhead)) return false;
    result = figures.segment_count;
    if (overhead > kMaxIndexOverheadPercent) {
      hi = x;
    } else if (overhead < kMaxIndexOverheadPercent) {
      lo = x;
    } else {
      break;
    }
  }
  context.Report(false, Level::kInformation, MessageId::kSegmentationSelected, "%d", {result});
  *chosen = result;
  return true;
}

}  // namespace fvx::compiler
