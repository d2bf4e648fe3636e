#include "bookformat/blockstore/block_store.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "bookformat/blockstore/zlib_stream.h"
#include "bookformat/coding.h"
#include "platform/scratch_file.h"

namespace fvx::format {
namespace {

// The plain sequence the fast paths must match byte for byte: four trials
// into the full room, each with a freshly initialised stream, then a fifth
// compression of the winner.
std::string PlainCompress(const std::vector<uint8_t>& block, BlockFilter* chosen) {
  const size_t capacity = BlockOutputCapacity(block.size());
  auto compress = [&](const std::vector<uint8_t>& input, std::string* out) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 14, 8, Z_DEFAULT_STRATEGY), Z_OK);
    out->assign(capacity, '\0');
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = reinterpret_cast<Bytef*>(out->data());
    stream.avail_out = static_cast<uInt>(capacity);
    const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    out->resize(stream.total_out);
    deflateEnd(&stream);
    return done;
  };
  size_t best = SIZE_MAX;
  std::vector<uint8_t> filtered(block.size());
  for (BlockFilter filter : kFilterTrialOrder) {
    if (!ApplyFilter(filter, block.data(), filtered.data(), block.size())) break;
    std::string out;
    if (compress(filtered, &out) && out.size() < best) {
      best = out.size();
      *chosen = filter;
    }
  }
  EXPECT_TRUE(ApplyFilter(*chosen, block.data(), filtered.data(), block.size()));
  std::string out;
  EXPECT_TRUE(compress(filtered, &out));
  return out;
}

// The bytes a store must write for data: every block compressed the plain
// way, then the block table.
std::string PlainStore(const std::string& data, uint32_t block_size, OffsetWidth width) {
  std::string blocks;
  std::vector<std::pair<uint64_t, uint8_t>> entries;
  for (size_t at = 0; at < data.size(); at += block_size) {
    std::vector<uint8_t> block(block_size, 0);
    const size_t piece = std::min<size_t>(block_size, data.size() - at);
    std::copy(data.begin() + at, data.begin() + at + piece, block.begin());
    BlockFilter filter = BlockFilter::kNone;
    const std::string compressed = PlainCompress(block, &filter);
    entries.push_back({blocks.size(), FilterCode(filter)});
    blocks += compressed;
  }
  const uint64_t table = blocks.size();
  for (const auto& [position, code] : entries) {
    PutOff(&blocks, position, width);
    PutU8(&blocks, code);
  }
  PutOff(&blocks, table, width);
  return blocks;
}

