#include "bookformat/testing/sample_book.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/book_id.h"
#include "bookformat/coding.h"
#include "bookformat/container.h"
#include "bookformat/search_keys.h"
#include "bookformat/sections.h"
#include "bookformat/stream_writer.h"
#include "platform/scratch_file.h"

namespace fvx::format::testing {
namespace {

void Must(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "sample book: %s failed\n", what);
    std::abort();
  }
}

std::string ReadAll(const platform::File& file) {
  std::string bytes(static_cast<size_t>(file.Size().value_or(0)), '\0');
  Must(file.ReadAt(0, bytes.data(), bytes.size()), "read back");
  return bytes;
}

class Builder {
 public:
  explicit Builder(const SampleBookOptions& options)
      : options_(options), file_(platform::CreateScratchFile("fvxsample")), writer_(&file_) {
    Must(file_.IsOpen(), "scratch file");
    width_ = options.version == 2 ? OffsetWidth::kWide : OffsetWidth::kNarrow;
    writer_.SetOffsetWidth(width_);
  }

  SampleBook Build();

 private:
  // Writes one store from the bytes given and patches its table position.
  void Store(const std::string& data, uint32_t block_size, uint64_t patch_at) {
    CBlockStore store(block_size, &writer_, options_.worker_threads);
    Must(store.Append(data.data(), data.size()), "store append");
    uint64_t table;
    Must(store.WriteBlockTable(&table), "block table");
    Must(writer_.PatchOff(patch_at, table), "table patch");
  }

  void MakeContents();
  void Categories();
  void Selections();
  void Headings();
  void Lookup();
  void Positions();
  void Texts();
  void Pictures();
  void SearchIndex();

  const SampleBookOptions& options_;
  platform::File file_;
  StreamWriter writer_;
  OffsetWidth width_;
  SampleBook book_;
  std::vector<int> sort_order_;  // stored index of each sort position
};

void Builder::MakeContents() {
  static const char* kWords[] = {"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot",
                                 "Golf",  "Hotel", "India",   "Juliet", "Kilo", "Lima"};
  const int n = options_.subject_count;
  for (int i = 0; i < n; ++i) {
    std::string heading = kWords[i % 12];
    if (i >= 12) heading += " " + std::to_string(i);
    book_.headings.push_back(heading);
    std::string text = heading + " is subject " + std::to_string(i) + ". ";
    for (size_t r = 0; r < options_.text_repeat * 10; ++r) text += kWords[(i + r) % 12] + std::string(" ");
    book_.texts.push_back(text);
  }
  if (!options_.stored_sorted && n > 1) std::swap(book_.headings[0], book_.headings[1]);
  for (int i = 0; i < n; ++i) sort_order_.push_back(i);
  std::stable_sort(sort_order_.begin(), sort_order_.end(),
                   [this](int a, int b) { return book_.headings[a] < book_.headings[b]; });
}

