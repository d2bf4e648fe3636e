#include "bookformat/book_verifier.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_id.h"
#include "bookformat/coding.h"
#include "bookformat/search_keys.h"
#include "platform/sha1.h"

namespace fvx::format {
namespace {

using format::OffsetBytes;
using format::OffsetWidth;

constexpr uint32_t kNone = 0xFFFFFFFF;

std::string Num(uint64_t value) { return std::to_string(value); }

// Sequential reads over the inflated data of one store, one block in memory.
class StoreStream {
 public:
  StoreStream(const format::BookFile& file, OffsetWidth width, uint64_t table, uint32_t block_size,
              uint64_t blocks)
      : reader_(&file, width, block_size), table_(table), block_size_(block_size), blocks_(blocks),
        block_(block_size) {}

  uint64_t DataSize() const { return blocks_ * block_size_; }
  uint64_t position() const { return position_; }
  bool Seek(uint64_t at) {
    if (at > DataSize()) return false;
    position_ = at;
    return true;
  }
  bool Read(void* out, size_t count) {
    auto* bytes = static_cast<uint8_t*>(out);
    while (count > 0) {
      if (position_ >= DataSize()) return false;
      const uint64_t block = position_ / block_size_;
      if (block != loaded_) {
        if (!reader_.Fetch(table_, block, block_.data())) return false;
        loaded_ = block;
      }
      const size_t at = static_cast<size_t>(position_ % block_size_);
      const size_t take = std::min(count, block_size_ - at);
      std::memcpy(bytes, block_.data() + at, take);
      bytes += take;
      count -= take;
      position_ += take;
    }
    return true;
  }
  bool U8(uint8_t* value) { return Read(value, 1); }
  bool U32(uint32_t* value) {
    uint8_t bytes[4];
    if (!Read(bytes, 4)) return false;
    *value = format::LoadU32(bytes);
    return true;
  }
  bool Off(OffsetWidth width, uint64_t* value) {
    uint8_t bytes[8];
    if (!Read(bytes, OffsetBytes(width))) return false;
    *value = format::LoadOff(bytes, width);
    return true;
  }

 private:
  format::BlockReader reader_;
  uint64_t table_;
  uint32_t block_size_;
  uint64_t blocks_;
  std::vector<uint8_t> block_;
  uint64_t loaded_ = UINT64_MAX;
  uint64_t position_ = 0;
};

class Verifier {
 public:
  explicit Verifier(BookCheck& check) : check_(check), layout_(check.layout) {}

  bool Open(const std::string& path) {
    format::FormatError error;
    if (!format::OpenBook(path, &file_, &layout_, &error)) {
      check_.status = error.status;
      return Damage(error.reason.empty() ? "the file is not a book" : error.reason);
    }
    width_ = layout_.width();
    subjects_ = layout_.header.subject_count;
    check_.book_id = format::BookIdOf(layout_.header);
    platform::Sha1Digest digest;
    const uint64_t area = layout_.IntegrityAreaPosition();
    if (format::ComputeStreamDigest(file_.source(), file_.container().stream_start, area,
                                    layout_.SealedEnd(), area, &digest)) {
      check_.digest_ok =
          std::memcmp(digest.data(), layout_.header.integrity_area.data(), digest.size()) == 0;
    }
    for (const format::StoreRef& store : layout_.Stores()) {
      std::vector<format::BlockDescriptor> blocks;
      format::FormatError table_error;
      StoreSummary summary;
      summary.section = std::string(1, static_cast<char>(store.tag));
      if (store.tag == 'C') summary.section += " " + Num(store.section_index + 1);
      summary.name = store.name;
      summary.table_position = store.table_position;
      if (!format::ReadBlockTable(file_, width_, store.table_position, store.section.position,
                                  store.section.next, &blocks, &table_error)) {
        check_.stores.push_back(summary);
        return Damage(Where(store) + ": " + table_error.reason);
      }
      summary.blocks = blocks.size();
      summary.stored_bytes = blocks.empty() ? 0 : store.table_position - blocks.front().position;
      check_.stores.push_back(summary);
      blocks_[store.table_position] = blocks.size();
    }
    return true;
  }

