#include "bookformat/blockstore/block_cache.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <random>

#include "bookformat/container.h"
#include "platform/scratch_file.h"

namespace fvx::format {
namespace {

// Counts the reads that reach the bytes, to tell cache hits from misses.
class CountingSource final : public ByteSource {
 public:
  CountingSource(std::string bytes, int* reads) : inner_(std::move(bytes)), reads_(reads) {}
  uint64_t Size() const override { return inner_.Size(); }
  bool ReadAt(uint64_t position, void* out, size_t count) const override {
    ++*reads_;
    return inner_.ReadAt(position, out, count);
  }

 private:
  MemoryByteSource inner_;
  int* reads_;
};

// A book file whose stream is the bytes given.
void OpenStream(BookFile* file, const std::string& stream, int* reads) {
  std::string bytes = *EncodeContainerHeader("test", 0, stream.size()) + stream;
  bytes.append(kTrailingRecordSize, '\0');
  FormatError error;
  ASSERT_TRUE(file->Open(std::make_unique<CountingSource>(std::move(bytes), reads), &error))
      << error.reason;
}

struct StoreStream {
  std::string stream;
  uint64_t table = 0;
};

// One store at the start of a stream, preceded by `lead` filler bytes.
StoreStream WriteStore(const std::string& data, uint32_t block_size, OffsetWidth width,
                       size_t lead = 3) {
  platform::File file = platform::CreateScratchFile("fvxtest");
  StoreStream result;
  {
    StreamWriter writer(&file);
    writer.SetOffsetWidth(width);
    EXPECT_TRUE(writer.WriteZeros(lead));
    CBlockStore store(block_size, &writer);
    EXPECT_TRUE(store.Append(data.data(), data.size()));
    EXPECT_TRUE(store.WriteBlockTable(&result.table));
    EXPECT_TRUE(writer.Flush());
  }
  result.stream.resize(static_cast<size_t>(*file.Size()));
  EXPECT_TRUE(file.ReadAt(0, result.stream.data(), result.stream.size()));
  return result;
}

std::string Numbers(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string data;
  uint32_t value = 0;
  for (size_t i = 0; i < count; ++i) PutU32(&data, value += random() % 100);
  return data;
}

class BlockCacheTest : public ::testing::Test {
 protected:
  int reads_ = 0;
  BookFile file_;
};

TEST_F(BlockCacheTest, FetchesEveryBlockAsWritten) {
  for (OffsetWidth width : {OffsetWidth::kNarrow, OffsetWidth::kWide}) {
    const std::string data = Numbers(5000, 1);  // 20000 bytes, 10 blocks
    const StoreStream store = WriteStore(data, kTableBlockSize, width);
    OpenStream(&file_, store.stream, &reads_);
    BlockCache cache(&file_, width, kTableBlockSize, kTableCacheBlocks);
    for (uint64_t k : {3, 0, 9, 5, 9}) {
      const uint8_t* block = cache.Fetch(store.table, k);
      ASSERT_NE(block, nullptr) << k;
      std::string expected = data.substr(k * kTableBlockSize, kTableBlockSize);
      expected.resize(kTableBlockSize, '\0');
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), kTableBlockSize), expected);
    }
    EXPECT_EQ(cache.Fetch(store.table, 10), nullptr);  // past the last block
    uint32_t entry;
    ASSERT_TRUE(ReadTableU32(cache, store.table, 4999, &entry));
    EXPECT_EQ(entry, LoadU32(reinterpret_cast<const uint8_t*>(data.data()) + 4999 * 4));
    std::string range(5000, '\0');
    ASSERT_TRUE(ReadStoreBytes(cache, store.table, 1000, range.data(), range.size(), true));
    EXPECT_EQ(range, data.substr(1000, 5000));
  }
}

TEST_F(BlockCacheTest, WideEntryStraddlingTwoBlocksIsCompleted) {
  // Directory-like records of 20 bytes (OFF + three u32) in a wide book: the
  // OFF of record 102 starts at byte 2040 and the one of record 103 at 2060;
  // record 102's high word sits in the next block when the store starts 4
  // bytes later, at 2044.
  std::string data(4, '\x7F');
  for (uint64_t p = 0; p < 300; ++p) {
    PutOff(&data, 0x0000000300000000ull + p * 1000, OffsetWidth::kWide);
    PutU32(&data, 0);
    PutU32(&data, 16);
    PutU32(&data, 8);
  }
  const StoreStream store = WriteStore(data, kTableBlockSize, OffsetWidth::kWide);
  OpenStream(&file_, store.stream, &reads_);
  BlockCache cache(&file_, OffsetWidth::kWide, kTableBlockSize, kTableCacheBlocks);
  const uint64_t straddling = 4 + 102 * 20;
  ASSERT_EQ(straddling, 2044u);
  uint64_t value;
  ASSERT_TRUE(ReadStoreOff(cache, store.table, straddling, OffsetWidth::kWide, &value));
  EXPECT_EQ(value, 0x0000000300000000ull + 102000);
  // And a u32 table read through the same path, index by index.
  for (uint64_t p : {0, 101, 102, 103, 299}) {
    ASSERT_TRUE(ReadStoreOff(cache, store.table, 4 + p * 20, OffsetWidth::kWide, &value));
    EXPECT_EQ(value, 0x0000000300000000ull + p * 1000) << p;
  }
}

