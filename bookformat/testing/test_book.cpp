#include "bookformat/testing/test_book.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include <unistd.h>

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
    std::fprintf(stderr, "test book: %s failed\n", what);
    std::abort();
  }
}

std::string ReadAll(const platform::File& file) {
  std::string bytes(static_cast<size_t>(file.Size().value_or(0)), '\0');
  Must(file.ReadAt(0, bytes.data(), bytes.size()), "read back");
  return bytes;
}

class Writer {
 public:
  explicit Writer(const TestBookSpec& spec)
      : spec_(spec), file_(platform::CreateScratchFile("fvxtest")), writer_(&file_) {
    Must(file_.IsOpen(), "scratch file");
    width_ = spec.version == 2 ? OffsetWidth::kWide : OffsetWidth::kNarrow;
    writer_.SetOffsetWidth(width_);
  }

  TestBookFiles Build();

 private:
  void Store(const std::string& data, uint32_t block_size, uint64_t patch_at) {
    CBlockStore store(block_size, &writer_, spec_.worker_threads);
    Must(store.Append(data.data(), data.size()), "store append");
    uint64_t table;
    Must(store.WriteBlockTable(&table), "block table");
    Must(writer_.PatchOff(patch_at, table), "table patch");
  }

  static std::string Grouped(const std::vector<std::vector<uint32_t>>& groups) {
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
  }

  void Categories();
  void Selections();
  void Headings();
  void Lookup();
  void Positions();
  void Texts();
  void Pictures();
  void SearchIndex();

  const TestBookSpec& spec_;
  platform::File file_;
  StreamWriter writer_;
  OffsetWidth width_;
};

void Writer::Categories() {
  const size_t n = spec_.subjects.size();
  for (const TestCategory& category : spec_.categories) {
    CategorySection section;
    section.name = category.name;
    section.flags = category.flags;
    const bool numeric = category.flags & CategorySection::kNumeric;
    section.value_count = static_cast<uint32_t>(numeric ? category.numbers.size() : category.names.size());
    section.precision = category.precision;
    section.prefix = category.prefix;
    section.suffix = category.suffix;
    SectionPatches patches;
    Must(WriteSection(writer_, section, &patches), "category section");
    std::string values;
    if (numeric) {
      for (double v : category.numbers) PutDouble(&values, v);
    } else {
      const bool wide = spec_.version == 2 && (category.flags & CategorySection::kWideValueOffsets);
      uint64_t at = 0;
      for (const std::string& name : category.names) {
        PutOff(&values, at, wide ? OffsetWidth::kWide : OffsetWidth::kNarrow);
        at += name.size();
      }
      PutOff(&values, at, wide ? OffsetWidth::kWide : OffsetWidth::kNarrow);
      for (const std::string& name : category.names) values += name;
    }
    Store(values, kTableBlockSize, patches.table_at[CategorySection::kValueTable]);

    std::vector<std::vector<uint32_t>> by_value(section.value_count);
    std::vector<std::vector<uint32_t>> by_subject(n);
    for (size_t s = 0; s < n && s < category.values_of_subject.size(); ++s) {
      std::vector<uint32_t> mine = category.values_of_subject[s];
      std::sort(mine.begin(), mine.end());
      for (uint32_t v : mine) {
        if (v < by_value.size()) by_value[v].push_back(static_cast<uint32_t>(s));
        by_subject[s].push_back(v);
      }
    }
    Store(Grouped(by_value), kTableBlockSize,
          patches.table_at[CategorySection::kValueToSubjectsTable]);
    if (category.flags & CategorySection::kMultiple) {
      Store(Grouped(by_subject), kTableBlockSize,
            patches.table_at[CategorySection::kSubjectToValuesTable]);
    } else {
      std::string single;
      for (size_t s = 0; s < n; ++s) PutU32(&single, by_subject[s].empty() ? kNone : by_subject[s][0]);
      Store(single, kTableBlockSize, patches.table_at[CategorySection::kSubjectToValuesTable]);
    }
    Must(FinishSection(writer_, patches), "category next");
  }
}

void Writer::Selections() {
  SelectionSection section;
  std::string members;
  for (const TestSelection& selection : spec_.selections) {
    section.selections.push_back({static_cast<uint32_t>(selection.members.size()), selection.name});
    for (uint32_t member : selection.members) PutU32(&members, member);
  }
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "selection section");
  Store(members, kTableBlockSize, patches.table_at[SelectionSection::kMemberTable]);
  Must(FinishSection(writer_, patches), "selection next");
}