  bool Full() {
    if (!check_.digest_ok) {
      return Damage("the integrity digest does not match the book's contents (from the "
                    "integrity area to the end of section I)");
    }
    for (const format::StoreRef& store : layout_.Stores()) {
      format::BlockReader reader(&file_, width_, store.block_size);
      std::vector<uint8_t> block(store.block_size);
      const uint64_t count = blocks_[store.table_position];
      for (uint64_t k = 0; k < count; ++k) {
        if (!reader.Fetch(store.table_position, k, block.data())) {
          return Damage(Where(store) + ": block " + Num(k) + " does not inflate to " +
                        Num(store.block_size) + " bytes");
        }
        ++check_.blocks_inflated;
      }
    }
    return Header() && Positions() && Categories() && Selections() && Headings() && Anchors() &&
           Lookup() && HeadingOrder() && Texts() && Pictures() && SearchIndex() &&
           SearchIndexComplete() && SlotTable();
  }

 private:
  bool Damage(const std::string& what) {
    if (check_.problem.empty()) check_.problem = what;
    if (check_.status == format::OpenStatus::kOk) check_.status = format::OpenStatus::kDamaged;
    return false;
  }
  static std::string Where(const format::StoreRef& store) {
    std::string where = "section " + std::string(1, static_cast<char>(store.tag));
    if (store.tag == 'C') where += " " + Num(store.section_index + 1);
    return where + " " + store.name;
  }
  StoreStream Stream(uint64_t table, uint32_t block_size) {
    return StoreStream(file_, width_, table, block_size, blocks_[table]);
  }
  uint32_t TableBlock() const { return layout_.header.table_block_size; }
  uint32_t ContentBlock() const { return layout_.header.content_block_size; }

  // Reads count rising "first index" entries starting at 0; *total is the last.
  bool StartTable(StoreStream& in, uint64_t count, const std::string& what, uint64_t* total,
                  std::vector<uint32_t>* starts = nullptr) {
    uint32_t previous = 0;
    for (uint64_t i = 0; i < count; ++i) {
      uint32_t value = 0;
      if (!in.U32(&value)) return Damage(what + " is cut short at entry " + Num(i));
      if ((i == 0 && value != 0) || value < previous) {
        return Damage(what + ": entry " + Num(i) + " (" + Num(value) + ") is out of order");
      }
      if (starts) starts->push_back(value);
      previous = value;
    }
    *total = previous;
    return true;
  }

  bool Header() {
    const format::HeaderSection& h = layout_.header;
    const uint32_t pictures = h.picture_count;
    for (uint32_t index : {h.background_tile_picture, h.front_cover_picture, h.back_cover_picture}) {
      if (index != kNone && index >= pictures) {
        return Damage("the header names picture " + Num(index) + " of " + Num(pictures));
      }
    }
    if (layout_.selections.selections.size() != h.selection_count) {
      return Damage("section L lists " + Num(layout_.selections.selections.size()) +
                    " selections, the header counts " + Num(h.selection_count));
    }
    return true;
  }

  bool Positions() {
    const std::string what = "section Z position table";
    StoreStream in = Stream(layout_.positions.position_table, TableBlock());
    const uint64_t total = layout_.positions.text_total;
    text_start_.clear();
    uint64_t previous = 0;
    for (uint64_t i = 0; i <= subjects_; ++i) {
      uint64_t start = 0, in_texts = 0;
      if (!in.Off(width_, &start) || !in.Off(width_, &in_texts)) {
        return Damage(what + " is cut short at subject " + Num(i));
      }
      if (start != in_texts || start < previous || start > total ||
          (i == subjects_ && start != total)) {
        return Damage(what + ": the text position of subject " + Num(i) + " is wrong");
      }
      text_start_.push_back(start);
      previous = start;
    }
    for (int i = 0; i < 5; ++i) {
      uint64_t reserved = 0;
      if (!in.Off(width_, &reserved) || reserved != total) {
        return Damage(what + ": a reserved entry is not the text total");
      }
    }
    if (in.position() + subjects_ > in.DataSize()) return Damage(what + ": the subject flags are cut short");
    return true;
  }

