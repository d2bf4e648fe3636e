// Reading compressed block stores: the block fetch, a cache of inflated
// blocks, and reads of table entries and byte ranges on top of it.
//
// Block k of a store whose block table is at T (w = 4 or 8 bytes per OFF):
//
//   entry k     at T + k * (w + 1):  OFF position P, u8 filter code F
//   entry k+1   its OFF is P' (for the last block, the table's closing OFF = T)
//   stored size P' - P (a next position below P is a damaged block)
//   inflate exactly B bytes, then undo the filter F & 15.
//
// The cache keeps at most max_blocks inflated blocks, keyed by the stream
// position of their table entry, on a most-recently-used list with a hash
// index beside it. A node is in one of three states: 1 cached, 2 cached but
// to be reused first (data needed once: texts, pictures), 0 not reusable.
// When the cache is full, the node to reuse is the least recently used one
// in state 2, else the least recently used one in state 1; both are found
// without scanning the list.
//
// A cache belongs to one thread; the reader's document owns two of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "bookformat/blockstore/block_store.h"
#include "bookformat/blockstore/zlib_stream.h"
#include "bookformat/book_file.h"
#include "bookformat/coding.h"

namespace fvx::format {

inline constexpr size_t kTableCacheBlocks = 5760;
inline constexpr size_t kContentCacheBlocks = 240;

// The most stored bytes a block of B bytes may take. Our writer never needs
// more than B + 2B/1000 + 13; other writers get generous room, but a damaged
// table cannot make a reader allocate or read more than this.
constexpr uint64_t MaxStoredBlockSize(uint32_t block_size) {
  return 2 * uint64_t{block_size} + 1024;
}

// Stream position of block k's table entry, or false on overflow.
[[nodiscard]] bool BlockEntryPosition(uint64_t table_position, uint64_t block_index,
                                      OffsetWidth width, uint64_t* entry);

// Fetches block k without a cache (verification tools, the fuzzer).
// REQUIRES: out holds block_size bytes.
class BlockReader {
 public:
  BlockReader(const BookFile* file, OffsetWidth width, uint32_t block_size);

  [[nodiscard]] bool Fetch(uint64_t table_position, uint64_t block_index, uint8_t* out);
  // The same, given the entry's stream position.
  [[nodiscard]] bool FetchEntry(uint64_t entry_position, uint8_t* out);

  uint32_t block_size() const { return block_size_; }
  OffsetWidth width() const { return width_; }

 private:
  const BookFile* file_;
  OffsetWidth width_;
  uint32_t block_size_;
  BlockInflater inflater_;
  std::vector<uint8_t> stored_;
  std::vector<uint8_t> inflated_;
};

class BlockCache {
 public:
  enum class ReuseState : uint8_t { kNotReusable = 0, kCached = 1, kReuseFirst = 2 };

  // REQUIRES: file outlives the cache; block_size > 0; max_blocks > 0.
  BlockCache(const BookFile* file, OffsetWidth width, uint32_t block_size, size_t max_blocks);
  ~BlockCache();
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;

  // The block_size() inflated bytes of block k of the store whose table is
  // at table_position, or nullptr when the block cannot be read. The bytes
  // stay valid until the next Fetch() or Clear() on this cache.
  const uint8_t* Fetch(uint64_t table_position, uint64_t block_index);

  // Sets the state of the node holding that block; nothing when not cached.
  void SetState(uint64_t table_position, uint64_t block_index, ReuseState state);
  bool IsCached(uint64_t table_position, uint64_t block_index) const;
  // The state of a cached block (kCached when not cached).
  ReuseState StateOf(uint64_t table_position, uint64_t block_index) const;

  // Drops every node.
  void Clear();

  uint32_t block_size() const { return block_size_; }
  OffsetWidth width() const { return reader_.width(); }
  size_t max_blocks() const { return max_blocks_; }
  size_t NodeCount() const { return nodes_.size(); }
  uint64_t hits() const { return hits_; }
  uint64_t misses() const { return misses_; }

 private:
  struct Node;
  struct List {
    Node* head = nullptr;
    Node* tail = nullptr;
  };

  Node* Find(uint64_t table_position, uint64_t block_index) const;
  Node* ChooseNode();
  void Touch(Node* node);
  void ChangeState(Node* node, ReuseState state);
  static void Unlink(List& list, Node* node, Node* Node::*prev, Node* Node::*next);
  static void PushFront(List& list, Node* node, Node* Node::*prev, Node* Node::*next);

  BlockReader reader_;
  uint32_t block_size_;
  size_t max_blocks_;
  std::vector<std::unique_ptr<Node>> nodes_;  // owns every node
  List recent_;                               // every node, most recently used first
  List reuse_first_;                          // nodes in state 2, most recently used first
  std::unordered_map<uint64_t, Node*> index_;  // table entry position -> node
  uint64_t clock_ = 0;
  uint64_t hits_ = 0;
  uint64_t misses_ = 0;
};

// Entry j of a table of u32 values stored at the start of a store.
[[nodiscard]] bool ReadTableU32(BlockCache& cache, uint64_t table_position, uint64_t index,
                                uint32_t* value);
// Entry j of a table of OFF values (4 bytes narrow; 8 bytes wide as two
// big-endian words, low word first). An entry that passes the end of its
// block is completed from the next block.
[[nodiscard]] bool ReadTableOff(BlockCache& cache, uint64_t table_position, uint64_t index,
                                OffsetWidth width, uint64_t* value);
// The same at any byte offset of the store (entries of mixed records, such
// as the picture directory, need not be aligned to their size).
[[nodiscard]] bool ReadStoreU32(BlockCache& cache, uint64_t table_position, uint64_t offset,
                                uint32_t* value);
[[nodiscard]] bool ReadStoreOff(BlockCache& cache, uint64_t table_position, uint64_t offset,
                                OffsetWidth width, uint64_t* value);
// count bytes of the store's data from offset on, across as many blocks as
// it takes. With reuse_first every block used is put in state 2 once copied,
// so that data needed once leaves the cache before the tables.
[[nodiscard]] bool ReadStoreBytes(BlockCache& cache, uint64_t table_position, uint64_t offset,
                                  void* out, size_t count, bool reuse_first = false);

// A whole block table, for tools that walk every block: entries from
// table_position until the closing OFF that equals table_position, each
// block lying in [begin, table_position), positions strictly rising, filter
// codes known. limit bounds the table (the section's end).
[[nodiscard]] bool ReadBlockTable(const BookFile& file, OffsetWidth width,
                                  uint64_t table_position, uint64_t begin, uint64_t limit,
                                  std::vector<BlockDescriptor>* blocks, FormatError* error);

}  // namespace fvx::format
