// Books with exactly the stored texts, categories, pictures and slots a test
// asks for, written with bookformat's own writers: the one builder of
// hand-made books for the format's, the verifier's and the reader's tests and
// the fuzzers' seeds (sample_book.h describes its usual shapes through it).
// Compiled books cover what the compiler produces; these cover what it never
// writes (element payloads of every shape, damaged values, slot tables).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fvx::format::testing {

inline constexpr uint32_t kNone = 0xFFFFFFFF;

struct TestSubject {
  std::string heading;
  std::string text;  // stored form: characters and 0xFF elements
  bool has_anchors = false;
};

struct TestCategory {
  std::string name;
  uint32_t flags = 0;                 // 0x1 numeric, 0x2 multiple, 0x8 internal, ...
  std::vector<std::string> names;     // text values, in value order
  std::vector<double> numbers;        // numeric values, ascending
  uint32_t precision = 0;
  std::string prefix;
  std::string suffix;
  // Per stored subject, the value indexes it holds (missing: none).
  std::vector<std::vector<uint32_t>> values_of_subject;
};

struct TestSelection {
  std::string name;
  std::vector<uint32_t> members;
};

struct TestPicture {
  std::string bytes;
  std::string small_version;
  uint32_t width = 16;
  uint32_t height = 8;
};

// A named position in a subject's text; the subject's heading gets the
// marker that says it has anchors.
struct TestAnchor {
  uint32_t subject = 0;  // stored index
  std::string name;
  uint32_t position = 0;
};

struct TestSlot {
  uint8_t kind = 0;
  std::array<uint8_t, 63> payload{};
};

struct TestBookSpec {
  uint8_t version = 1;
  bool wide_heading_offsets = false;  // version 2 only
  std::vector<TestSubject> subjects;  // in stored order
  std::vector<TestAnchor> anchors;    // in stored subject order
  // Empty when the stored order is the sort order; else the stored index of
  // each sort position (the book then gets a 'Q' section).
  std::vector<uint32_t> sort_order;
  std::vector<TestCategory> categories;
  std::vector<TestSelection> selections;
  std::vector<TestPicture> pictures;
  uint32_t front_cover = kNone;
  std::string front_cover_title;
  uint32_t back_cover = kNone;
  std::string back_cover_title;
  uint32_t background_colour = kNone;
  uint32_t background_tile = kNone;
  uint32_t text_colour = kNone;
  std::string character_set = "windows-1252";
  // The information section.
  std::string title = "A test book";
  std::string author;
  std::string url;
  uint32_t version_word = 0;
  uint32_t publication_year = 0;
  // Search index segments (a multiple of 8, at least 8); subjects are spread
  // over them evenly in stored order.
  uint32_t segments = 8;
  // false writes a book of two-byte characters (which has no index).
  bool search_index = true;
  // A 'D' section with a slot table of this many slots (0: none).
  uint32_t slot_table_slots = 0;
  std::vector<TestSlot> slots;  // slots 1.. as given; slot 0 counts them
  // Threads that compress the stores' blocks.
  int worker_threads = 1;
};

struct TestBookFiles {
  std::string stream;     // the book stream alone
  std::string container;  // the whole file
  uint64_t sealed_end = 0;  // end of 'I'
};

// The whole file (container and stream).
std::string BuildTestBook(const TestBookSpec& spec);
// The same with the stream alone and the end of what the digest seals.
TestBookFiles BuildTestBookFiles(const TestBookSpec& spec);

// Stored text helpers.
std::string U32(uint32_t value);
std::string Element(uint8_t code, std::string_view payload = {});
// Writes bytes to a new file in the temporary folder; the file is removed
// when the returned object goes.
class TemporaryBookFile {
 public:
  explicit TemporaryBookFile(const std::string& bytes);
  ~TemporaryBookFile();
  TemporaryBookFile(const TemporaryBookFile&) = delete;
  TemporaryBookFile& operator=(const TemporaryBookFile&) = delete;
  const std::string& path() const { return path_; }
  std::string Read() const;

 private:
  std::string path_;
};

// Subjects headed "Subject 000", "Subject 001", ... with the texts given.
TestBookSpec SimpleBook(const std::vector<std::string>& texts);

}  // namespace fvx::format::testing