  bool Categories() {
    for (size_t c = 0; c < layout_.categories.size(); ++c) {
      const format::CategorySection& category = layout_.categories[c];
      const std::string what = "section C " + Num(c + 1) + " (\"" + category.name + "\")";
      const uint64_t values = category.value_count;
      {
        StoreStream in = Stream(category.value_table, TableBlock());
        // Filters take ranges of value indexes ("less than", "at least"), so
        // values must be in value order: numbers ascending, texts as
        // headings compare.
        auto out_of_order = [&](uint64_t v) {
          return Damage(what + " value table: value " + Num(v) + " is out of value order");
        };
        if (category.flags & format::CategorySection::kNumeric) {
          if (values * 8 > in.DataSize()) return Damage(what + " value table is cut short");
          double previous = 0;
          for (uint64_t v = 0; v < values; ++v) {
            uint8_t bytes[8];
            if (!in.Read(bytes, 8)) return Damage(what + " value table is cut short");
            const double value = format::LoadDouble(bytes);
            if (v > 0 && value < previous) return out_of_order(v);
            previous = value;
          }
        } else {
          const OffsetWidth offsets =
              layout_.ValueOffsetsWide(category) ? OffsetWidth::kWide : OffsetWidth::kNarrow;
          std::vector<uint64_t> starts;
          uint64_t previous = 0;
          for (uint64_t v = 0; v <= values; ++v) {
            uint64_t start = 0;
            if (!in.Off(offsets, &start) || (v == 0 && start != 0) || start < previous) {
              return Damage(what + " value table: offset " + Num(v) + " is wrong");
            }
            starts.push_back(start);
            previous = start;
          }
          const uint64_t texts_at = in.position();
          if (texts_at + previous > in.DataSize()) {
            return Damage(what + " value table: the value texts are cut short");
          }
          std::string last, text;
          for (uint64_t v = 0; v < values; ++v) {
            text.resize(static_cast<size_t>(starts[v + 1] - starts[v]));
            if (!in.Seek(texts_at + starts[v]) || !in.Read(text.data(), text.size())) {
              return Damage(what + " value table: the value texts are cut short");
            }
            if (v > 0 && CompareHeadings(last, text) > 0) return out_of_order(v);
            last.swap(text);
          }
        }
      }
      uint64_t assignments = 0;
      {
        StoreStream in = Stream(category.value_to_subjects_table, TableBlock());
        if (!StartTable(in, values + 1, what + " value-to-subjects table", &assignments)) {
          return false;
        }
        for (uint64_t a = 0; a < assignments; ++a) {
          uint32_t subject = 0;
          if (!in.U32(&subject)) return Damage(what + " value-to-subjects table is cut short");
          if (subject >= subjects_) {
            return Damage(what + " value-to-subjects table names subject " + Num(subject));
          }
        }
      }
      StoreStream in = Stream(category.subject_to_values_table, TableBlock());
      if (category.flags & format::CategorySection::kMultiple) {
        uint64_t listed = 0;
        if (!StartTable(in, uint64_t{subjects_} + 1, what + " subject-to-values table", &listed)) {
          return false;
        }
        if (listed != assignments) {
          return Damage(what + ": its two tables list " + Num(assignments) + " and " +
                        Num(listed) + " assignments");
        }
        for (uint64_t a = 0; a < listed; ++a) {
          uint32_t value = 0;
          if (!in.U32(&value) || value >= values) {
            return Damage(what + " subject-to-values table: entry " + Num(a) + " is wrong");
          }
        }
      } else {
        uint64_t listed = 0;
        for (uint64_t s = 0; s < subjects_; ++s) {
          uint32_t value = 0;
          if (!in.U32(&value) || (value != kNone && value >= values)) {
            return Damage(what + " subject-to-values table: subject " + Num(s) + " is wrong");
          }
          if (value != kNone) ++listed;
        }
        if (listed != assignments) {
          return Damage(what + ": its two tables list " + Num(assignments) + " and " +
                        Num(listed) + " assignments");
        }
      }
    }
    return true;
  }

