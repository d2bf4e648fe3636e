#include "bookformat/testing/sample_book.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "bookformat/container.h"
#include "bookformat/sections.h"
#include "bookformat/testing/test_book.h"
#include "platform/file.h"
#include "platform/scratch_file.h"

namespace fvx::format::testing {
namespace {

void Must(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "sample book: %s failed\n", what);
    std::abort();
  }
}

// Subjects "Alpha", "Bravo", … with texts of the same words; subject 0 has
// the anchor "top". Category 0 is numeric ("Price", one value per subject),
// the others hold texts (several values per subject); selection k holds every
// second subject from k.
TestBookSpec SampleSpec(const SampleBookOptions& options, SampleBook* book) {
  static const char* kWords[] = {"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot",
                                 "Golf",  "Hotel", "India",   "Juliet", "Kilo", "Lima"};
  const int n = options.subject_count;
  for (int i = 0; i < n; ++i) {
    std::string heading = kWords[i % 12];
    if (i >= 12) heading += " " + std::to_string(i);
    book->headings.push_back(heading);
    std::string text = heading + " is subject " + std::to_string(i) + ". ";
    for (size_t r = 0; r < options.text_repeat * 10; ++r) text += kWords[(i + r) % 12] + std::string(" ");
    book->texts.push_back(text);
  }
  if (!options.stored_sorted && n > 1) std::swap(book->headings[0], book->headings[1]);

  TestBookSpec spec;
  spec.version = options.version;
  for (int i = 0; i < n; ++i) spec.subjects.push_back({book->headings[i], book->texts[i], false});
  if (n > 0) spec.anchors.push_back({0, "top", 0});
  if (!options.stored_sorted) {
    for (int i = 0; i < n; ++i) spec.sort_order.push_back(static_cast<uint32_t>(i));
    std::stable_sort(spec.sort_order.begin(), spec.sort_order.end(),
                     [&](uint32_t a, uint32_t b) { return book->headings[a] < book->headings[b]; });
  }
  for (int c = 0; c < options.category_count; ++c) {
    TestCategory category;
    const bool numeric = c == 0;
    category.name = numeric ? "Price" : "Colour " + std::to_string(c);
    category.flags = numeric ? CategorySection::kNumeric : CategorySection::kMultiple;
    if (numeric) {
      category.numbers = {1.5, 20.25, 1234.0};
      category.precision = 2;
      category.prefix = "$";
      category.suffix = "USD";
    } else {
      category.names = {"blue", "green", "red"};
    }
    // Subject s has value s % 3 (and, in text categories, also value 2).
    for (int s = 0; s < n; ++s) {
      std::set<uint32_t> mine = {static_cast<uint32_t>(s % 3)};
      if (!numeric) mine.insert(2);
      category.values_of_subject.emplace_back(mine.begin(), mine.end());
    }
    spec.categories.push_back(category);
  }
  for (int k = 0; k < options.selection_count; ++k) {
    TestSelection selection;
    selection.name = "Selection " + std::to_string(k);
    for (int s = k; s < n; s += 2) selection.members.push_back(static_cast<uint32_t>(s));
    spec.selections.push_back(selection);
  }
  for (int p = 0; p < options.picture_count; ++p) {
    TestPicture picture;
    picture.bytes = "\x89PNG\r\n\x1a\n";
    picture.bytes.append(40 + p, static_cast<char>('a' + p));
    spec.pictures.push_back(picture);
  }
  spec.background_colour = 0xFFFFE0;
  spec.character_set = "iso-8859-1";
  spec.front_cover_title = "Sample";
  spec.title = "A sample book";
  spec.author = "The tests";
  spec.url = "http://example.com/sample.fvx";
  spec.version_word = 0x00010002;
  spec.publication_year = 2024;
  // A slot table inside a 'D' section, so that the walk over the sections
  // after 'I' steps over it.
  if (options.with_bookmarks) spec.slot_table_slots = 1;
  spec.worker_threads = options.worker_threads;
  return spec;
}

}  // namespace

SampleBook BuildSampleBook(const SampleBookOptions& options) {
  SampleBook book;
  const TestBookSpec spec = SampleSpec(options, &book);
  TestBookFiles files = BuildTestBookFiles(spec);
  book.stream = std::move(files.stream);
  book.container = std::move(files.container);
  book.sealed_end = files.sealed_end;
  return book;
}

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
