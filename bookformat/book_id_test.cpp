#include "bookformat/book_id.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "bookformat/testing/sample_book.h"

namespace fvx::format {
namespace {

using testing::WriteTemporaryFile;

const uint8_t kDigest[20] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x00, 0x11,
                             0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0xFE, 0xDC, 0xBA, 0x98};

// A file with only what the book id needs: the container fields, a stream
// start B, the version byte at B + 5 and the digest where the version puts it.
std::string HandBuiltBook(uint8_t version, uint32_t start) {
  std::string bytes(start + 66 + 20, '\0');
  bytes.replace(60, 8, "FVXDFVXC");
  bytes[77] = 1;  // one record
  bytes[78] = static_cast<char>(start >> 24);
  bytes[79] = static_cast<char>(start >> 16);
  bytes[80] = static_cast<char>(start >> 8);
  bytes[81] = static_cast<char>(start);
  bytes[start] = 'H';
  bytes[start + 5] = static_cast<char>(version);
  bytes.replace(start + (version == 2 ? 66 : 61), 20, reinterpret_cast<const char*>(kDigest), 20);
  return bytes;
}

TEST(BookIdTest, DigestWordsLowestNibbleFirst) {
  EXPECT_EQ(BookIdFromDigest(kDigest), "76543210FEDCBA98332211007766554489ABCDEF");
}

TEST(BookIdTest, OfHandBuiltFiles) {
  for (uint8_t version : {1, 2}) {
    const std::string path = WriteTemporaryFile(HandBuiltBook(version, 200), "id");
    EXPECT_EQ(BookIdOfFile(path).value_or("none"), "76543210FEDCBA98332211007766554489ABCDEF")
        << int(version);
    ::unlink(path.c_str());
  }
}

TEST(BookIdTest, NothingForFilesThatAreNotBooks) {
  EXPECT_FALSE(BookIdOfFile("/nonexistent/book.fvx"));
  const std::string good = HandBuiltBook(2, 100);
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string wrong_magic = good;
  wrong_magic[60] = 'X';
  std::string no_records = good;
  no_records[77] = 0;
  std::string version_three = good;
  version_three[105] = 3;
  const Case cases[] = {
      {"too short for the digest", good.substr(0, good.size() - 1)},
      {"too short for the container", good.substr(0, 70)},
      {"wrong magic", wrong_magic},
      {"no records", no_records},
      {"unknown version", version_three},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(BookIdOfSource(MemoryByteSource(c.bytes))) << c.what;
  }
}

TEST(BookIdTest, SampleBookIdMatchesItsSealedDigest) {
  const testing::SampleBook book = testing::BuildSampleBook();
  MemoryByteSource source(book.container);
  const std::optional<std::string> id = BookIdOfSource(source);
  ASSERT_TRUE(id);
  ContainerInfo info;
  ASSERT_TRUE(CheckContainer(source, &info, nullptr));
  platform::Sha1Digest digest;
  ASSERT_TRUE(ComputeStreamDigest(source, info.stream_start, 61, book.sealed_end, 61, &digest));
  EXPECT_EQ(*id, BookIdFromDigest(digest.data()));
}

TEST(BookIdTest, UrlKeyOfAKnownAddress) {
  // The SHA-1 of the address as sha1sum prints it, upper-cased.
  EXPECT_EQ(UrlKey("http://www.example.com/books/atlas.fvx"),
            "64A607B0E3A44F99E0B21F045CFF919E405C9DFB");
  EXPECT_EQ(UrlKey("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

}  // namespace
}  // namespace fvx::format