  bool Selections() {
    StoreStream in = Stream(layout_.selections.member_table, TableBlock());
    for (const format::SelectionEntry& selection : layout_.selections.selections) {
      for (uint32_t m = 0; m < selection.member_count; ++m) {
        uint32_t subject = 0;
        if (!in.U32(&subject)) return Damage("section L member table is cut short");
        if (subject >= subjects_) {
          return Damage("section L: selection \"" + selection.name + "\" names subject " +
                        Num(subject));
        }
      }
    }
    return true;
  }

  bool Headings() {
    const std::string what = "section S heading table";
    const OffsetWidth offsets =
        layout_.header.HeadingOffsetsWide() ? OffsetWidth::kWide : OffsetWidth::kNarrow;
    StoreStream table = Stream(layout_.headings.heading_table, TableBlock());
    StoreStream bytes = Stream(layout_.headings.heading_table, TableBlock());
    const uint64_t list = (uint64_t{subjects_} + 1) * OffsetBytes(offsets);
    has_anchors_.assign(subjects_, false);
    heading_ends_.assign(subjects_ + 1, 0);
    heading_list_ = list;
    uint64_t start = 0;
    for (uint64_t i = 0; i <= subjects_; ++i) {
      uint64_t next = 0;
      if (!table.Off(offsets, &next) || (i == 0 && next != 0) || next < start) {
        return Damage(what + ": offset " + Num(i) + " is wrong");
      }
      if (i > 0 && next > start) {
        uint8_t last = 0;
        if (!bytes.Seek(list + next - 1) || !bytes.U8(&last)) {
          return Damage(what + ": heading " + Num(i - 1) + " lies outside the table");
        }
        has_anchors_[i - 1] = last >= 0x80;
      }
      heading_ends_[i] = next;
      start = next;
    }
    if (list + start > table.DataSize()) return Damage(what + ": the headings are cut short");
    return true;
  }

  bool Anchors() {
    const std::string what = "section S anchor table";
    const uint64_t anchors = layout_.header.anchor_count;
    StoreStream in = Stream(layout_.headings.anchor_table, TableBlock());
    std::vector<std::pair<uint32_t, uint32_t>> entries;  // name offset, position
    if (anchors * 8 > in.DataSize()) return Damage(what + " is cut short");
    entries.reserve(static_cast<size_t>(anchors));
    for (uint64_t a = 0; a < anchors; ++a) {
      uint32_t name = 0, position = 0;
      if (!in.U32(&name) || !in.U32(&position)) return Damage(what + " is cut short");
      entries.emplace_back(name, position);
    }
    uint32_t names_length = 0;
    if (!in.U32(&names_length)) return Damage(what + " is cut short");
    std::vector<uint32_t> firsts;
    uint64_t total = 0;
    if (!StartTable(in, uint64_t{subjects_} + 1, what + " (first anchors)", &total, &firsts)) {
      return false;
    }
    if (total != anchors) {
      return Damage(what + " counts " + Num(total) + " anchors, the header " + Num(anchors));
    }
    if (in.position() + names_length > in.DataSize()) return Damage(what + ": names cut short");
    uint32_t previous = 0;
    for (uint64_t s = 0; s < subjects_; ++s) {
      const bool has = firsts[s + 1] > firsts[s];
      if (has != has_anchors_[s]) {
        return Damage("section S: the has-anchors bit of subject " + Num(s) +
                      " disagrees with the anchor table");
      }
      const uint64_t length = text_start_[s + 1] - text_start_[s];
      for (uint32_t a = firsts[s]; a < firsts[s + 1]; ++a) {
        if (entries[a].first < previous || entries[a].first > names_length ||
            (entries[a].second > length && entries[a].second > LongestTextOfHeading(s))) {
          return Damage(what + ": anchor " + Num(a) + " is wrong");
        }
        previous = entries[a].first;
      }
    }
    return true;
  }

