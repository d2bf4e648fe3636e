// Feeds arbitrary bytes through everything a reader does with a book file:
// the container check, the book id, the section walk, every block table,
// block fetches with and without the cache, and table and range reads.
// Any crash, hang or outsized allocation is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_id.h"
#include "bookformat/book_layout.h"

using namespace fvx::format;

namespace {

constexpr size_t kMaxBlocksPerStore = 32;

void ReadStores(const BookFile& file, const BookLayout& layout) {
  BlockCache tables(&file, layout.width(), layout.header.table_block_size, 16);
  BlockCache content(&file, layout.width(), layout.header.content_block_size, 4);
  for (const StoreRef& store : layout.Stores()) {
    std::vector<BlockDescriptor> blocks;
    FormatError error;
    const bool table_ok = ReadBlockTable(file, layout.width(), store.table_position,
                                         store.section.position, store.section.next, &blocks,
                                         &error);
    BlockCache& cache = store.block_size == layout.header.table_block_size ? tables : content;
    const size_t count = table_ok ? std::min(blocks.size(), kMaxBlocksPerStore) : 2;
    for (size_t k = 0; k < count; ++k) (void)cache.Fetch(store.table_position, k);
    // Entries and ranges, including ones that cross block boundaries.
    uint32_t u32;
    uint64_t off;
    (void)ReadTableU32(cache, store.table_position, 0, &u32);
    (void)ReadTableOff(cache, store.table_position, 1, layout.width(), &off);
    (void)ReadStoreOff(cache, store.table_position, store.block_size - 4, layout.width(), &off);
    std::vector<uint8_t> range(std::min<size_t>(3 * size_t{store.block_size}, 1 << 16));
    (void)ReadStoreBytes(cache, store.table_position, store.block_size / 2, range.data(),
                         range.size(), true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  MemoryByteSource source(bytes);
  (void)BookIdOfSource(source);

  BookFile file;
  FormatError error;
  if (!file.Open(std::make_unique<MemoryByteSource>(bytes), &error)) return 0;

  // A block fetch at a position taken from the input, whatever the layout.
  if (size >= 4 && file.StreamSize() > 0) {
    const uint64_t table = LoadU32(data + size - 4) % file.StreamSize();
    for (OffsetWidth width : {OffsetWidth::kNarrow, OffsetWidth::kWide}) {
      BlockReader reader(&file, width, kTableBlockSize);
      std::vector<uint8_t> block(kTableBlockSize);
      (void)reader.Fetch(table, 0, block.data());
    }
  }

  BookLayout layout;
  if (!ParseBookLayout(file, &layout, &error)) return 0;
  fvx::platform::Sha1Digest digest;
  (void)ComputeStreamDigest(file.source(), file.container().stream_start,
                            layout.IntegrityAreaPosition(), layout.SealedEnd(),
                            layout.IntegrityAreaPosition(), &digest);
  ReadStores(file, layout);
  return 0;
}
