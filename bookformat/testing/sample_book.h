// Small, complete and consistent books built through test_book.h,
// for tests and as fuzzing seeds. Every section and store is present with
// plausible contents; the digest is sealed as the compiler seals it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fvx::format::testing {

struct SampleBookOptions {
  uint8_t version = 1;           // 2 writes 8-byte offsets
  int subject_count = 6;
  int category_count = 2;        // the first numeric, the rest text
  int selection_count = 2;
  bool stored_sorted = true;     // false adds a 'Q' section
  int picture_count = 1;
  bool with_bookmarks = false;   // a 'D' section and a slot table after 'I'
  size_t text_repeat = 3;        // words of filler per subject, times 10
  int worker_threads = 1;
};

struct SampleBook {
  std::string stream;     // the book stream alone
  std::string container;  // the whole file
  std::vector<std::string> headings;
  std::vector<std::string> texts;
  uint64_t sealed_end = 0;  // end of 'I'
};

// Aborts the test program on a writer failure (a bug in the library).
SampleBook BuildSampleBook(const SampleBookOptions& options = {});

// A container around a stream, as WrapContainer writes it (time 0).
std::string ContainerFor(const std::string& stream);

// Writes bytes to a fresh file in the temporary folder and returns its path.
std::string WriteTemporaryFile(const std::string& bytes, const std::string& name = "book");

}  // namespace fvx::format::testing