  // Anchors belong to every subject with their owner's heading, so a subject
  // may list an anchor placed in the longer text of a namesake. Only asked
  // for an anchor past its subject's own text, so the walk is rare.
  uint64_t LongestTextOfHeading(uint64_t subject) {
    if (stored_headings_.empty()) {
      StoreStream bytes = Stream(layout_.headings.heading_table, TableBlock());
      stored_headings_.resize(subjects_);
      for (uint64_t s = 0; s < subjects_; ++s) {
        // The stored bytes include the anchor flag, which namesakes share.
        std::string& heading = stored_headings_[s];
        heading.resize(static_cast<size_t>(heading_ends_[s + 1] - heading_ends_[s]));
        if (!bytes.Seek(heading_list_ + heading_ends_[s]) ||
            !bytes.Read(heading.data(), heading.size())) {
          return 0;  // Headings() has checked every one of them
        }
        uint64_t& longest = longest_text_by_heading_[heading];
        longest = std::max(longest, text_start_[s + 1] - text_start_[s]);
      }
    }
    return longest_text_by_heading_[stored_headings_[subject]];
  }

  bool Lookup() {
    if (!layout_.lookup) return true;
    const std::string what = "section Q lookup table";
    const format::LookupSection& q = *layout_.lookup;
    StoreStream in = Stream(q.lookup_table, TableBlock());
    uint32_t previous = 0;
    for (uint64_t g = 0; g <= q.group_count; ++g) {
      uint32_t start = 0;
      if (!in.U32(&start)) return Damage(what + " is cut short");
      const bool last = g == q.group_count;
      if ((g == 0 && start != 0 && subjects_ > 0) || (g > 0 && start <= previous && !last) ||
          (last && start != subjects_) || start > subjects_) {
        return Damage(what + ": group " + Num(g) + " starts at " + Num(start));
      }
      if (!last) group_starts_.push_back(start);
      previous = start;
    }
    std::vector<bool> seen(subjects_, false);
    for (uint64_t p = 0; p < subjects_; ++p) {
      uint32_t subject = 0;
      if (!in.U32(&subject)) return Damage(what + " is cut short");
      if (subject >= subjects_ || seen[subject]) {
        return Damage(what + ": sort position " + Num(p) + " names subject " + Num(subject));
      }
      seen[subject] = true;
      lookup_order_.push_back(subject);
    }
    group_prefixes_.resize(static_cast<size_t>(q.group_count * q.prefix_length));
    if (in.position() + group_prefixes_.size() > in.DataSize() ||
        !in.Read(group_prefixes_.data(), group_prefixes_.size())) {
      return Damage(what + ": the group prefixes are cut short");
    }
    return true;
  }

  // The reader finds headings by bisection: the headings must be in heading
  // order (bytes compared with only A-Z folded, a prefix first), either as
  // stored or through the lookup, whose groups of equal first characters
  // and their prefixes must agree with the headings.
  static uint8_t Folded(char c) { return format::FoldCase(static_cast<uint8_t>(c)); }
  static int CompareHeadings(const std::string& a, const std::string& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
      if (Folded(a[i]) != Folded(b[i])) return Folded(a[i]) < Folded(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  }
  static bool SamePrefix(const std::string& a, const std::string& b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      const uint8_t x = i < a.size() ? Folded(a[i]) : 0, y = i < b.size() ? Folded(b[i]) : 0;
      if (x != y) return false;
    }
    return true;
  }

