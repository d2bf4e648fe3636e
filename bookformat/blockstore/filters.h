// The four byte filters applied to a block before compression, and their
// inverses. Interleaved numbers (u16 tables, u32 offsets, doubles) compress
// far better once the bytes of equal significance stand side by side.
//
//   code 3  none
//   code 0  2-byte split:  bytes 1,3,5,... then bytes 0,2,4,...
//   code 1  4-byte planes: byte 0 of every group, then byte 1, 2, 3
//   code 2  8-byte planes: as code 1 with 8-byte groups
//
// The 2-byte split puts the SECOND byte of each pair first, the plane filters
// the first byte of each group; stored books depend on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace fvx::format {

enum class BlockFilter : uint8_t {
  kSplit2 = 0,
  kPlanes4 = 1,
  kPlanes8 = 2,
  kNone = 3,
};

// The order in which a block store tries them; on equal sizes the earlier wins.
inline constexpr BlockFilter kFilterTrialOrder[] = {BlockFilter::kNone, BlockFilter::kSplit2,
                                                    BlockFilter::kPlanes4, BlockFilter::kPlanes8};

// The low four bits of a stored code byte select the filter; bit 4 is a flag
// that books leave clear and readers ignore. Unknown filters give nullopt.
std::optional<BlockFilter> FilterFromCode(uint8_t code);
inline uint8_t FilterCode(BlockFilter filter) { return static_cast<uint8_t>(filter); }

// True when the filter can work on count bytes (a whole number of groups).
bool FilterApplies(BlockFilter filter, size_t count);

// REQUIRES: in and out do not overlap and hold count bytes. Both return
// false, writing nothing, when FilterApplies() is false.
[[nodiscard]] bool ApplyFilter(BlockFilter filter, const uint8_t* in, uint8_t* out, size_t count);
[[nodiscard]] bool InverseFilter(BlockFilter filter, const uint8_t* in, uint8_t* out, size_t count);

}  // namespace fvx::format
