#include "compiler/frontend/text_source_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

// A disk or share that fails part way: the first block reads, the next fails.
class FailingSourceReader : public CTextSourceReader {
 protected:
  std::optional<size_t> ReadSome(void* buffer, size_t count, int* error) override {
    if (reads_++ == 0) return CTextSourceReader::ReadSome(buffer, count, error);
    *error = EIO;
    return std::nullopt;
  }

 private:
  int reads_ = 0;
};

TEST(TextSourceReaderTest, AFailedReadIsAnErrorNotTheEnd) {
  std::string path = WriteTempSource(std::string(CTextSourceReader::kBlockSize * 3, 'a'));
  FailingSourceReader reader;
  ASSERT_TRUE(reader.Open(path));
  std::string run;
  std::array<bool, 256> no_stops{};
  EXPECT_EQ(reader.ReadRun(no_stops, CTextSourceReader::kBlockSize * 3, run),
            CTextSourceReader::kBlockSize);
  EXPECT_EQ(reader.LastError(), EIO);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.LastError(), EIO) << "the error sticks";
  reader.Close();
  EXPECT_EQ(reader.LastError(), 0);
  std::remove(path.c_str());
}

TEST(TextSourceReaderTest, OnlyFilesAndPipesAreSources) {
  const std::string folder = ::testing::TempDir() + "fvx_source_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  CTextSourceReader reader;
  EXPECT_FALSE(reader.Open(folder));
  EXPECT_EQ(reader.LastError(), EISDIR);
  EXPECT_FALSE(reader.Open("/dev/zero"));
  EXPECT_EQ(reader.LastError(), platform::kNotRegularFile);

  // A FIFO opens at once; reading waits for a writer until told to stop.
  const std::string fifo = folder + "/pipe.txt";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int checks = 0;
  reader.SetWaitCheck([&checks] { return ++checks < 3; });
  ASSERT_TRUE(reader.Open(fifo));
  unsigned char c = 0;
  bool pushed = false;
  EXPECT_FALSE(reader.Read(c, pushed));
  EXPECT_EQ(reader.LastError(), ECANCELED);
  EXPECT_EQ(checks, 3);

  // With a writer it reads to the writer's end.
  reader.SetWaitCheck({});
  ASSERT_TRUE(reader.Open(fifo));
  const int writer = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "ab", 2), 2);
  ::close(writer);
  std::string text;
  while (reader.Read(c, pushed)) text += static_cast<char>(c);
  EXPECT_EQ(text, "ab");
  EXPECT_EQ(reader.LastError(), 0);
  reader.Close();
  ::unlink(fifo.c_str());
  ::rmdir(folder.c_str());
}

}  // namespace
}  // namespace fvx::compiler
