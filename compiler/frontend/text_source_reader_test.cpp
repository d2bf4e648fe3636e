#include "compiler/frontend/text_source_reader.h"

#include <gtest/gtest.h>

#include "compiler/frontend/frontend_test_util.h"

namespace fvx::compiler {
namespace {

TEST(TextSourceReaderTest, ReadsEveryByteAcrossBlocks) {
  std::string data;
  for (size_t i = 0; i < CTextSourceReader::kBlockSize * 2 + 100; ++i) {
    data.push_back(static_cast<char>((i * 7) & 0xFF));
  }
  std::string path = WriteTempSource(data);
  CTextSourceReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_EQ(reader.TotalSize(), data.size());
  std::string got;
  unsigned char c;
  bool pushed = false;
  while (reader.Read(c, pushed)) {
    EXPECT_FALSE(pushed);
    got.push_back(static_cast<char>(c));
    if (got.size() == CTextSourceReader::kBlockSize) {
      // Pushing back across the block boundary gives the same byte again.
      reader.PushBack();
      ASSERT_TRUE(reader.Read(c, pushed));
      EXPECT_TRUE(pushed);
      EXPECT_EQ(static_cast<char>(c), got.back());
    }
  }
  EXPECT_EQ(got, data);
  EXPECT_TRUE(reader.AtEnd());
  ASSERT_TRUE(reader.Rewind());
  ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_EQ(c, static_cast<unsigned char>(data[0]));
  std::remove(path.c_str());
}

TEST(TextSourceReaderTest, LinesAndColumns) {
  std::string path = WriteTempSource("ab\tc\r\nd\re\n\nf");
  CTextSourceReader reader;
  ASSERT_TRUE(reader.Open(path));
  unsigned char c;
  bool pushed;
  std::vector<std::pair<uint32_t, uint32_t>> positions;
  do {
    positions.emplace_back(reader.Line(), reader.Column());
  } while (reader.Read(c, pushed));
  // a b TAB c CR LF d CR e LF LF f end
  std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {1, 1}, {1, 2}, {1, 3}, {1, 7}, {1, 8}, {2, 1}, {2, 1}, {2, 2}, {3, 1}, {3, 2}, {4, 1}, {5, 1}, {5, 2}};
  EXPECT_EQ(positions, expected);
  // Push-back restores the position.
  ASSERT_TRUE(reader.Rewind());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(reader.Read(c, pushed));  // up to the CR
  reader.PushBack();
  EXPECT_EQ(reader.Line(), 1u);
  EXPECT_EQ(reader.Column(), 8u);
  ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_EQ(c, '\r');
  ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_EQ(c, '\n');
  EXPECT_EQ(reader.Line(), 2u);
  std::remove(path.c_str());
}

TEST(TextSourceReaderTest, MissingFileAndEmptyFile) {
  CTextSourceReader reader;
  EXPECT_FALSE(reader.Open("/nonexistent/fvx/source.txt"));
  EXPECT_TRUE(reader.AtEnd());
  std::string path = WriteTempSource("");
  ASSERT_TRUE(reader.Open(path));
  EXPECT_TRUE(reader.AtEnd());
  unsigned char c;
  bool pushed;
  EXPECT_FALSE(reader.Read(c, pushed));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace fvx::compiler