TEST_F(BlockCacheTest, HitsReadNothingEvenWhenTheCacheIsFull) {
  const std::string data = Numbers(kTableCacheBlocks * 16, 2);  // blocks of 64 bytes
  const StoreStream store = WriteStore(data, 64, OffsetWidth::kNarrow);
  OpenStream(&file_, store.stream, &reads_);
  BlockCache cache(&file_, OffsetWidth::kNarrow, 64, kTableCacheBlocks);
  for (uint64_t k = 0; k < kTableCacheBlocks; ++k) ASSERT_NE(cache.Fetch(store.table, k), nullptr);
  EXPECT_EQ(cache.NodeCount(), kTableCacheBlocks);
  const int before = reads_;
  std::mt19937 random(3);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t k = random() % kTableCacheBlocks;
    const uint8_t* block = cache.Fetch(store.table, k);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(LoadU32(block), LoadU32(reinterpret_cast<const uint8_t*>(data.data()) + k * 64));
  }
  EXPECT_EQ(reads_, before);
  EXPECT_EQ(cache.misses(), kTableCacheBlocks);
}

TEST_F(BlockCacheTest, TableBlocksStayWhileReuseFirstBlocksAreTaken) {
  const std::string data = Numbers(16 * 20, 4);  // 20 blocks of 64 bytes
  const StoreStream store = WriteStore(data, 64, OffsetWidth::kNarrow);
  OpenStream(&file_, store.stream, &reads_);
  BlockCache cache(&file_, OffsetWidth::kNarrow, 64, 4);
  // Two "table" blocks, used first (so least recently used), then content
  // blocks read through once with reuse-first.
  ASSERT_NE(cache.Fetch(store.table, 0), nullptr);
  ASSERT_NE(cache.Fetch(store.table, 1), nullptr);
  std::string buffer(64, '\0');
  for (uint64_t k = 10; k < 20; ++k) {
    ASSERT_TRUE(ReadStoreBytes(cache, store.table, k * 64, buffer.data(), 64, true));
    EXPECT_EQ(buffer, data.substr(k * 64, 64));
    EXPECT_TRUE(cache.IsCached(store.table, 0));
    EXPECT_TRUE(cache.IsCached(store.table, 1));
  }
  EXPECT_EQ(cache.NodeCount(), 4u);
  EXPECT_TRUE(cache.IsCached(store.table, 19));
  EXPECT_TRUE(cache.IsCached(store.table, 18));
  EXPECT_EQ(cache.StateOf(store.table, 19), BlockCache::ReuseState::kReuseFirst);

  // The least recently used state-2 node goes first, even when a state-2
  // node was used again since.
  ASSERT_NE(cache.Fetch(store.table, 18), nullptr);
  ASSERT_NE(cache.Fetch(store.table, 5), nullptr);
  EXPECT_FALSE(cache.IsCached(store.table, 19));
  EXPECT_TRUE(cache.IsCached(store.table, 18));

  // Without state-2 nodes, the least recently used state-1 node goes.
  cache.SetState(store.table, 18, BlockCache::ReuseState::kCached);
  ASSERT_NE(cache.Fetch(store.table, 6), nullptr);
  EXPECT_FALSE(cache.IsCached(store.table, 0));
  EXPECT_TRUE(cache.IsCached(store.table, 1));
}

TEST_F(BlockCacheTest, NodesThatAreNotReusableStayAndAFullCacheOfThemFails) {
  const std::string data = Numbers(16 * 8, 5);
  const StoreStream store = WriteStore(data, 64, OffsetWidth::kNarrow);
  OpenStream(&file_, store.stream, &reads_);
  BlockCache cache(&file_, OffsetWidth::kNarrow, 64, 2);
  ASSERT_NE(cache.Fetch(store.table, 0), nullptr);
  ASSERT_NE(cache.Fetch(store.table, 1), nullptr);
  cache.SetState(store.table, 0, BlockCache::ReuseState::kNotReusable);
  ASSERT_NE(cache.Fetch(store.table, 2), nullptr);  // takes block 1's node
  EXPECT_TRUE(cache.IsCached(store.table, 0));
  cache.SetState(store.table, 2, BlockCache::ReuseState::kNotReusable);
  EXPECT_EQ(cache.Fetch(store.table, 3), nullptr);
  EXPECT_NE(cache.Fetch(store.table, 0), nullptr);  // cached blocks still serve
}