void Writer::Headings() {
  HeadingSection section;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "heading section");
  std::string offsets, bytes;
  const OffsetWidth heading_width = spec_.version == 2 && spec_.wide_heading_offsets
                                        ? OffsetWidth::kWide
                                        : OffsetWidth::kNarrow;
  const size_t n = spec_.subjects.size();
  std::vector<uint32_t> anchors_of(n + 1, 0);
  for (const TestAnchor& anchor : spec_.anchors) {
    if (anchor.subject < n) ++anchors_of[anchor.subject];
  }
  for (size_t s = 0; s < n; ++s) {
    const TestSubject& subject = spec_.subjects[s];
    PutOff(&offsets, bytes.size(), heading_width);
    std::string stored = subject.heading;
    const bool high = !stored.empty() && static_cast<uint8_t>(stored.back()) >= 0x80;
    if (subject.has_anchors || anchors_of[s] > 0) {
      if (high || stored.empty()) {
        stored.push_back(static_cast<char>(0x80));
      } else {
        stored.back() = static_cast<char>(stored.back() | 0x80);
      }
    } else if (high) {
      stored.push_back('\0');
    }
    bytes += stored;
  }
  PutOff(&offsets, bytes.size(), heading_width);
  Store(offsets + bytes, kTableBlockSize, patches.table_at[HeadingSection::kHeadingTable]);
  // (name offset, position) per anchor, the names' length, the first anchor
  // of each subject and one past the last, the names.
  std::string anchors, names;
  for (const TestAnchor& anchor : spec_.anchors) {
    PutU32(&anchors, static_cast<uint32_t>(names.size()));
    PutU32(&anchors, anchor.position);
    names += anchor.name;
  }
  PutU32(&anchors, static_cast<uint32_t>(names.size()));
  uint32_t first = 0;
  for (size_t s = 0; s <= n; ++s) {
    PutU32(&anchors, first);
    first += anchors_of[s];
  }
  anchors += names;
  Store(anchors, kTableBlockSize, patches.table_at[HeadingSection::kAnchorTable]);
  Must(FinishSection(writer_, patches), "heading next");
}

void Writer::Lookup() {
  LookupSection section;
  const std::vector<uint32_t>& order = spec_.sort_order;
  auto prefix_of = [&](uint32_t position) {
    std::string prefix = spec_.subjects[order[position]].heading.substr(0, 3);
    return prefix;
  };
  auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(FoldCase(static_cast<uint8_t>(c)));
    return text;
  };
  std::vector<uint32_t> starts;
  for (uint32_t p = 0; p < order.size(); ++p) {
    if (p == 0 || folded(prefix_of(p)) != folded(prefix_of(p - 1))) starts.push_back(p);
  }
  section.group_count = starts.size();
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "lookup section");
  std::string data;
  for (uint32_t start : starts) PutU32(&data, start);
  PutU32(&data, static_cast<uint32_t>(order.size()));
  for (uint32_t stored : order) PutU32(&data, stored);
  for (uint32_t start : starts) {
    std::string prefix = prefix_of(start);
    prefix.resize(3, '\0');
    data += prefix;
  }
  Store(data, kTableBlockSize, patches.table_at[LookupSection::kLookupTable]);
  Must(FinishSection(writer_, patches), "lookup next");
}

void Writer::Positions() {
  PositionSection section;
  uint64_t total = 0;
  for (const TestSubject& subject : spec_.subjects) total += subject.text.size();
  section.text_total = total;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "position section");
  std::string data;
  uint64_t start = 0;
  for (const TestSubject& subject : spec_.subjects) {
    PutOff(&data, start, width_);
    PutOff(&data, start, width_);
    start += subject.text.size();
  }
  for (int i = 0; i < 7; ++i) PutOff(&data, total, width_);
  data.append(spec_.subjects.size(), '\0');
  Store(data, kTableBlockSize, patches.table_at[PositionSection::kPositionTable]);
  Must(FinishSection(writer_, patches), "position next");
}

void Writer::Texts() {
  TextSection section;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "text section");
  std::string all;
  for (const TestSubject& subject : spec_.subjects) all += subject.text;
  Store(all, kContentBlockSize, patches.table_at[TextSection::kTextTable]);
  Must(FinishSection(writer_, patches), "text next");
  ReservedTextSection reserved;
  Must(WriteSection(writer_, reserved, &patches) && FinishSection(writer_, patches), "'E'");
}

