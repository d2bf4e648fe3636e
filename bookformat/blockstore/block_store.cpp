#include "bookformat/blockstore/block_store.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

#include "bookformat/blockstore/zlib_stream.h"

namespace fvx::format {

// Scratch of one compressing thread.
struct CBlockStore::Worker {
  BlockDeflater deflater;
  std::vector<uint8_t> filtered;
  std::vector<uint8_t> trial;
};

// One block waiting in a batch, and its result once compressed.
struct CBlockStore::Slot {
  std::vector<uint8_t> data;
  std::vector<uint8_t> compressed;
  size_t size = 0;
  BlockFilter filter = BlockFilter::kNone;
  bool ok = false;
};

namespace {

constexpr int kMaxWorkers = 16;
// Bytes of input each worker takes per batch: large enough that starting the
// threads costs next to nothing, small enough to keep memory modest.
constexpr size_t kBatchBytesPerWorker = 256 * 1024;

}  // namespace

CBlockStore::CBlockStore(uint32_t block_size, StreamWriter* output, int worker_threads)
    : block_size_(block_size), output_(output) {
  if (block_size_ == 0) {
    ok_ = false;
    return;
  }
  const int workers = std::clamp(worker_threads, 1, kMaxWorkers);
  const size_t capacity = BlockOutputCapacity(block_size_);
  for (int i = 0; i < workers; ++i) {
    auto worker = std::make_unique<Worker>();
    if (!worker->deflater.ok()) ok_ = false;
    worker->filtered.resize(block_size_);
    worker->trial.resize(capacity);
    workers_.push_back(std::move(worker));
  }
  size_t batch = 1;
  if (workers > 1) {
    batch = std::max<size_t>(2, kBatchBytesPerWorker / block_size_) * static_cast<size_t>(workers);
  }
  slots_.resize(batch);
  for (Slot& slot : slots_) {
    slot.data.assign(block_size_, 0);
    slot.compressed.resize(capacity);
  }
  buffer_.assign(block_size_, 0);
}

CBlockStore::~CBlockStore() = default;

bool CBlockStore::Fail() {
  ok_ = false;
  return false;
}

bool CBlockStore::Append(const void* data, size_t count) {
  if (!ok_) return false;
  if (count == 0) return true;
  if (data == nullptr) return Fail();
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  data_bytes_ += count;
  while (count > 0) {
    if (fill_ == block_size_ && !QueueBuffer()) return false;
    const size_t piece = std::min<size_t>(count, block_size_ - fill_);
    std::memcpy(buffer_.data() + fill_, bytes, piece);
    fill_ += piece;
    bytes += piece;
    count -= piece;
  }
  return true;
}

// Moves the block buffer into the batch (the whole B bytes, zero padding
// included) and compresses the batch once it is full.
bool CBlockStore::QueueBuffer() {
  Slot& slot = slots_[pending_++];
  slot.data.swap(buffer_);
  std::fill(buffer_.begin(), buffer_.end(), uint8_t{0});
  fill_ = 0;
  if (pending_ == slots_.size()) return ProcessBatch();
  return true;
}

bool CBlockStore::Flush() {
  if (!ok_) return false;
  if (fill_ > 0 && !QueueBuffer()) return false;
  return ProcessBatch();
}

bool CBlockStore::CompressSlot(Worker& worker, Slot& slot) {
  slot.ok = false;
  const size_t capacity = slot.compressed.size();
  bool have_best = false;
  for (BlockFilter filter : kFilterTrialOrder) {
    if (!FilterApplies(filter, block_size_)) break;
    const uint8_t* input = slot.data.data();
    if (filter != BlockFilter::kNone) {
      if (!ApplyFilter(filter, slot.data.data(), worker.filtered.data(), block_size_)) break;
      input = worker.filtered.data();
    }
    // Only a strictly smaller result can win, so a trial gets one byte less
    // room than the best so far and stops as soon as it cannot win.
    const size_t room = have_best ? slot.size - 1 : capacity;
    if (room == 0) break;
    size_t size = 0;
    switch (worker.deflater.Compress(input, block_size_, worker.trial.data(), room, &size)) {
      case BlockDeflater::Result::kError: return false;
      case BlockDeflater::Result::kTooBig: continue;
      case BlockDeflater::Result::kDone: break;
    }
    worker.trial.swap(slot.compressed);
    // The swapped-in buffer must keep the full room for the next trial.
    if (worker.trial.size() < capacity) worker.trial.resize(capacity);
    slot.size = size;
    slot.filter = filter;
    have_best = true;
  }
  slot.ok = have_best;
  return have_best;
}

bool CBlockStore::ProcessBatch() {
  if (!ok_) return false;
  if (pending_ == 0) return true;
  const size_t count = pending_;
  pending_ = 0;

  const size_t worker_count = std::min(workers_.size(), count);
  auto run = [this, count, worker_count](size_t w) {
    for (size_t i = w; i < count; i += worker_count) CompressSlot(*workers_[w], slots_[i]);
  };
  std::vector<std::thread> threads;
  size_t started = 1;
  for (size_t w = 1; w < worker_count; ++w) {
    try {
      threads.emplace_back(run, w);
      ++started;
    } catch (const std::system_error&) {
      break;  // no thread to be had: the calling thread does that share
    }
  }
  if (started == worker_count) {
    run(0);
  } else {
    // Fewer threads than planned: let the calling thread take the rest.
    for (size_t i = 0; i < count; ++i) {
      const size_t w = i % worker_count;
      if (w == 0 || w >= started) CompressSlot(*workers_[0], slots_[i]);
    }
  }
  for (std::thread& thread : threads) thread.join();

  for (size_t i = 0; i < count; ++i) {
    const Slot& slot = slots_[i];
    if (!slot.ok) return Fail();
    if (output_ != nullptr) {
      descriptors_.push_back({output_->Position(), slot.filter});
      if (!output_->WriteBytes(slot.compressed.data(), slot.size)) return Fail();
    }
    compressed_bytes_ += slot.size;
    ++block_count_;
  }
  return true;
}

bool CBlockStore::WriteBlockTable(uint64_t* table_position) {
  if (output_ == nullptr) return Fail();
  if (!Flush()) return false;
  const uint64_t table = output_->Position();
  for (const BlockDescriptor& block : descriptors_) {
    if (!output_->WriteOff(block.position) || !output_->WriteU8(FilterCode(block.filter))) {
      return Fail();
    }
  }
  if (!output_->WriteOff(table)) return Fail();
  *table_position = table;
  return true;
}

}  // namespace fvx::format
