// The book writer: the compile's back end, from the work database and the
// text spill file to a book stream, and from the stream to the book file.
//
//   stream := H C* L S Q? Z U E P F I          -- bookformat/sections.h
//
// WriteBook, one run:
//   1. reset; 2. prepare (sort check, counts, empty selections dropped, link
//   maps unless retry); 3. pictures; 4. offset width (2 for "hugefile" or a
//   spill file of 4 GiB); 5. 'H' with placeholders; 6. position map and the
//   stored-sorted byte; 7. every section, each tag position checked against
//   the offset width; 8. picture count and background tile; 9. the integrity
//   digest over [integrity area, end of 'I'); 10. end of book; 11. figures
//   and the final size check.
//
// A run that meets a position the narrow width cannot hold fails with
// overflow set; the driver then rewrites the book once in the wide width.
// Texts and stores are the slow part: the text store and the segmentation
// trials compress on the worker threads, and each subject's search keys
// are taken once while its text is encoded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "compiler/backend/picture_section.h"
#include "compiler/base/book_back_end.h"

namespace fvx::compiler {

struct BookWriterOptions {
  // Stream positions from here on do not fit the narrow offset width. Only
  // tests lower it, to reach the huge-book paths without writing 4 GiB.
  uint64_t narrow_limit = uint64_t{1} << 32;
  // Compressing threads per store; 0 takes the processors this process may
  // run on (at most 2 pay off).
  int worker_threads = 0;
  // ProcessPictures, or empty: no pictures (every reference unresolved).
  PictureStage pictures;
  // Unix time for the container's time fields; now when not given.
  std::optional<int64_t> container_time;
};

// Where the time of a run went, for the benchmark (seconds of wall clock).
struct WriterTimings {
  double prepare = 0;
  double pictures = 0;
  double tables = 0;         // 'C', 'L', 'S', 'Q', 'Z'
  double texts = 0;          // 'U': encoding, compression and key extraction
  double segmentation = 0;   // the trials
  double index = 0;          // the final 'F'
  double digest = 0;
  double wrap = 0;
  size_t key_memory = 0;     // bytes held by the per-key subject lists
};

class CBookWriter final : public BookBackEnd {
 public:
  explicit CBookWriter(BookWriterOptions options = {});
  ~CBookWriter() override;

  [[nodiscard]] bool WriteBook(BookWriteJob& job, bool retry, bool& overflow) override;
  // Writes the container beside the output and renames it into place only
  // once complete, so that a failed wrap never replaces a good book.
  [[nodiscard]] bool WrapContainer(BookWriteJob& job, const std::string& output_path) override;

  const WriterTimings& timings() const { return timings_; }

 private:
  class Run;
  BookWriterOptions options_;
  std::optional<bool> user_sort_answer_;  // ShouldSort, asked once per compile
  bool link_maps_ready_ = false;
  WriterTimings timings_;
};

// The processors this process may run on (1 when it cannot tell).
int AvailableProcessors();

}  // namespace fvx::compiler