void Builder::Categories() {
  const int n = options_.subject_count;
  for (int c = 0; c < options_.category_count; ++c) {
    CategorySection section;
    const bool numeric = c == 0;
    section.name = numeric ? "Price" : "Colour " + std::to_string(c);
    section.flags = numeric ? CategorySection::kNumeric : CategorySection::kMultiple;
    section.value_count = 3;
    section.precision = numeric ? 2 : 0;
    section.prefix = numeric ? "$" : "";
    section.suffix = numeric ? "USD" : "";
    SectionPatches patches;
    Must(WriteSection(writer_, section, &patches), "category section");

    std::string values;
    if (numeric) {
      for (double v : {1.5, 20.25, 1234.0}) PutDouble(&values, v);
    } else {
      const std::string names[] = {"blue", "green", "red"};
      uint32_t at = 0;
      for (const std::string& name : names) {
        PutU32(&values, at);
        at += static_cast<uint32_t>(name.size());
      }
      PutU32(&values, at);
      for (const std::string& name : names) values += name;
    }
    Store(values, kTableBlockSize, patches.table_at[CategorySection::kValueTable]);

    // Subject s has value s % 3 (and, in text categories, also value 2).
    std::vector<std::vector<uint32_t>> by_value(3);
    std::vector<std::vector<uint32_t>> by_subject(n);
    for (int s = 0; s < n; ++s) {
      std::set<uint32_t> mine = {static_cast<uint32_t>(s % 3)};
      if (!numeric) mine.insert(2);
      for (uint32_t v : mine) {
        by_value[v].push_back(s);
        by_subject[s].push_back(v);
      }
    }
    auto grouped = [](const std::vector<std::vector<uint32_t>>& groups) {
      std::string out;
      uint32_t start = 0;
      for (const auto& group : groups) {
        PutU32(&out, start);
        start += static_cast<uint32_t>(group.size());
      }
      PutU32(&out, start);
      for (const auto& group : groups) {
        for (uint32_t item : group) PutU32(&out, item);
      }
      return out;
    };
    Store(grouped(by_value), kTableBlockSize,
          patches.table_at[CategorySection::kValueToSubjectsTable]);
    if (numeric) {
      std::string single;
      for (int s = 0; s < n; ++s) PutU32(&single, by_subject[s][0]);
      Store(single, kTableBlockSize, patches.table_at[CategorySection::kSubjectToValuesTable]);
    } else {
      Store(grouped(by_subject), kTableBlockSize,
            patches.table_at[CategorySection::kSubjectToValuesTable]);
    }
    Must(FinishSection(writer_, patches), "category next");
  }
}

void Builder::Selections() {
  SelectionSection section;
  std::string members;
  for (int k = 0; k < options_.selection_count; ++k) {
    SelectionEntry entry;
    entry.name = "Selection " + std::to_string(k);
    for (int s = k; s < options_.subject_count; s += 2) {
      PutU32(&members, static_cast<uint32_t>(s));
      ++entry.member_count;
    }
    section.selections.push_back(entry);
  }
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "selection section");
  Store(members, kTableBlockSize, patches.table_at[SelectionSection::kMemberTable]);
  Must(FinishSection(writer_, patches), "selection next");
}

void Builder::Headings() {
  HeadingSection section;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "heading section");
  const int n = options_.subject_count;
  std::string offsets, bytes;
  for (int i = 0; i < n; ++i) {
    PutU32(&offsets, static_cast<uint32_t>(bytes.size()));
    std::string stored = book_.headings[i];
    if (i == 0) stored.back() = static_cast<char>(stored.back() | 0x80);  // subject 0 has anchors
    bytes += stored;
  }
  PutU32(&offsets, static_cast<uint32_t>(bytes.size()));
  Store(offsets + bytes, kTableBlockSize, patches.table_at[HeadingSection::kHeadingTable]);

  std::string anchors;
  const uint32_t anchor_count = n > 0 ? 1 : 0;
  if (anchor_count) {
    PutU32(&anchors, 0);  // name offset
    PutU32(&anchors, 0);  // position in the text
  }
  PutU32(&anchors, anchor_count ? 3 : 0);
  for (int i = 0; i <= n; ++i) PutU32(&anchors, i == 0 ? 0 : anchor_count);
  if (anchor_count) anchors += "top";
  Store(anchors, kTableBlockSize, patches.table_at[HeadingSection::kAnchorTable]);
  Must(FinishSection(writer_, patches), "heading next");
}