  bool HeadingOrder() {
    StoreStream bytes = Stream(layout_.headings.heading_table, TableBlock());
    // Heading s as the reader decodes it: the last byte without its
    // has-anchors bit, an appended marker byte dropped.
    auto heading = [&](uint32_t s, std::string* out) {
      out->assign(static_cast<size_t>(heading_ends_[s + 1] - heading_ends_[s]), '\0');
      if (!bytes.Seek(heading_list_ + heading_ends_[s]) || !bytes.Read(out->data(), out->size())) {
        return false;
      }
      if (!out->empty()) {
        out->back() = static_cast<char>(static_cast<uint8_t>(out->back()) & 0x7F);
        if (out->back() == '\0') out->pop_back();
      }
      return true;
    };
    std::string previous, current, group_first;
    if (!layout_.lookup) {
      for (uint32_t s = 0; s < subjects_; ++s) {
        if (!heading(s, &current)) return Damage("section S heading table is cut short");
        if (s > 0 && CompareHeadings(previous, current) > 0) {
          return Damage("section S: subject " + Num(s) + " (\"" + current + "\") is stored after \"" +
                        previous + "\" although the header says subjects are in heading order");
        }
        previous.swap(current);
      }
      return true;
    }
    const std::string what = "section Q lookup table";
    const size_t length = layout_.lookup->prefix_length;
    size_t group = 0;
    for (uint32_t p = 0; p < subjects_; ++p) {
      if (!heading(lookup_order_[p], &current)) return Damage("section S heading table is cut short");
      if (p > 0 && CompareHeadings(previous, current) > 0) {
        return Damage(what + ": sort position " + Num(p) + " (\"" + current + "\") sorts before \"" +
                      previous + "\"");
      }
      const bool starts = group < group_starts_.size() && group_starts_[group] == p;
      if (starts != (p == 0 || !SamePrefix(group_first, current, length))) {
        return Damage(what + ": the groups of equal first characters are wrong at sort position " +
                      Num(p));
      }
      if (starts) {
        std::string prefix = current.substr(0, length);
        prefix.resize(length, '\0');
        if (group_prefixes_.compare(group * length, length, prefix) != 0) {
          return Damage(what + ": the prefix of group " + Num(group) + " is wrong");
        }
        group_first = current;
        ++group;
      }
      previous.swap(current);
    }
    return true;
  }

  bool Texts() {
    const std::string what = "section U";
    StoreStream in = Stream(layout_.texts.text_table, ContentBlock());
    if (layout_.positions.text_total > in.DataSize()) {
      return Damage(what + ": the texts are shorter than section Z says");
    }
    const uint32_t pictures = layout_.header.picture_count;
    std::vector<uint8_t> buffer;
    for (uint64_t s = 0; s < subjects_; ++s) {
      const uint64_t length = text_start_[s + 1] - text_start_[s];
      uint64_t at = 0;
      auto bad = [&](const std::string& why) {
        return Damage(what + ": subject " + Num(s) + " at byte " + Num(at) + ": " + why);
      };
      // Texts are read in pieces so that one long subject needs no big buffer.
      while (at < length) {
        uint8_t byte = 0;
        if (!in.U8(&byte)) return bad("cut short");
        ++at;
        if (byte != 0xFF) continue;
        uint8_t header[5];
        if (length - at < 5 || !in.Read(header, 5)) return bad("an element header is cut");
        at += 5;
        const uint32_t payload = format::LoadU32(header);
        const uint8_t code = header[4];
        if (payload > length - at) return bad("an element passes the end of its subject");
        if (code == 1 || code == 22) {
          if (payload < (code == 1 ? 8u : 4u)) return bad("an element is too short");
          uint8_t fields[8];
          if (!in.Read(fields, code == 1 ? 8 : 4)) return bad("cut short");
          const uint32_t target = format::LoadU32(fields);
          if (code == 1) {
            if (target >= subjects_) return bad("a link names subject " + Num(target));
            const uint64_t target_length = text_start_[target + 1] - text_start_[target];
            if (format::LoadU32(fields + 4) > target_length) return bad("a link's anchor is outside");
          } else if (target != kNone && target >= pictures) {
            return bad("a picture element names picture " + Num(target));
          }
          at += code == 1 ? 8 : 4;
          if (!in.Seek(in.position() + payload - (code == 1 ? 8 : 4))) return bad("cut short");
          at += payload - (code == 1 ? 8 : 4);
          continue;
        }
        if (!in.Seek(in.position() + payload)) return bad("cut short");
        at += payload;
      }
    }
    return true;
  }

  bool Pictures() {
    const std::string what = "section P picture directory";
    StoreStream in = Stream(layout_.pictures.directory_table, TableBlock());
    const StoreStream data = Stream(layout_.pictures.data_table, ContentBlock());
    uint64_t previous = 0;
    uint32_t previous_small = 0;
    for (uint64_t p = 0; p <= layout_.header.picture_count; ++p) {
      uint64_t start = 0;
      if (!in.Off(width_, &start)) return Damage(what + " is cut short");
      if (start < previous || start > data.DataSize() || (p == 0 && start != 0)) {
        return Damage(what + ": picture " + Num(p) + " starts at " + Num(start));
      }
      if (p > 0 && previous_small > start - previous) {
        return Damage(what + ": the small version of picture " + Num(p - 1) + " is too long");
      }
      if (p == layout_.header.picture_count) break;
      uint32_t small = 0, width = 0, height = 0;
      if (!in.U32(&small) || !in.U32(&width) || !in.U32(&height)) {
        return Damage(what + " is cut short");
      }
      previous = start;
      previous_small = small;
    }
    return true;
  }

