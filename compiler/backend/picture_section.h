// The processed pictures of a book and section 'P' that carries them.
//
//   directory := (OFF:start u32:small-length u32:width u32:height){pictures} OFF:end
//   data      := the picture spill file, copied unchanged
//
// Picture p's bytes are [start p, start p+1) of the data: the stored
// picture, then its small version when small-length is not 0. width and
// height are the small version's when there is one.
//
// The picture stage (ProcessPictures) fills a PictureSet before the header
// is written; the writer only reads it. Without a picture stage, or when
// pictures are skipped, the set stays empty: no pictures, every reference
// unresolved.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bookformat/stream_writer.h"
#include "platform/file.h"

namespace fvx::compiler {

class CompileContext;
struct BookWriteJob;

struct PictureDirectoryEntry {
  uint64_t start = 0;         // in the picture spill file
  uint32_t small_length = 0;  // 0: no small version
  uint32_t width = 0;
  uint32_t height = 0;
};

struct PictureSet {
  // The picture spill file; closed when there are no pictures.
  platform::File spill;
  std::vector<PictureDirectoryEntry> directory;
  // Picture record id (ROWID of tbl_Images) -> picture index; kNoPicture
  // for references whose picture was not processed.
  std::vector<uint32_t> index_of_record;
  uint64_t bytes_processed = 0;  // of the source picture files
  uint64_t bytes_stored = 0;     // pictures and small versions
  uint64_t small_bytes = 0;

  void Clear();
  uint32_t PictureCount() const { return static_cast<uint32_t>(directory.size()); }
  // kNoPicture for 0 and record ids beyond the map.
  uint32_t PictureIndex(uint32_t record) const;
  // Bytes in the spill file (0 without one).
  uint64_t SpillSize() const;
};

// ProcessPictures as the writer calls it (step 3 of a run): fills *pictures
// from tbl_Images and the document properties. False ends the run.
using PictureStage = std::function<bool(BookWriteJob& job, PictureSet* pictures)>;

// Writes the body of 'P' after its fixed fields: the directory store and the
// data store, and patches the two table fields.
// REQUIRES: directory_table_at and data_table_at are the section's
// placeholders; nothing else is written to the writer meanwhile.
[[nodiscard]] bool WritePictureStores(CompileContext& context, format::StreamWriter& writer,
                                      const PictureSet& pictures, int worker_threads,
                                      uint64_t directory_table_at, uint64_t data_table_at);

}  // namespace fvx::compiler