void Builder::Lookup() {
  LookupSection section;
  const int n = options_.subject_count;
  std::vector<int> group_starts;
  std::string previous;
  for (int p = 0; p < n; ++p) {
    std::string prefix = book_.headings[sort_order_[p]].substr(0, 3);
    for (char& c : prefix) c = static_cast<char>(FoldCase(static_cast<uint8_t>(c)));
    if (p == 0 || prefix != previous) group_starts.push_back(p);
    previous = prefix;
  }
  section.group_count = group_starts.size();
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "lookup section");
  std::string data;
  for (int start : group_starts) PutU32(&data, static_cast<uint32_t>(start));
  PutU32(&data, static_cast<uint32_t>(n));
  for (int p = 0; p < n; ++p) PutU32(&data, static_cast<uint32_t>(sort_order_[p]));
  for (int start : group_starts) {
    std::string prefix = book_.headings[sort_order_[start]].substr(0, 3);
    prefix.resize(3, '\0');
    data += prefix;
  }
  Store(data, kTableBlockSize, patches.table_at[LookupSection::kLookupTable]);
  Must(FinishSection(writer_, patches), "lookup next");
}

void Builder::Positions() {
  PositionSection section;
  uint64_t total = 0;
  for (const std::string& text : book_.texts) total += text.size();
  section.text_total = total;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "position section");
  std::string data;
  uint64_t start = 0;
  for (const std::string& text : book_.texts) {
    PutOff(&data, start, width_);
    PutOff(&data, start, width_);
    start += text.size();
  }
  // The end of the subject list as a pair, two reserved pairs, one value.
  for (int i = 0; i < 7; ++i) PutOff(&data, total, width_);
  data.append(book_.texts.size(), '\0');
  Store(data, kTableBlockSize, patches.table_at[PositionSection::kPositionTable]);
  Must(FinishSection(writer_, patches), "position next");
}

void Builder::Texts() {
  TextSection section;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "text section");
  std::string all;
  for (const std::string& text : book_.texts) all += text;
  Store(all, kContentBlockSize, patches.table_at[TextSection::kTextTable]);
  Must(FinishSection(writer_, patches), "text next");

  ReservedTextSection reserved;
  Must(WriteSection(writer_, reserved, &patches) && FinishSection(writer_, patches), "'E'");
}

void Builder::Pictures() {
  PictureSection section;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "picture section");
  std::string directory, data;
  for (int p = 0; p < options_.picture_count; ++p) {
    PutOff(&directory, data.size(), width_);
    PutU32(&directory, 0);  // no small version
    PutU32(&directory, 16);
    PutU32(&directory, 8);
    data += "\x89PNG\r\n\x1a\n";
    data.append(40 + p, static_cast<char>('a' + p));
  }
  PutOff(&directory, data.size(), width_);
  Store(directory, kTableBlockSize, patches.table_at[PictureSection::kDirectoryTable]);
  Store(data, kContentBlockSize, patches.table_at[PictureSection::kDataTable]);
  Must(FinishSection(writer_, patches), "picture next");
}

void Builder::SearchIndex() {
  SearchIndexSection section;
  const int n = options_.subject_count;
  const uint32_t segments = 8;
  std::map<uint32_t, uint8_t> keys;  // packed key -> bit map of segments
  for (int s = 0; s < n; ++s) {
    const uint32_t segment = static_cast<uint32_t>(s) % segments;
    ForEachWord(book_.texts[s], [&](std::string_view word) {
      ForEachKey(word, kSearchKeyLength, [&](const uint8_t* key) {
        keys[PackKey3(key)] |= static_cast<uint8_t>(1u << segment);
      });
    });
  }
  section.key_count = static_cast<uint32_t>(keys.size());
  section.segment_count = segments;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "search index section");
  std::string data;
  for (uint32_t j = 0; j <= segments; ++j) PutU32(&data, std::min<uint32_t>(j, n));
  for (const auto& [key, bits] : keys) {
    PutU8(&data, static_cast<uint8_t>(key >> 16));
    PutU8(&data, static_cast<uint8_t>(key >> 8));
    PutU8(&data, static_cast<uint8_t>(key));
  }
  for (const auto& [key, bits] : keys) PutU8(&data, bits);
  PutU8(&data, 0);
  Store(data, kContentBlockSize, patches.table_at[SearchIndexSection::kIndexTable]);
  Must(FinishSection(writer_, patches), "search index next");
}

