#include "bookformat/blockstore/filters.h"

#include <cstring>

namespace fvx::format {
namespace {

size_t GroupSize(BlockFilter filter) {
  switch (filter) {
    case BlockFilter::kSplit2: return 2;
    case BlockFilter::kPlanes4: return 4;
    case BlockFilter::kPlanes8: return 8;
    case BlockFilter::kNone: return 1;
  }
  return 1;
}

// Byte j of group i goes to plane j; order[j] names the plane's place, so the
// split filter is the 2-byte plane filter with its planes swapped.
template <size_t kGroup>
void ToPlanes(const uint8_t* in, uint8_t* out, size_t count, const size_t (&order)[kGroup]) {
  const size_t groups = count / kGroup;
  for (size_t j = 0; j < kGroup; ++j) {
    uint8_t* plane = out + order[j] * groups;
    const uint8_t* from = in + j;
    for (size_t i = 0; i < groups; ++i) plane[i] = from[i * kGroup];
  }
}

template <size_t kGroup>
void FromPlanes(const uint8_t* in, uint8_t* out, size_t count, const size_t (&order)[kGroup]) {
  const size_t groups = count / kGroup;
  for (size_t j = 0; j < kGroup; ++j) {
    const uint8_t* plane = in + order[j] * groups;
    uint8_t* to = out + j;
    for (size_t i = 0; i < groups; ++i) to[i * kGroup] = plane[i];
  }
}

constexpr size_t kSplitOrder[2] = {1, 0};
constexpr size_t kPlane4Order[4] = {0, 1, 2, 3};
constexpr size_t kPlane8Order[8] = {0, 1, 2, 3, 4, 5, 6, 7};

}  // namespace

std::optional<BlockFilter> FilterFromCode(uint8_t code) {
  switch (code & 0x0F) {
    case 0: return BlockFilter::kSplit2;
    case 1: return BlockFilter::kPlanes4;
    case 2: return BlockFilter::kPlanes8;
    case 3: return BlockFilter::kNone;
    default: return std::nullopt;
  }
}

bool FilterApplies(BlockFilter filter, size_t count) { return count % GroupSize(filter) == 0; }

bool ApplyFilter(BlockFilter filter, const uint8_t* in, uint8_t* out, size_t count) {
  if (!FilterApplies(filter, count)) return false;
  switch (filter) {
    case BlockFilter::kNone:
      if (count) std::memcpy(out, in, count);
      break;
    case BlockFilter::kSplit2: ToPlanes(in, out, count, kSplitOrder); break;
    case BlockFilter::kPlanes4: ToPlanes(in, out, count, kPlane4Order); break;
    case BlockFilter::kPlanes8: ToPlanes(in, out, count, kPlane8Order); break;
  }
  return true;
}

bool InverseFilter(BlockFilter filter, const uint8_t* in, uint8_t* out, size_t count) {
  if (!FilterApplies(filter, count)) return false;
  switch (filter) {
    case BlockFilter::kNone:
      if (count) std::memcpy(out, in, count);
      break;
    case BlockFilter::kSplit2: FromPlanes(in, out, count, kSplitOrder); break;
    case BlockFilter::kPlanes4: FromPlanes(in, out, count, kPlane4Order); break;
    case BlockFilter::kPlanes8: FromPlanes(in, out, count, kPlane8Order); break;
  }
  return true;
}

}  // namespace fvx::format
