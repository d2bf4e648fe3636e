#include "compiler/backend/picture_section.h"

#include <algorithm>
#include <vector>

#include "bookformat/blockstore/block_store.h"
#include "compiler/backend/store_buffer.h"
#include "compiler/backend/subject_text_encoder.h"
#include "compiler/base/compile_context.h"

namespace fvx::compiler {
namespace {

constexpr size_t kCopyPiece = 32768;

}  // namespace

void PictureSet::Clear() {
  spill.Close();
  directory.clear();
  index_of_record.clear();
  bytes_processed = 0;
  bytes_stored = 0;
  small_bytes = 0;
}

uint32_t PictureSet::PictureIndex(uint32_t record) const {
  if (record == 0 || record >= index_of_record.size()) return kNoPicture;
  return index_of_record[record];
}

uint64_t PictureSet::SpillSize() const {
  return spill.IsOpen() ? spill.Size().value_or(0) : 0;
}

bool WritePictureStores(CompileContext& context, format::StreamWriter& writer,
                        const PictureSet& pictures, int worker_threads,
                        uint64_t directory_table_at, uint64_t data_table_at) {
  context.Report(false, Level::kInformation, MessageId::kAddingPictureData);
  const format::OffsetWidth width = writer.offset_width();
  const uint64_t spill_size = pictures.SpillSize();
  uint64_t table = 0;
  {
    format::CBlockStore store(format::kTableBlockSize, &writer, 1);
    StoreBuffer out(store);
    for (const PictureDirectoryEntry& entry : pictures.directory) {
      if (entry.start > spill_size) return false;
      if (!out.PutOff(entry.start, width) || !out.PutU32(entry.small_length) ||
          !out.PutU32(entry.width) || !out.PutU32(entry.height)) {
        return false;
      }
    }
    if (!out.PutOff(spill_size, width) || !out.Finish() || !store.WriteBlockTable(&table) ||
        !writer.PatchOff(directory_table_at, table)) {
      return false;
    }
  }
  format::CBlockStore store(format::kContentBlockSize, &writer, worker_threads);
  std::vector<uint8_t> piece(kCopyPiece);
  context.BeginProgress(spill_size);
  for (uint64_t at = 0; at < spill_size;) {
    if (!context.KeepGoing()) return false;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(kCopyPiece, spill_size - at));
    if (!pictures.spill.ReadAt(at, piece.data(), count) || !store.Append(piece.data(), count)) {
      return false;
    }
    at += count;
    context.SetProgress(at);
  }
  context.EndProgress();
  return store.WriteBlockTable(&table) && writer.PatchOff(data_table_at, table);
}

}  // namespace fvx::compiler
