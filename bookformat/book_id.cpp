#include "bookformat/book_id.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "bookformat/book_file.h"

namespace fvx::format {

std::string BookIdFromDigest(const uint8_t* digest) {
  platform::Sha1Digest copy;
  std::memcpy(copy.data(), digest, copy.size());
  return platform::Sha1WordsHex(copy);
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