  bool SearchIndex() {
    if (!layout_.search_index) return true;
    const std::string what = "section F index";
    const format::SearchIndexSection& f = *layout_.search_index;
    StoreStream in = Stream(f.index_table, ContentBlock());
    const uint64_t segments = f.segment_count;
    uint64_t needed = (segments + 1) * 4 + uint64_t{f.key_count} * f.key_length +
                      uint64_t{f.key_count} * (segments / 8) + (segments > 0 ? 1 : 0);
    if (needed > in.DataSize()) return Damage(what + " is shorter than its counts need");
    uint32_t previous = 0;
    for (uint64_t j = 0; j <= segments; ++j) {
      uint32_t start = 0;
      if (!in.U32(&start)) return Damage(what + " is cut short");
      if (start < previous || start > subjects_ || (j == 0 && start != 0 && subjects_ > 0)) {
        return Damage(what + ": segment " + Num(j) + " starts at " + Num(start));
      }
      previous = start;
    }
    std::vector<uint8_t> key(f.key_length), last(f.key_length);
    for (uint64_t k = 0; k < f.key_count; ++k) {
      if (!in.Read(key.data(), key.size())) return Damage(what + " is cut short");
      if (k > 0 && !std::lexicographical_compare(last.begin(), last.end(), key.begin(), key.end())) {
        return Damage(what + ": key " + Num(k) + " is out of order");
      }
      last = key;
    }
    return true;
  }

  // A search opens only the segments whose bit maps hold all of a word's
  // keys, so every key of every subject's text (elements skipped, A-Z
  // folded, runs shorter than 3 bytes one key of their own) must be listed
  // and marked in the subject's segment. Skipped for indexes too large to
  // hold (the bit maps alone) and for key lengths other than 3.
  bool SearchIndexComplete() {
    if (!layout_.search_index) return true;
    const format::SearchIndexSection& f = *layout_.search_index;
    const uint64_t segments = f.segment_count;
    const uint64_t map_bytes = segments / 8;
    if (f.key_length != 3 || segments == 0 || uint64_t{f.key_count} * map_bytes > (1u << 30)) {
      return true;
    }
    const std::string what = "section F index";
    StoreStream index = Stream(f.index_table, ContentBlock());
    std::vector<uint32_t> starts(segments + 1);
    for (uint32_t& start : starts) {
      if (!index.U32(&start)) return Damage(what + " is cut short");
    }
    if (starts[segments] != subjects_) {
      return Damage(what + ": its segments end at subject " + Num(starts[segments]) + " of " +
                    Num(subjects_));
    }
    std::vector<uint32_t> keys(f.key_count);
    for (uint32_t& key : keys) {
      uint8_t bytes[3];
      if (!index.Read(bytes, 3)) return Damage(what + " is cut short");
      key = format::PackKey3(bytes);
    }
    std::vector<uint8_t> maps(static_cast<size_t>(keys.size() * map_bytes));
    if (!index.Read(maps.data(), maps.size())) return Damage(what + " is cut short");

    StoreStream in = Stream(layout_.texts.text_table, ContentBlock());
    uint64_t segment = 0;
    for (uint32_t s = 0; s < subjects_; ++s) {
      while (segment + 1 < segments && starts[segment + 1] <= s) ++segment;
      std::string missing;
      auto check = [&](uint32_t key) {
        const auto it = std::lower_bound(keys.begin(), keys.end(), key);
        const bool listed = it != keys.end() && *it == key;
        const uint8_t bits =
            listed ? maps[static_cast<size_t>((it - keys.begin()) * map_bytes + segment / 8)] : 0;
        if (listed && ((bits >> (segment % 8)) & 1)) return true;
        for (int shift = 16; shift >= 0; shift -= 8) {
          if (const char c = static_cast<char>(key >> shift)) missing.push_back(c);
        }
        return false;
      };
      const uint64_t length = text_start_[s + 1] - text_start_[s];
      if (!in.Seek(text_start_[s])) return Damage("section U is cut short");
      uint64_t run = 0;
      uint32_t window = 0;  // the last three folded word bytes
      auto end_word = [&] {
        const bool ok = run == 0 || run >= 3 || check(window << (8 * (3 - run)));
        run = 0;
        window = 0;
        return ok;
      };
      bool ok = true;
      for (uint64_t at = 0; at < length && ok;) {
        uint8_t byte = 0;
        if (!in.U8(&byte)) return Damage("section U is cut short");
        ++at;
        if (byte == 0xFF) {  // framing checked by Texts(): skip the element whole
          uint8_t header[5];
          if (!in.Read(header, 5) || !in.Seek(in.position() + format::LoadU32(header))) {
            return Damage("section U is cut short");
          }
          at += 5 + format::LoadU32(header);
          ok = end_word();
        } else if (format::IsSeparator(byte)) {
          ok = end_word();
        } else {
          window = ((window << 8) | format::FoldCase(byte)) & 0xFFFFFF;
          if (++run >= 3) ok = check(window);
        }
      }
      if (ok) ok = end_word();
      if (!ok) {
        return Damage(what + ": subject " + Num(s) + " holds the key \"" + missing +
                      "\", which segment " + Num(segment) + " does not list");
      }
    }
    return true;
  }

