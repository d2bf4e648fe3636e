// Block store speed: compression MB/s on text-like and incompressible data
// (one and two threads), and the cost of a cached and an uncached block fetch.
//   build/bench/fvx_block_store_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/blockstore/block_store.h"
#include "bookformat/container.h"
#include "platform/scratch_file.h"

namespace fvx::format {
namespace {

std::string TextLike(size_t size) {
  static const char* kWords[] = {"the ", "reference ", "book ", "of ", "subjects ", "with ",
                                 "headings ", "and ", "categories ", "values ", "links ",
                                 "pictures ", "anchor ", "selection ", "<b>", "</b>", "\n"};
  std::mt19937 random(1);
  std::string text;
  text.reserve(size + 16);
  while (text.size() < size) text += kWords[random() % 17];
  text.resize(size);
  return text;
}

std::string Noise(size_t size) {
  std::mt19937_64 random(2);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

void Compress(benchmark::State& state, const std::string& data, uint32_t block_size,
              bool with_output) {
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    platform::File file = platform::CreateScratchFile("fvxbench");
    StreamWriter writer(&file);
    CBlockStore store(block_size, with_output ? &writer : nullptr, threads);
    bool ok = store.Append(data.data(), data.size()) && store.Flush();
    uint64_t table;
    if (with_output) ok = ok && store.WriteBlockTable(&table) && writer.Flush();
    if (!ok) state.SkipWithError("store failed");
    benchmark::DoNotOptimize(store.CompressedBytes());
    state.counters["ratio"] =
        static_cast<double>(store.CompressedBytes()) / static_cast<double>(data.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

constexpr size_t kDataSize = 8 << 20;

void BM_ContentStoreText(benchmark::State& state) {
  static const std::string data = TextLike(kDataSize);
  Compress(state, data, kContentBlockSize, true);
}
void BM_ContentStoreNoise(benchmark::State& state) {
  static const std::string data = Noise(kDataSize);
  Compress(state, data, kContentBlockSize, true);
}
void BM_TableStoreText(benchmark::State& state) {
  static const std::string data = TextLike(kDataSize / 4);
  Compress(state, data, kTableBlockSize, true);
}
void BM_MeasuringStoreText(benchmark::State& state) {
  static const std::string data = TextLike(kDataSize);
  Compress(state, data, kContentBlockSize, false);
}
BENCHMARK(BM_ContentStoreText)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ContentStoreNoise)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TableStoreText)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MeasuringStoreText)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A book file in memory holding one store of the given data.
struct StoreFile {
  BookFile file;
  uint64_t table = 0;
  uint64_t blocks = 0;
};

std::unique_ptr<StoreFile> MakeStoreFile(const std::string& data, uint32_t block_size) {
  auto result = std::make_unique<StoreFile>();
  platform::File scratch = platform::CreateScratchFile("fvxbench");
  {
    StreamWriter writer(&scratch);
    CBlockStore store(block_size, &writer);
    if (!store.Append(data.data(), data.size()) || !store.WriteBlockTable(&result->table) ||
        !writer.Flush()) {
      return nullptr;
    }
    result->blocks = store.BlockCount();
  }
  std::string stream(static_cast<size_t>(*scratch.Size()), '\0');
  if (!scratch.ReadAt(0, stream.data(), stream.size())) return nullptr;
  std::string bytes = *EncodeContainerHeader("bench", 0, stream.size()) + stream;
  bytes.append(kTrailingRecordSize, '\0');
  FormatError error;
  if (!result->file.Open(std::make_unique<MemoryByteSource>(std::move(bytes)), &error)) {
    return nullptr;
  }
  return result;
}

void Fetch(benchmark::State& state, uint32_t block_size, bool cached) {
  static const std::string data = TextLike(4 << 20);
  const std::unique_ptr<StoreFile> store = MakeStoreFile(data, block_size);
  if (!store) {
    state.SkipWithError("cannot build the store");
    return;
  }
  // A cache of one node misses on every change of block.
  BlockCache cache(&store->file, OffsetWidth::kNarrow, block_size,
                   cached ? kTableCacheBlocks : 1);
  uint64_t k = 0;
  for (auto _ : state) {
    const uint8_t* bytes = cache.Fetch(store->table, k);
    benchmark::DoNotOptimize(bytes);
    k = (k + 7) % (cached ? std::min<uint64_t>(store->blocks, kTableCacheBlocks) : store->blocks);
  }
  state.counters["misses"] = static_cast<double>(cache.misses());
}

void BM_FetchCachedTableBlock(benchmark::State& state) { Fetch(state, kTableBlockSize, true); }
void BM_FetchUncachedTableBlock(benchmark::State& state) { Fetch(state, kTableBlockSize, false); }
void BM_FetchCachedContentBlock(benchmark::State& state) { Fetch(state, kContentBlockSize, true); }
void BM_FetchUncachedContentBlock(benchmark::State& state) {
  Fetch(state, kContentBlockSize, false);
}
BENCHMARK(BM_FetchCachedTableBlock);
BENCHMARK(BM_FetchUncachedTableBlock);
BENCHMARK(BM_FetchCachedContentBlock);
BENCHMARK(BM_FetchUncachedContentBlock);

}  // namespace
}  // namespace fvx::format

BENCHMARK_MAIN();