SampleBook Builder::Build() {
  MakeContents();
  HeaderSection header;
  header.version = options_.version;
  header.stored_sorted = options_.stored_sorted ? 1 : 0;
  header.subject_count = static_cast<uint32_t>(options_.subject_count);
  header.anchor_count = options_.subject_count > 0 ? 1 : 0;
  header.picture_count = static_cast<uint32_t>(options_.picture_count);
  header.category_count = static_cast<uint32_t>(options_.category_count);
  header.selection_count = static_cast<uint32_t>(options_.selection_count);
  header.background_colour = 0xFFFFE0;
  header.character_set = "iso-8859-1";
  header.front_cover_title = "Sample";
  HeaderPatches at;
  Must(WriteHeader(writer_, header, &at), "header");
  Must(writer_.PatchU32(at.next_at, static_cast<uint32_t>(writer_.Position())), "header next");

  Categories();
  Selections();
  Headings();
  if (!options_.stored_sorted) Lookup();
  Positions();
  Texts();
  Pictures();
  SearchIndex();
  InfoSection info;
  info.title = "A sample book";
  info.author = "The tests";
  info.url = "http://example.com/sample.fvx";
  info.version_word = 0x00010002;
  info.publication_year = 2024;
  Must(WriteInfoSection(writer_, info), "information section");
  book_.sealed_end = writer_.Position();

  Must(writer_.Flush(), "flush");
  BorrowedFileByteSource source(&file_);
  platform::Sha1Digest digest;
  Must(ComputeStreamDigest(source, 0, at.integrity_area_at, book_.sealed_end,
                           at.integrity_area_at, &digest),
       "digest");
  Must(writer_.PatchBytes(at.integrity_area_at, digest.data(), digest.size()), "digest patch");

  if (options_.with_bookmarks) {
    BookmarkSection bookmarks;
    bookmarks.slot_table = writer_.Position() + 1 + 2 * OffsetBytes(width_);
    SectionPatches patches;
    Must(WriteSection(writer_, bookmarks, &patches), "bookmark section");
    // The slot table lies inside the 'D' section, so that the walk over the
    // sections after 'I' steps over it.
    Must(writer_.WriteZeros(32), "slot table");
    Must(FinishSection(writer_, patches), "bookmark next");
  }
  Must(writer_.PatchOff(at.end_of_book_at, writer_.Position()), "end of book");
  Must(writer_.Flush(), "flush");
  book_.stream = ReadAll(file_);

  platform::File container = platform::CreateScratchFile("fvxsample");
  WrapOptions wrap;
  wrap.output_path = "sample.fvx";
  wrap.unix_time = 1700000000;
  Must(WrapContainer(file_, container, wrap).ok(), "wrap");
  book_.container = ReadAll(container);
  return std::move(book_);
}

}  // namespace

SampleBook BuildSampleBook(const SampleBookOptions& options) { return Builder(options).Build(); }

std::string ContainerFor(const std::string& stream) {
  std::optional<std::string> header = EncodeContainerHeader("test", 0, stream.size());
  Must(header.has_value(), "container header");
  return *header + stream + std::string(kTrailingRecordSize, '\0');
}

std::string WriteTemporaryFile(const std::string& bytes, const std::string& name) {
  const std::string folder = platform::TemporaryFolderWithMostSpace();
  std::string pattern = folder + "/fvx_" + name + "_XXXXXX";
  std::vector<char> path(pattern.begin(), pattern.end());
  path.push_back('\0');
  const int fd = mkstemp(path.data());
  Must(fd >= 0, "temporary file");
  platform::File file(fd);
  Must(file.WriteAt(0, bytes.data(), bytes.size()), "temporary write");
  return std::string(path.data());
}

}  // namespace fvx::format::testing
