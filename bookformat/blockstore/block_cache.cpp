#include "bookformat/blockstore/block_cache.h"

#include <algorithm>
#include <cstring>

#include "bookformat/blockstore/filters.h"

namespace fvx::format {

bool BlockEntryPosition(uint64_t table_position, uint64_t block_index, OffsetWidth width,
                        uint64_t* entry) {
  uint64_t step;
  return MulChecked(block_index, OffsetBytes(width) + 1, &step) &&
         AddChecked(table_position, step, entry);
}

// ---------------------------------------------------------------- BlockReader

BlockReader::BlockReader(const BookFile* file, OffsetWidth width, uint32_t block_size)
    : file_(file), width_(width), block_size_(block_size) {}

bool BlockReader::Fetch(uint64_t table_position, uint64_t block_index, uint8_t* out) {
  uint64_t entry;
  return BlockEntryPosition(table_position, block_index, width_, &entry) && FetchEntry(entry, out);
}

bool BlockReader::FetchEntry(uint64_t entry_position, uint8_t* out) {
  if (!inflater_.ok() || block_size_ == 0) return false;
  // This entry (OFF + code) and the next entry's OFF, in one read.
  const size_t w = OffsetBytes(width_);
  uint8_t entries[8 + 1 + 8];
  if (!file_->ReadAt(entry_position, entries, 2 * w + 1)) return false;
  const uint64_t position = LoadOff(entries, width_);
  const uint8_t code = entries[w];
  const uint64_t next = LoadOff(entries + w + 1, width_);
  if (next < position) return false;
  const uint64_t stored = next - position;
  if (stored > MaxStoredBlockSize(block_size_)) return false;
  const std::optional<BlockFilter> filter = FilterFromCode(code);
  if (!filter || !FilterApplies(*filter, block_size_)) return false;

  stored_.resize(static_cast<size_t>(stored));
  if (!file_->ReadAt(position, stored_.data(), stored_.size())) return false;
  if (*filter == BlockFilter::kNone) {
    return inflater_.InflateExact(stored_.data(), stored_.size(), out, block_size_);
  }
  inflated_.resize(block_size_);
  return inflater_.InflateExact(stored_.data(), stored_.size(), inflated_.data(), block_size_) &&
         InverseFilter(*filter, inflated_.data(), out, block_size_);
}

// ---------------------------------------------------------------- BlockCache

struct BlockCache::Node {
  uint64_t key = 0;
  bool has_key = false;
  ReuseState state = ReuseState::kCached;
  uint64_t used = 0;  // clock of the last use; orders the state-2 list
  std::vector<uint8_t> buffer;
  Node* prev = nullptr;
  Node* next = nullptr;
  Node* reuse_prev = nullptr;
  Node* reuse_next = nullptr;
};

BlockCache::BlockCache(const BookFile* file, OffsetWidth width, uint32_t block_size,
                       size_t max_blocks)
    : reader_(file, width, block_size), block_size_(block_size), max_blocks_(max_blocks) {
  index_.reserve(std::min<size_t>(max_blocks_, 1024));
}

BlockCache::~BlockCache() = default;

void BlockCache::Unlink(List& list, Node* node, Node* Node::*prev, Node* Node::*next) {
  if (node->*prev) (node->*prev)->*next = node->*next; else list.head = node->*next;
  if (node->*next) (node->*next)->*prev = node->*prev; else list.tail = node->*prev;
  node->*prev = nullptr;
  node->*next = nullptr;
}

void BlockCache::PushFront(List& list, Node* node, Node* Node::*prev, Node* Node::*next) {
  node->*prev = nullptr;
  node->*next = list.head;
  if (list.head) list.head->*prev = node; else list.tail = node;
  list.head = node;
}

void BlockCache::Touch(Node* node) {
  node->used = ++clock_;
  if (recent_.head != node) {
    Unlink(recent_, node, &Node::prev, &Node::next);
    PushFront(recent_, node, &Node::prev, &Node::next);
  }
  if (node->state == ReuseState::kReuseFirst && reuse_first_.head != node) {
    Unlink(reuse_first_, node, &Node::reuse_prev, &Node::reuse_next);
    PushFront(reuse_first_, node, &Node::reuse_prev, &Node::reuse_next);
  }
}

void BlockCache::ChangeState(Node* node, ReuseState state) {
  if (node->state == state) return;
  if (node->state == ReuseState::kReuseFirst) {
    Unlink(reuse_first_, node, &Node::reuse_prev, &Node::reuse_next);
  }
  node->state = state;
  if (state != ReuseState::kReuseFirst) return;
  // Keep the state-2 list in the order of last use. The node is nearly
  // always the one just read, so this stops at the head.
  Node* after = reuse_first_.head;
  while (after != nullptr && after->used > node->used) after = after->reuse_next;
  if (after == nullptr) {
    node->reuse_next = nullptr;
    node->reuse_prev = reuse_first_.tail;
    if (reuse_first_.tail) reuse_first_.tail->reuse_next = node; else reuse_first_.head = node;
    reuse_first_.tail = node;
  } else if (after == reuse_first_.head) {
    PushFront(reuse_first_, node, &Node::reuse_prev, &Node::reuse_next);
  } else {
    node->reuse_next = after;
    node->reuse_prev = after->reuse_prev;
    after->reuse_prev->reuse_next = node;
    after->reuse_prev = node;
  }
}

BlockCache::Node* BlockCache::Find(uint64_t table_position, uint64_t block_index) const {
  uint64_t key;
  if (!BlockEntryPosition(table_position, block_index, reader_.width(), &key)) return nullptr;
  auto found = index_.find(key);
  return found == index_.end() ? nullptr : found->second;
}

BlockCache::Node* BlockCache::ChooseNode() {
  if (nodes_.size() < max_blocks_) {
    auto node = std::make_unique<Node>();
    node->buffer.resize(block_size_);
    Node* raw = node.get();
    nodes_.push_back(std::move(node));
    PushFront(recent_, raw, &Node::prev, &Node::next);
    return raw;
  }
  Node* victim = reuse_first_.tail;
  if (victim == nullptr) {
    // Nodes in state 0 are skipped; they are rare, so this walk is short.
    victim = recent_.tail;
    while (victim != nullptr && victim->state != ReuseState::kCached) victim = victim->prev;
  }
  if (victim == nullptr) return nullptr;
  if (victim->has_key) index_.erase(victim->key);
  victim->has_key = false;
  ChangeState(victim, ReuseState::kCached);
  Touch(victim);
  return victim;
}

const uint8_t* BlockCache::Fetch(uint64_t table_position, uint64_t block_index) {
  uint64_t key;
  if (!BlockEntryPosition(table_position, block_index, reader_.width(), &key)) return nullptr;
  if (auto found = index_.find(key); found != index_.end()) {
    ++hits_;
    Touch(found->second);
    return found->second->buffer.data();
  }
  ++misses_;
  Node* node = ChooseNode();
  if (node == nullptr) return nullptr;
  node->used = ++clock_;
  if (!reader_.FetchEntry(key, node->buffer.data())) {
    // The node holds nothing now; make it the first to be taken again.
    Unlink(recent_, node, &Node::prev, &Node::next);
    node->next = nullptr;
    node->prev = recent_.tail;
    if (recent_.tail) recent_.tail->next = node; else recent_.head = node;
    recent_.tail = node;
    return nullptr;
  }
  node->key = key;
  node->has_key = true;
  index_[key] = node;
  return node->buffer.data();
}

void BlockCache::SetState(uint64_t table_position, uint64_t block_index, ReuseState state) {
  if (Node* node = Find(table_position, block_index)) ChangeState(node, state);
}

bool BlockCache::IsCached(uint64_t table_position, uint64_t block_index) const {
  return Find(table_position, block_index) != nullptr;
}

BlockCache::ReuseState BlockCache::StateOf(uint64_t table_position, uint64_t block_index) const {
  const Node* node = Find(table_position, block_index);
  return node ? node->state : ReuseState::kCached;
}

void BlockCache::Clear() {
  index_.clear();
  recent_ = {};
  reuse_first_ = {};
  nodes_.clear();
}

// ---------------------------------------------------------------- reads

bool ReadStoreBytes(BlockCache& cache, uint64_t table_position, uint64_t offset, void* out,
                    size_t count, bool reuse_first) {
  uint8_t* to = static_cast<uint8_t*>(out);
  const uint32_t size = cache.block_size();
  if (size == 0) return count == 0;
  while (count > 0) {
    const uint64_t block = offset / size;
    const size_t within = static_cast<size_t>(offset % size);
    const uint8_t* bytes = cache.Fetch(table_position, block);
    if (bytes == nullptr) return false;
    const size_t piece = std::min<size_t>(count, size - within);
    std::memcpy(to, bytes + within, piece);
    if (reuse_first) cache.SetState(table_position, block, BlockCache::ReuseState::kReuseFirst);
    to += piece;
    count -= piece;
    if (!AddChecked(offset, piece, &offset)) return count == 0;
  }
  return true;
}

bool ReadStoreU32(BlockCache& cache, uint64_t table_position, uint64_t offset, uint32_t* value) {
  uint8_t bytes[4];
  if (!ReadStoreBytes(cache, table_position, offset, bytes, sizeof bytes)) return false;
  *value = LoadU32(bytes);
  return true;
}

bool ReadStoreOff(BlockCache& cache, uint64_t table_position, uint64_t offset, OffsetWidth width,
                  uint64_t* value) {
  uint8_t bytes[8];
  if (!ReadStoreBytes(cache, table_position, offset, bytes, OffsetBytes(width))) return false;
  *value = LoadOff(bytes, width);
  return true;
}

bool ReadTableU32(BlockCache& cache, uint64_t table_position, uint64_t index, uint32_t* value) {
  uint64_t offset;
  return MulChecked(index, 4, &offset) && ReadStoreU32(cache, table_position, offset, value);
}

bool ReadTableOff(BlockCache& cache, uint64_t table_position, uint64_t index, OffsetWidth width,
                  uint64_t* value) {
  uint64_t offset;
  return MulChecked(index, OffsetBytes(width), &offset) &&
         ReadStoreOff(cache, table_position, offset, width, value);
}

bool ReadBlockTable(const BookFile& file, OffsetWidth width, uint64_t table_position,
                    uint64_t begin, uint64_t limit, std::vector<BlockDescriptor>* blocks,
                    FormatError* error) {
  blocks->clear();
  const std::string where = "the block table at " + std::to_string(table_position);
  StreamCursor cursor(&file, table_position, limit);
  uint64_t previous = begin;
  for (;;) {
    uint64_t position;
    if (!cursor.ReadOff(width, &position)) {
      return SetError(error, OpenStatus::kDamaged, where + " has no closing entry");
    }
    if (position == table_position) return true;
    uint8_t code;
    if (!cursor.ReadU8(&code)) {
      return SetError(error, OpenStatus::kDamaged, where + " is cut short");
    }
    const std::optional<BlockFilter> filter = FilterFromCode(code);
    if (!filter) {
      return SetError(error, OpenStatus::kDamaged,
                      where + " names an unknown filter code " + std::to_string(code));
    }
    if (position < previous || position >= table_position ||
        (!blocks->empty() && position == previous)) {
      return SetError(error, OpenStatus::kDamaged,
                      where + ": block " + std::to_string(blocks->size()) + " at " +
                          std::to_string(position) + " is out of order or outside the store");
    }
    blocks->push_back({position, *filter});
    previous = position;
  }
}

}  // namespace fvx::format