void Writer::Pictures() {
  PictureSection section;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "picture section");
  std::string directory, data;
  for (const TestPicture& picture : spec_.pictures) {
    PutOff(&directory, data.size(), width_);
    PutU32(&directory, static_cast<uint32_t>(picture.small_version.size()));
    PutU32(&directory, picture.width);
    PutU32(&directory, picture.height);
    data += picture.bytes;
    data += picture.small_version;
  }
  PutOff(&directory, data.size(), width_);
  Store(directory, kTableBlockSize, patches.table_at[PictureSection::kDirectoryTable]);
  Store(data, kContentBlockSize, patches.table_at[PictureSection::kDataTable]);
  Must(FinishSection(writer_, patches), "picture next");
}

// Keys of a stored text: words of the character runs between elements.
template <class Emit>
void ForEachStoredKey(std::string_view text, Emit&& emit) {
  size_t i = 0;
  while (i < text.size()) {
    size_t run_end = text.find('\xFF', i);
    if (run_end == std::string_view::npos) run_end = text.size();
    ForEachWord(text.substr(i, run_end - i), [&](std::string_view word) {
      ForEachKey(word, kSearchKeyLength, emit);
    });
    if (run_end >= text.size()) break;
    uint32_t length = 0;
    if (run_end + 6 <= text.size()) {
      length = LoadU32(reinterpret_cast<const uint8_t*>(text.data() + run_end + 1));
    }
    i = run_end + 6 + length;
  }
}

void Writer::SearchIndex() {
  SearchIndexSection section;
  const uint32_t n = static_cast<uint32_t>(spec_.subjects.size());
  const uint32_t segments = std::max<uint32_t>(8, (spec_.segments + 7) / 8 * 8);
  std::map<uint32_t, std::vector<uint8_t>> keys;
  std::vector<uint32_t> starts(segments + 1, n);
  for (uint32_t s = 0; s < n; ++s) {
    const uint32_t segment = static_cast<uint32_t>(uint64_t{s} * segments / std::max<uint32_t>(n, 1));
    starts[segment] = std::min(starts[segment], s);
    ForEachStoredKey(spec_.subjects[s].text, [&](const uint8_t* key) {
      std::vector<uint8_t>& bits = keys[PackKey3(key)];
      bits.resize(segments / 8);
      bits[segment / 8] |= static_cast<uint8_t>(1u << (segment % 8));
    });
  }
  // Segments without a subject start where the next one does.
  for (uint32_t j = segments; j-- > 0;) starts[j] = std::min(starts[j], starts[j + 1]);
  section.key_count = static_cast<uint32_t>(keys.size());
  section.segment_count = segments;
  SectionPatches patches;
  Must(WriteSection(writer_, section, &patches), "search index section");
  std::string data;
  for (uint32_t start : starts) PutU32(&data, start);
  for (const auto& [key, bits] : keys) {
    PutU8(&data, static_cast<uint8_t>(key >> 16));
    PutU8(&data, static_cast<uint8_t>(key >> 8));
    PutU8(&data, static_cast<uint8_t>(key));
  }
  for (const auto& [key, bits] : keys) data.append(bits.begin(), bits.end());
  PutU8(&data, 0);
  Store(data, kContentBlockSize, patches.table_at[SearchIndexSection::kIndexTable]);
  Must(FinishSection(writer_, patches), "search index next");
}

