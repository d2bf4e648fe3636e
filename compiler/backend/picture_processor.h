// The picture stage of the book writer: every distinct picture file that
// tbl_Images names is loaded once, limited in size, stored in a format the
// readers show (with a small version for handhelds when asked) and appended
// to the picture spill file; each reference learns its picture's index.
//
//   spill    := picture*                       -- in directory order
//   picture  := stored small?                  -- small only with flag 0x2 and
//                                                 a stored size above the limit
//   stored   := the source file's bytes        -- JPEG or BMP needing no limit
//             | jpeg | png | bmp               -- re-encoded by the image library
//
// Call order: the writer creates the spill file (read-write, usually empty),
// calls ProcessPictures once per run, then writes section 'P' from
// results->directory and the spill file, and resolves picture markers and
// the header's picture fields through results->PictureIndex.
//
// Message levels: the progress lines are information; a reference without a
// path and a failed small version are warnings; a picture that cannot be
// opened or processed is an error (the compile still succeeds, its
// references stay unresolved).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "compiler/base/book_back_end.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/document_properties.h"
#include "compiler/base/work_database.h"
#include "imaging/image_library.h"
#include "platform/file.h"

namespace fvx::compiler {

struct PictureSet;  // compiler/backend/picture_section.h

// tbl_Images.Flags bits.
inline constexpr uint32_t kPictureFlagSketch = 0x1;
inline constexpr uint32_t kPictureFlagSmallVersion = 0x2;  // every "img" picture
inline constexpr uint32_t kPictureFlagStorePng = 0x4;      // set here, never stored

// More references than this and converted pictures are stored as PNG: BMP
// grows too large once a book holds that many.
inline constexpr uint64_t kPngReferenceThreshold = 3000;
inline constexpr uint32_t kUnresolvedPicture = 0xFFFFFFFF;

// One processed picture, as section 'P' lists it.
struct ProcessedPicture {
  uint64_t start = 0;         // in the spill file
  uint32_t small_length = 0;  // 0: no small version
  uint32_t width = 0;         // of the small version when there is one,
  uint32_t height = 0;        // else of the stored picture
};

// Picture record id (ROWID of tbl_Images) -> picture index.
class PictureIndexMap {
 public:
  // Every record from 0 to reference_count unresolved.
  void Reset(uint64_t reference_count);
  void Set(int64_t record, uint32_t picture_index);
  // kUnresolvedPicture for record 0, unknown records and unprocessed ones.
  uint32_t PictureIndex(uint32_t record) const;
  // One past the largest record that may be resolved.
  uint32_t RecordLimit() const;

 private:
  std::vector<uint32_t> dense_;
  // Records past the count (only if rows were ever deleted), sorted.
  std::vector<std::pair<uint32_t, uint32_t>> sparse_;
};

struct PictureResults {
  std::vector<ProcessedPicture> directory;
  PictureIndexMap index_map;
  uint64_t bytes_processed = 0;  // sizes of the source files of the pictures stored
  uint64_t bytes_stored = 0;     // spill bytes: pictures and small versions
  uint64_t small_bytes = 0;      // the small versions among them

  uint32_t PictureCount() const { return static_cast<uint32_t>(directory.size()); }
  uint32_t PictureIndex(uint32_t record) const { return index_map.PictureIndex(record); }
};

struct PictureJob {
  CompileContext& context;
  const CDocumentProperties& properties;
  WorkDatabase& database;
  // The source file; relative picture paths start from its folder.
  std::string source_path;
  // Null: every picture is reported as one that cannot be processed.
  imaging::ImageLibrary* library = nullptr;
  // REQUIRES: open for reading and writing. Pictures are appended at its end.
  platform::File& spill;
};

// Fills *results (reset first). False when the user cancelled, the work
// database failed or the spill file refused a write; a picture that cannot
// be read is reported and left out, which is not a failure.
[[nodiscard]] bool ProcessPictures(const PictureJob& job, PictureResults* results);

// The same for the writer's job.
[[nodiscard]] bool ProcessPictures(BookWriteJob& job, imaging::ImageLibrary* library,
                                   platform::File& spill, PictureResults* results);

// The book writer's picture stage (BookWriterOptions::pictures): each run
// gets a fresh picture spill file (a scratch file) and the results in the
// writer's PictureSet. REQUIRES: library, when not null, outlives the stage.
std::function<bool(BookWriteJob&, PictureSet*)> MakePictureStage(
    imaging::ImageLibrary* library);

// The same stage, with the library asked for only when the book refers to a
// picture: opening it may be costly (fvx loads Qt for it). open_library may
// return null, which gives what a null library gives. REQUIRES: what
// open_library returns outlives the stage.
std::function<bool(BookWriteJob&, PictureSet*)> MakeDeferredPictureStage(
    std::function<imaging::ImageLibrary*()> open_library);

// --- Pieces of the algorithm, exposed for their tests ------------------------

// The file a picture path names. A ":" before the first separator, or a
// leading "/", makes it absolute; otherwise it is relative to the source's
// folder, with leading separators and white space dropped. "\" becomes "/".
std::string ResolvePicturePath(std::string_view source_path, std::string_view picture_path);

// Every "%" followed by two hexadecimal digits becomes that byte ("%00"
// excepted: a path cannot hold it).
std::string DecodePercentEscapes(std::string_view path);

// The largest size of the picture's proportions within box_width ×
// box_height (at least 1 × 1).
struct PictureSize {
  uint32_t width = 0;
  uint32_t height = 0;
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};
PictureSize FitIntoBox(PictureSize picture, PictureSize box);

// The small version's square by "optimizeimagesfor": palm 130, ppc 300,
// not given 240.
uint32_t SmallVersionLimit(uint32_t picture_target);

}  // namespace fvx::compiler