  // The slot table that a later tool may add (after 'I', outside the seal):
  // slot 0 holds the count of used slots, which must all lie in the file,
  // and a bookmark (kind 1) names a subject of the book.
  bool SlotTable() {
    if (!layout_.bookmarks) return true;
    constexpr uint64_t kSlot = 64;
    const std::string what = "section D slot table";
    const uint64_t table = layout_.bookmarks->slot_table;
    const uint64_t size = layout_.stream_size;
    uint8_t slot[kSlot];
    if (table > size || size - table < kSlot || !file_.ReadAt(table, slot, kSlot)) {
      return Damage(what + " is cut short");
    }
    const uint64_t used = format::LoadU32(slot);
    const uint64_t room = (size - table) / kSlot - 1;
    if (used > room) {
      return Damage(what + " counts " + Num(used) + " slots, the file holds " + Num(room));
    }
    for (uint64_t k = 1; k <= used; ++k) {
      if (!file_.ReadAt(table + k * kSlot, slot, kSlot)) return Damage(what + " is cut short");
      const uint32_t subject = format::LoadU32(slot + 1);
      if (slot[0] == 1 && subject >= subjects_) {
        return Damage(what + ": bookmark slot " + Num(k) + " names subject " + Num(subject));
      }
    }
    return true;
  }

  BookCheck& check_;
  format::BookLayout& layout_;
  format::BookFile file_;
  OffsetWidth width_ = OffsetWidth::kNarrow;
  uint32_t subjects_ = 0;
  std::map<uint64_t, uint64_t> blocks_;  // block table position -> blocks
  std::vector<uint64_t> text_start_;     // per subject, and the total
  std::vector<bool> has_anchors_;
  std::vector<uint32_t> group_starts_;   // lookup groups' first sort positions
  std::vector<uint32_t> lookup_order_;   // stored index at each sort position
  std::string group_prefixes_;           // K bytes per lookup group
  std::vector<uint64_t> heading_ends_;  // heading byte offsets, per subject and the total
  uint64_t heading_list_ = 0;           // where the heading bytes start in their store
  std::vector<std::string> stored_headings_;
  std::map<std::string, uint64_t> longest_text_by_heading_;
};

}  // namespace

bool InspectBook(const std::string& path, BookCheck* check) {
  *check = BookCheck{};
  Verifier verifier(*check);
  return verifier.Open(path);
}

bool VerifyBook(const std::string& path, BookCheck* check) {
  *check = BookCheck{};
  Verifier verifier(*check);
  return verifier.Open(path) && verifier.Full();
}

}  // namespace fvx::format