std::string Contents(const platform::File& file) {
  std::string bytes(static_cast<size_t>(*file.Size()), '\0');
  EXPECT_TRUE(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

struct Written {
  std::string bytes;
  uint64_t table = 0;
  uint64_t blocks = 0;
  uint64_t compressed = 0;
  std::vector<BlockDescriptor> descriptors;
};

Written WriteStore(const std::string& data, uint32_t block_size, int threads = 1,
                   OffsetWidth width = OffsetWidth::kNarrow, size_t piece = 0) {
  platform::File file = platform::CreateScratchFile("fvxtest");
  Written result;
  {
    StreamWriter writer(&file);
    writer.SetOffsetWidth(width);
    CBlockStore store(block_size, &writer, threads);
    if (piece == 0) piece = data.size() + 1;
    for (size_t at = 0; at < data.size(); at += piece) {
      EXPECT_TRUE(store.Append(data.data() + at, std::min(piece, data.size() - at)));
    }
    EXPECT_TRUE(store.Flush());
    EXPECT_TRUE(store.WriteBlockTable(&result.table));
    EXPECT_TRUE(writer.Flush());
    result.blocks = store.BlockCount();
    result.compressed = store.CompressedBytes();
    result.descriptors = store.descriptors();
  }
  result.bytes = Contents(file);
  return result;
}

std::vector<uint8_t> Inflate(const std::string& stored, size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  uLongf size = out.size();
  EXPECT_EQ(uncompress(out.data(), &size, reinterpret_cast<const Bytef*>(stored.data()),
                       stored.size()),
            Z_OK);
  out.resize(size);
  return out;
}

// Data of many shapes: prose, counters, doubles, noise, runs, and mixtures.
std::string VariedData(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* kWords[] = {"the ", "book ", "of ", "subjects ", "heading ", "and ",
                                 "categories ", "value ", "link ", "picture "};
  std::string data;
  while (data.size() < size) {
    switch (random() % 6) {
      case 0:
        for (int i = 0; i < 300; ++i) data += kWords[random() % 10];
        break;
      case 1: {
        uint32_t value = random() % 1000;
        for (int i = 0; i < 400; ++i) PutU32(&data, value += random() % 50);
        break;
      }
      case 2:
        for (int i = 0; i < 200; ++i) PutDouble(&data, (random() % 100000) / 100.0);
        break;
      case 3:
        for (int i = 0; i < 700; ++i) data += static_cast<char>(random());
        break;
      case 4:
        data.append(random() % 3000, static_cast<char>(random() % 4));
        break;
      default: {
        uint16_t value = static_cast<uint16_t>(random());
        for (int i = 0; i < 500; ++i) PutU16(&data, value += random() % 7);
      }
    }
  }
  data.resize(size);
  return data;
}

TEST(BlockStoreTest, FastPathsWriteExactlyThePlainBytes) {
  std::set<BlockFilter> chosen;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    for (uint32_t block_size : {kTableBlockSize, kContentBlockSize}) {
      const std::string data = VariedData(block_size * 9 + seed * 77, seed);
      const std::string expected = PlainStore(data, block_size, OffsetWidth::kNarrow);
      for (int threads : {1, 2, 3}) {
        const Written written = WriteStore(data, block_size, threads);
        ASSERT_EQ(written.bytes, expected)
            << "seed " << seed << " block " << block_size << " threads " << threads;
        EXPECT_EQ(written.blocks, 10u);
        for (const BlockDescriptor& block : written.descriptors) chosen.insert(block.filter);
      }
    }
  }
  // The data must make every filter win somewhere, or the trials are untested.
  EXPECT_EQ(chosen.size(), 4u);
}

TEST(BlockStoreTest, OddBlockSizesEndTheTrialAtTheFirstFilterThatCannotApply) {
  // 1002 bytes: the split filter applies, the plane filters do not.
  const std::string data = VariedData(5000, 11);
  EXPECT_EQ(WriteStore(data, 1002).bytes, PlainStore(data, 1002, OffsetWidth::kNarrow));
  EXPECT_EQ(WriteStore(data, 1002, 2, OffsetWidth::kWide).bytes,
            PlainStore(data, 1002, OffsetWidth::kWide));
}

TEST(BlockStoreTest, AppendInSmallPiecesGivesTheSameStore) {
  const std::string data = VariedData(kTableBlockSize * 5 + 3, 5);
  EXPECT_EQ(WriteStore(data, kTableBlockSize, 1, OffsetWidth::kNarrow, 7).bytes,
            WriteStore(data, kTableBlockSize).bytes);
  EXPECT_EQ(WriteStore(data, kTableBlockSize, 2, OffsetWidth::kNarrow, 7).bytes,
            WriteStore(data, kTableBlockSize).bytes);
}

TEST(BlockStoreTest, ExactMultipleOfTheBlockSizeWritesNoEmptyBlock) {
  const std::string data = VariedData(kTableBlockSize * 3, 2);
  const Written written = WriteStore(data, kTableBlockSize);
  EXPECT_EQ(written.blocks, 3u);
  // Three entries of OFF + code, then the closing OFF.
  EXPECT_EQ(written.bytes.size() - written.table, 3u * 5 + 4);
}

TEST(BlockStoreTest, OneByteLastBlockIsCompressedAtFullSize) {
  std::string data = VariedData(kTableBlockSize, 3) + "Q";
  const Written written = WriteStore(data, kTableBlockSize);
  ASSERT_EQ(written.blocks, 2u);
  ASSERT_EQ(written.descriptors[1].filter, BlockFilter::kNone);
  const std::string last =
      written.bytes.substr(written.descriptors[1].position,
                           written.table - written.descriptors[1].position);
  const std::vector<uint8_t> block = Inflate(last, kTableBlockSize);
  ASSERT_EQ(block.size(), kTableBlockSize);
  EXPECT_EQ(block[0], 'Q');
  EXPECT_EQ(std::count(block.begin() + 1, block.end(), 0), kTableBlockSize - 1);
}

TEST(BlockStoreTest, AllZeroBlockKeepsFilterCodeThree) {
  const Written written = WriteStore(std::string(kContentBlockSize, '\0'), kContentBlockSize);
  ASSERT_EQ(written.blocks, 1u);
  EXPECT_EQ(static_cast<uint8_t>(written.bytes[written.table + 4]), 3);
}

TEST(BlockStoreTest, BlocksUseWindowBitsFourteen) {
  const Written written = WriteStore(VariedData(5000, 4), kTableBlockSize);
  for (const BlockDescriptor& block : written.descriptors) {
    // CMF 0x68: deflate with a 2^14 window; FLG 0x81 marks the default level.
    EXPECT_EQ(static_cast<uint8_t>(written.bytes[block.position]), 0x68);
    EXPECT_EQ(static_cast<uint8_t>(written.bytes[block.position + 1]), 0x81);
  }
}

TEST(BlockStoreTest, TableEntriesAreOffsetAndCodeThenTheTableItself) {
  // Interleaved u16 values favour a byte filter, so not every code is 3.
  std::string data;
  for (uint32_t i = 0; i < 3000; ++i) PutU32(&data, i * 3);
  for (OffsetWidth width : {OffsetWidth::kNarrow, OffsetWidth::kWide}) {
    const Written written = WriteStore(data, kTableBlockSize, 1, width);
    const size_t w = OffsetBytes(width);
    const auto* table = reinterpret_cast<const uint8_t*>(written.bytes.data()) + written.table;
    ASSERT_EQ(written.bytes.size() - written.table, written.blocks * (w + 1) + w);
    for (size_t k = 0; k < written.blocks; ++k) {
      EXPECT_EQ(LoadOff(table + k * (w + 1), width), written.descriptors[k].position);
      EXPECT_EQ(table[k * (w + 1) + w], FilterCode(written.descriptors[k].filter));
    }
    EXPECT_EQ(LoadOff(table + written.blocks * (w + 1), width), written.table);
    EXPECT_NE(written.descriptors[0].filter, BlockFilter::kNone);
    EXPECT_EQ(written.compressed, written.table);
  }
}

TEST(BlockStoreTest, EmptyStoreIsOnlyItsTablePosition) {
  const Written written = WriteStore("", kTableBlockSize);
  EXPECT_EQ(written.blocks, 0u);
  EXPECT_EQ(written.table, 0u);
  EXPECT_EQ(written.bytes, std::string(4, '\0'));
}

TEST(BlockStoreTest, MeasuringStoreCountsWithoutWriting) {
  const std::string data = VariedData(kContentBlockSize * 2 + 10, 9);
  const Written written = WriteStore(data, kContentBlockSize);
  for (int threads : {1, 2}) {
    CBlockStore measure(kContentBlockSize, nullptr, threads);
    ASSERT_TRUE(measure.Append(data.data(), data.size()));
    ASSERT_TRUE(measure.Flush());
    EXPECT_EQ(measure.BlockCount(), 3u);
    EXPECT_EQ(measure.CompressedBytes(), written.compressed);
    uint64_t table;
    EXPECT_FALSE(measure.WriteBlockTable(&table));  // nowhere to write it
  }
}

TEST(BlockStoreTest, NullDataFailsAndTheFailureSticks) {
  CBlockStore store(kTableBlockSize, nullptr);
  EXPECT_TRUE(store.Append(nullptr, 0));
  EXPECT_FALSE(store.Append(nullptr, 1));
  EXPECT_FALSE(store.Append("x", 1));
  EXPECT_FALSE(store.Flush());
}

TEST(BlockStoreTest, AFailingOutputFailsTheStore) {
  platform::File closed;
  StreamWriter writer(&closed);
  CBlockStore store(kTableBlockSize, &writer);
  const std::string data = VariedData(kTableBlockSize * 2, 1);
  EXPECT_TRUE(store.Append(data.data(), data.size()));
  // The writer gathers small writes; the failure shows once they reach the file.
  uint64_t table;
  EXPECT_FALSE(store.WriteBlockTable(&table) && writer.Flush());
}

}  // namespace
}  // namespace fvx::format
