#include "bookformat/book_id.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bookformat/book_file.h"

namespace fvx::format {

std::string BookIdFromDigest(const uint8_t* digest) {
  // Each word's hexadecimal digits run from its lowest nibble to its highest:
  // the word 0x01234567 is written "76543210". Every registry entry of a book
  // is named this way, so the order must never change.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string id;
  id.reserve(40);
  for (size_t word = 0; word < 5; ++word) {
    uint32_t value = (uint32_t{digest[4 * word]} << 24) | (uint32_t{digest[4 * word + 1]} << 16) |
                     (uint32_t{digest[4 * word + 2]} << 8) | uint32_t{digest[4 * word + 3]};
    for (int nibble = 0; nibble < 8; ++nibble) {
      id += kHex[value & 0xF];
      value >>= 4;
    }
  }
  return id;
}

std::string BookIdOf(const HeaderSection& header) {
  return BookIdFromDigest(header.integrity_area.data());
}

std::optional<std::string> BookIdOfSource(const ByteSource& source) {
  ContainerInfo container;
  if (!CheckContainer(source, &container, nullptr)) return std::nullopt;
  const uint64_t start = container.stream_start;
  uint8_t version;
  if (!source.ReadAt(start + VersionBytePosition(), &version, 1)) return std::nullopt;
  if (version != 1 && version != 2) return std::nullopt;
  uint8_t digest[kDigestSize];
  if (!source.ReadAt(start + IntegrityAreaPosition(version), digest, sizeof digest)) {
    return std::nullopt;
  }
  return BookIdFromDigest(digest);
}

std::optional<std::string> BookIdOfFile(const std::string& path) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file.IsOpen()) return std::nullopt;
  FileByteSource source(std::move(file));
  return BookIdOfSource(source);
}

std::string UrlKey(std::string_view url) {
  return platform::Sha1WordsHex(platform::ComputeSha1(url));
}

bool ComputeStreamDigest(const ByteSource& source, uint64_t stream_start, uint64_t from,
                         uint64_t to, uint64_t digest_position, platform::Sha1Digest* digest) {
  if (to < from) return false;
  platform::Sha1 sha;
  std::vector<uint8_t> piece(16384);
  for (uint64_t at = from; at < to;) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(piece.size(), to - at));
    uint64_t where;
    if (!AddChecked(stream_start, at, &where) || !source.ReadAt(where, piece.data(), count)) {
      return false;
    }
    // Blank out whatever part of the digest field this piece holds.
    const uint64_t blank_from = std::max(at, digest_position);
    const uint64_t blank_to = std::min(at + count, digest_position + kDigestSize);
    if (blank_from < blank_to) {
      std::memset(piece.data() + (blank_from - at), 0, static_cast<size_t>(blank_to - blank_from));
    }
    sha.Update(piece.data(), count);
    at += count;
  }
  *digest = sha.Finish();
  return sha.ok();
}

}  // namespace fvx::format
