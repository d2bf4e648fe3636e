// Book ids and URL keys: the 40-character names under which the registry
// keeps what it knows about a book or a download.
//
// A book id is the header's integrity digest (20 bytes) read as five
// big-endian u32 words, each written as eight upper-case hexadecimal digits
// from its lowest nibble to its highest (0x01234567 gives "76543210"). URL
// keys, in contrast, use the usual "%08X" per word. It can be read from a closed
// file without parsing the book:
//
//   file[60..68)  "FVXDFVXC"      file[76..78) u16 records > 0
//   file[78..82)  u32 B           stream start
//   file[B + 5]   version         1 or 2
//   digest        file[B + 61 ..) in version 1, file[B + 66 ..) in version 2
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bookformat/byte_source.h"
#include "bookformat/sections.h"
#include "platform/sha1.h"

namespace fvx::format {

// The five words of the digest, each written lowest nibble first, joined.
std::string BookIdFromDigest(const uint8_t* digest);
std::string BookIdOf(const HeaderSection& header);

// The book id of a book file, or nullopt when it cannot be read, is not a
// book or is too short.
std::optional<std::string> BookIdOfFile(const std::string& path);
std::optional<std::string> BookIdOfSource(const ByteSource& source);

// SHA-1 of a download address, 40 upper-case hex digits.
std::string UrlKey(std::string_view url);

// SHA-1 of the stream bytes [from, to), read in 16384-byte pieces, while the
// digest's own 20 bytes are taken as zero when they lie in the range (so the
// digest of a sealed book can be checked in place). stream_start is where
// the stream begins in the source.
[[nodiscard]] bool ComputeStreamDigest(const ByteSource& source, uint64_t stream_start,
                                       uint64_t from, uint64_t to, uint64_t digest_position,
                                       platform::Sha1Digest* digest);

}  // namespace fvx::format
