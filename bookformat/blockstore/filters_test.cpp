#include "bookformat/blockstore/filters.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace fvx::format {
namespace {

std::vector<uint8_t> Iota(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

std::vector<uint8_t> Apply(BlockFilter filter, const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(in.size());
  EXPECT_TRUE(ApplyFilter(filter, in.data(), out.data(), in.size()));
  return out;
}

TEST(FiltersTest, LayoutsOfEachFilter) {
  const std::vector<uint8_t> in = Iota(16);
  // The split filter puts the SECOND byte of each pair first.
  EXPECT_EQ(Apply(BlockFilter::kSplit2, in),
            (std::vector<uint8_t>{1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10, 12, 14}));
  EXPECT_EQ(Apply(BlockFilter::kPlanes4, in),
            (std::vector<uint8_t>{0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15}));
  EXPECT_EQ(Apply(BlockFilter::kPlanes8, in),
            (std::vector<uint8_t>{0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15}));
  EXPECT_EQ(Apply(BlockFilter::kNone, in), in);
}

TEST(FiltersTest, EveryInverseUndoesItsFilter) {
  std::mt19937 random(7);
  std::vector<uint8_t> in(16384);
  for (uint8_t& byte : in) byte = static_cast<uint8_t>(random());
  for (BlockFilter filter : kFilterTrialOrder) {
    const std::vector<uint8_t> filtered = Apply(filter, in);
    std::vector<uint8_t> back(in.size());
    ASSERT_TRUE(InverseFilter(filter, filtered.data(), back.data(), back.size()));
    EXPECT_EQ(back, in) << "filter " << int(FilterCode(filter));
  }
}

TEST(FiltersTest, SizesThatAreNotWholeGroupsAreRefused) {
  std::vector<uint8_t> in = Iota(12), out(12);
  EXPECT_TRUE(ApplyFilter(BlockFilter::kPlanes4, in.data(), out.data(), 12));
  EXPECT_FALSE(ApplyFilter(BlockFilter::kPlanes8, in.data(), out.data(), 12));
  EXPECT_FALSE(InverseFilter(BlockFilter::kSplit2, in.data(), out.data(), 11));
}

TEST(FiltersTest, CodesUseTheLowFourBits) {
  EXPECT_EQ(FilterFromCode(3), BlockFilter::kNone);
  EXPECT_EQ(FilterFromCode(0), BlockFilter::kSplit2);
  EXPECT_EQ(FilterFromCode(1), BlockFilter::kPlanes4);
  EXPECT_EQ(FilterFromCode(2), BlockFilter::kPlanes8);
  EXPECT_EQ(FilterFromCode(0x11), BlockFilter::kPlanes4);  // bit 4 is a flag
  for (uint8_t code : {4, 7, 15, 0x1F}) EXPECT_FALSE(FilterFromCode(code)) << int(code);
}

}  // namespace
}  // namespace fvx::format
