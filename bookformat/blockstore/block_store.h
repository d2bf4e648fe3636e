// The compressed block store: data cut into blocks of B bytes, each block
// deflated after the best of four byte filters, followed by a block table.
//
//   store       := block* table
//   block       := zlib-stream              -- RFC 1950, of exactly B bytes once inflated
//   table       := (OFF position  u8 filter-code)*  OFF table-position
//
// The last block is padded with zero bytes to B before compression; the true
// data length is known from the tables that index the store. Blocks follow
// one another directly, so a block's stored size is the next entry's position
// (or the table's own position, for the last block) minus its own.
//
// Choosing a block's filter: the filters are tried in the order none, 2-byte
// split, 4-byte planes, 8-byte planes (bookformat/blockstore/filters.h) and a
// later one is taken only when strictly smaller, so ties go to the earlier.
// Every compression uses deflate level 6, window bits 14, memory level 8 and
// the default strategy, in one call, into B + 2B/1000 + 13 bytes of room.
//
// The output is the same as compressing every block five times (four trials
// and a final pass), but cheaper: the winning trial's bytes are kept, a later
// trial gets one byte less room than the best so far and gives up as soon as
// it cannot win, the deflate streams are reset rather than re-created, and
// with worker_threads > 1 batches of blocks are compressed in parallel and
// written strictly in order, so positions and bytes do not change. (Deflate
// looks at its room only when it emits a deflate block, which at memory
// level 8 is every 16K symbols, so the smaller room rarely cuts a trial of
// these block sizes short; the threads are what buys real speed.)
//
// Call order: Append()* , Flush() once the data is complete, then
// WriteBlockTable() (stores with an output only). Nothing else may be
// written to the output stream between the first Append() and
// WriteBlockTable(): the blocks must stay contiguous.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "bookformat/blockstore/filters.h"
#include "bookformat/stream_writer.h"

namespace fvx::format {

inline constexpr uint32_t kTableBlockSize = 2048;
inline constexpr uint32_t kContentBlockSize = 16384;

struct BlockDescriptor {
  uint64_t position;  // stream position of the block's first compressed byte
  BlockFilter filter;
};

class CBlockStore {
 public:
  // output == nullptr makes a measuring store: it compresses and counts but
  // writes nothing (the search index uses one to weigh its trials).
  // REQUIRES: block_size > 0; output, when given, outlives the store.
  CBlockStore(uint32_t block_size, StreamWriter* output, int worker_threads = 1);
  ~CBlockStore();
  CBlockStore(const CBlockStore&) = delete;
  CBlockStore& operator=(const CBlockStore&) = delete;

  bool ok() const { return ok_; }

  // Copies bytes into the block buffer, compressing full blocks as more data
  // arrives. A null pointer fails (unless count is 0); the first failure sticks.
  [[nodiscard]] bool Append(const void* data, size_t count);

  // Compresses and writes what is buffered, the partial last block included
  // (zero padded to B). Does nothing when the buffer is empty.
  [[nodiscard]] bool Flush();

  // Flushes, then writes the block table at the current stream position and
  // returns that position. REQUIRES: the store has an output.
  [[nodiscard]] bool WriteBlockTable(uint64_t* table_position);

  uint32_t block_size() const { return block_size_; }
  uint64_t CompressedBytes() const { return compressed_bytes_; }
  uint64_t BlockCount() const { return block_count_; }
  uint64_t DataBytes() const { return data_bytes_; }
  const std::vector<BlockDescriptor>& descriptors() const { return descriptors_; }

 private:
  struct Worker;
  struct Slot;

  bool Fail();
  bool QueueBuffer();
  bool ProcessBatch();
  bool CompressSlot(Worker& worker, Slot& slot);

  uint32_t block_size_;
  StreamWriter* output_;
  bool ok_ = true;

  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;

  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<Slot> slots_;
  size_t pending_ = 0;

  std::vector<BlockDescriptor> descriptors_;
  uint64_t compressed_bytes_ = 0;
  uint64_t block_count_ = 0;
  uint64_t data_bytes_ = 0;
};

}  // namespace fvx::format
