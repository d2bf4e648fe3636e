#include "platform/sha1.h"

#include <gtest/gtest.h>

#include <string>

namespace fvx::platform {
namespace {

TEST(Sha1Test, KnownDigests) {
  // FIPS 180-1 appendix examples.
  EXPECT_EQ(Sha1WordsHex(ComputeSha1("abc")), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Sha1WordsHex(ComputeSha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
  EXPECT_EQ(Sha1WordsHex(ComputeSha1("")), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
}

TEST(Sha1Test, IncrementalEqualsOneShot) {
  std::string data(100000, 'a');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Sha1 sha;
  for (size_t at = 0; at < data.size(); at += 16384) {
    sha.Update(data.data() + at, std::min<size_t>(16384, data.size() - at));
  }
  EXPECT_EQ(sha.Finish(), ComputeSha1(data));
  EXPECT_TRUE(sha.ok());
}

}  // namespace
}  // namespace fvx::platform