TestBookFiles Writer::Build() {
  HeaderSection header;
  header.version = spec_.version;
  header.stored_sorted = spec_.sort_order.empty() ? 1 : 0;
  header.wide_heading_offsets = spec_.wide_heading_offsets ? 1 : 0;
  header.character_width = spec_.search_index ? 0 : 1;
  header.subject_count = static_cast<uint32_t>(spec_.subjects.size());
  header.anchor_count = static_cast<uint32_t>(spec_.anchors.size());
  header.picture_count = static_cast<uint32_t>(spec_.pictures.size());
  header.category_count = static_cast<uint32_t>(spec_.categories.size());
  header.selection_count = static_cast<uint32_t>(spec_.selections.size());
  header.background_colour = spec_.background_colour;
  header.background_tile_picture = spec_.background_tile;
  header.text_colour = spec_.text_colour;
  header.character_set = spec_.character_set;
  header.front_cover_picture = spec_.front_cover;
  header.front_cover_title = spec_.front_cover_title;
  header.back_cover_picture = spec_.back_cover;
  header.back_cover_title = spec_.back_cover_title;
  HeaderPatches at;
  Must(WriteHeader(writer_, header, &at), "header");
  Must(writer_.PatchU32(at.next_at, static_cast<uint32_t>(writer_.Position())), "header next");
  Categories();
  Selections();
  Headings();
  if (!spec_.sort_order.empty()) Lookup();
  Positions();
  Texts();
  Pictures();
  if (spec_.search_index) SearchIndex();
  InfoSection info;
  info.title = spec_.title;
  info.author = spec_.author;
  info.url = spec_.url;
  info.version_word = spec_.version_word;
  info.publication_year = spec_.publication_year;
  Must(WriteInfoSection(writer_, info), "information section");
  TestBookFiles files;
  const uint64_t sealed_end = writer_.Position();
  files.sealed_end = sealed_end;
  Must(writer_.Flush(), "flush");
  BorrowedFileByteSource source(&file_);
  platform::Sha1Digest digest;
  Must(ComputeStreamDigest(source, 0, at.integrity_area_at, sealed_end, at.integrity_area_at,
                           &digest),
       "digest");
  Must(writer_.PatchBytes(at.integrity_area_at, digest.data(), digest.size()), "digest patch");

  if (spec_.slot_table_slots > 0) {
    BookmarkSection bookmarks;
    bookmarks.slot_table = writer_.Position() + 1 + 2 * OffsetBytes(width_);
    SectionPatches patches;
    Must(WriteSection(writer_, bookmarks, &patches), "bookmark section");
    std::string table(uint64_t{spec_.slot_table_slots} * 64, '\0');
    StoreU32(reinterpret_cast<uint8_t*>(table.data()), static_cast<uint32_t>(spec_.slots.size()));
    for (size_t k = 0; k < spec_.slots.size(); ++k) {
      table[(k + 1) * 64] = static_cast<char>(spec_.slots[k].kind);
      std::copy(spec_.slots[k].payload.begin(), spec_.slots[k].payload.end(),
                table.begin() + static_cast<long>((k + 1) * 64 + 1));
    }
    Must(writer_.WriteBytes(table), "slot table");
    Must(FinishSection(writer_, patches), "bookmark next");
  }
  Must(writer_.PatchOff(at.end_of_book_at, writer_.Position()), "end of book");
  Must(writer_.Flush(), "flush");
  files.stream = ReadAll(file_);

  platform::File container = platform::CreateScratchFile("fvxtest");
  WrapOptions wrap;
  wrap.output_path = "test.fvx";
  wrap.unix_time = 1700000000;
  Must(WrapContainer(file_, container, wrap).ok(), "wrap");
  files.container = ReadAll(container);
  return files;
}

}  // namespace

std::string BuildTestBook(const TestBookSpec& spec) { return Writer(spec).Build().container; }

TestBookFiles BuildTestBookFiles(const TestBookSpec& spec) { return Writer(spec).Build(); }

std::string U32(uint32_t value) {
  std::string out;
  PutU32(&out, value);
  return out;
}

std::string Element(uint8_t code, std::string_view payload) {
  std::string out = "\xFF";
  out += U32(static_cast<uint32_t>(payload.size()));
  out.push_back(static_cast<char>(code));
  out.append(payload);
  return out;
}

TemporaryBookFile::TemporaryBookFile(const std::string& bytes) {
  std::string pattern = platform::TemporaryFolderWithMostSpace() + "/fvx_reader_book_XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  Must(fd >= 0, "temporary book");
  platform::File file(fd);
  Must(file.WriteAt(0, bytes.data(), bytes.size()), "temporary book write");
  path_ = name.data();
}

TemporaryBookFile::~TemporaryBookFile() { ::unlink(path_.c_str()); }

std::string TemporaryBookFile::Read() const {
  platform::File file = platform::File::Open(path_, platform::File::Mode::kRead);
  Must(file.IsOpen(), "temporary book open");
  return ReadAll(file);
}

TestBookSpec SimpleBook(const std::vector<std::string>& texts) {
  TestBookSpec spec;
  for (size_t i = 0; i < texts.size(); ++i) {
    char heading[32];
    std::snprintf(heading, sizeof heading, "Subject %03zu", i);
    spec.subjects.push_back({heading, texts[i], false});
  }
  return spec;
}

}  // namespace fvx::format::testing