// Hand-made stores for the failure cases: a stream of [blocks][table].
struct HandStore {
  std::string stream;
  uint64_t table;
};

HandStore MakeHandStore(const std::vector<std::string>& blocks, std::vector<uint8_t> codes,
                        std::vector<uint64_t> positions = {}) {
  HandStore store;
  store.stream = "xx";
  std::vector<uint64_t> at;
  for (const std::string& block : blocks) {
    at.push_back(store.stream.size());
    store.stream += block;
  }
  if (!positions.empty()) at = positions;
  store.table = store.stream.size();
  for (size_t k = 0; k < at.size(); ++k) {
    PutU32(&store.stream, static_cast<uint32_t>(at[k]));
    PutU8(&store.stream, codes[k]);
  }
  PutU32(&store.stream, static_cast<uint32_t>(store.table));
  return store;
}

std::string Deflate(const std::string& data) {
  std::string out(compressBound(data.size()), '\0');
  uLongf size = out.size();
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size,
                     reinterpret_cast<const Bytef*>(data.data()), data.size()),
            Z_OK);
  out.resize(size);
  return out;
}

TEST_F(BlockCacheTest, DamagedBlocksFailTheFetch) {
  const std::string good = Deflate(std::string(64, 'a'));
  struct Case {
    const char* what;
    HandStore store;
    bool fetches;
  };
  const HandStore base = MakeHandStore({good, good}, {3, 3});
  Case cases[] = {
      {"intact", base, true},
      {"next position below its own", MakeHandStore({good, good}, {3, 3}, {2 + 40, 2}), false},
      {"unknown filter code", MakeHandStore({good, good}, {4, 3}), false},
      {"flag bit 4 is ignored", MakeHandStore({good, good}, {0x13, 3}), true},
      {"short block", MakeHandStore({Deflate(std::string(63, 'a')), good}, {3, 3}), false},
      {"long block", MakeHandStore({Deflate(std::string(65, 'a')), good}, {3, 3}), false},
      {"broken adler", MakeHandStore({good.substr(0, good.size() - 1) + "!", good}, {3, 3}),
       false},
      {"position beyond the file", MakeHandStore({good, good}, {3, 3}, {1u << 30, (1u << 30) + 20}),
       false},
  };
  for (Case& c : cases) {
    reads_ = 0;
    OpenStream(&file_, c.store.stream, &reads_);
    BlockCache cache(&file_, OffsetWidth::kNarrow, 64, 4);
    EXPECT_EQ(cache.Fetch(c.store.table, 0) != nullptr, c.fetches) << c.what;
    // A failed fetch caches nothing.
    EXPECT_EQ(cache.IsCached(c.store.table, 0), c.fetches) << c.what;
  }
}

TEST_F(BlockCacheTest, HugeStoredSizeIsRefusedBeforeReading) {
  const std::string good = Deflate(std::string(64, 'a'));
  HandStore store = MakeHandStore({good}, {3});
  // Point the closing OFF far away: block 0's stored size becomes enormous.
  StoreU32(reinterpret_cast<uint8_t*>(store.stream.data()) + store.table + 5, 0x7FFFFFFF);
  OpenStream(&file_, store.stream, &reads_);
  BlockReader reader(&file_, OffsetWidth::kNarrow, 64);
  std::vector<uint8_t> out(64);
  const int before = reads_;
  EXPECT_FALSE(reader.Fetch(store.table, 0, out.data()));
  EXPECT_EQ(reads_, before + 1);  // the entries only
}

TEST_F(BlockCacheTest, BlockTableWalkChecksOrderAndClosingEntry) {
  const std::string good = Deflate(std::string(64, 'a'));
  const HandStore store = MakeHandStore({good, good, good}, {3, 0, 2});
  OpenStream(&file_, store.stream, &reads_);
  std::vector<BlockDescriptor> blocks;
  FormatError error;
  ASSERT_TRUE(ReadBlockTable(file_, OffsetWidth::kNarrow, store.table, 0, store.stream.size(),
                             &blocks, &error))
      << error.reason;
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].filter, BlockFilter::kSplit2);

  const HandStore backwards = MakeHandStore({good, good}, {3, 3}, {2 + good.size(), 2});
  OpenStream(&file_, backwards.stream, &reads_);
  EXPECT_FALSE(ReadBlockTable(file_, OffsetWidth::kNarrow, backwards.table, 0,
                              backwards.stream.size(), &blocks, &error));
  // Without its closing entry the walk stops at the limit.
  error = {};
  OpenStream(&file_, store.stream, &reads_);
  EXPECT_FALSE(ReadBlockTable(file_, OffsetWidth::kNarrow, store.table, 0,
                              store.stream.size() - 1, &blocks, &error));
  EXPECT_EQ(error.status, OpenStatus::kDamaged);
}

}  // namespace
}  // namespace fvx::format
