#include "bookformat/container.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "bookformat/coding.h"
#include "platform/scratch_file.h"

namespace fvx::format {
namespace {

platform::File StreamOf(const std::string& bytes) {
  platform::File file = platform::CreateScratchFile("fvxtest");
  EXPECT_TRUE(file.WriteAt(0, bytes.data(), bytes.size()));
  return file;
}

std::string Contents(const platform::File& file) {
  std::string bytes(static_cast<size_t>(*file.Size()), '\0');
  EXPECT_TRUE(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

std::string Be32(uint32_t value) {
  std::string out;
  PutU32(&out, value);
  return out;
}

// The fixed 78 bytes before the record list, from the table of fields.
std::string FixedHeader(const std::string& name, uint32_t time, uint16_t records) {
  std::string out = name;
  out.resize(32, '\0');
  out += std::string("\0\0", 2);  // attributes
  out += std::string("\0\x01", 2);  // version
  out += Be32(time) + Be32(time) + Be32(time);
  out += std::string(12, '\0');  // modification number, app info, sort info
  out += "FVXDFVXC";
  out += std::string(8, '\0');  // unique id seed, next record list
  out += static_cast<char>(records >> 8);
  out += static_cast<char>(records & 0xFF);
  return out;
}

WrapOptions Options(const std::string& path, int64_t time = 1000) {
  WrapOptions options;
  options.output_path = path;
  options.unix_time = time;
  return options;
}

TEST(ContainerTest, SmallStreamByHand) {
  platform::File stream = StreamOf("ABC");
  platform::File output = platform::CreateScratchFile("fvxtest");
  ASSERT_TRUE(WrapContainer(stream, output, Options("C:\\books\\atlas.fvx")).ok());
  // N = 1, D = 78 + 8 * 2 = 94; entry 1 points at the trailing record.
  const std::string expected = FixedHeader("atlas", 0x7C25B468, 2) + Be32(94) + Be32(0) +
                               Be32(97) + Be32(0) + "ABC" + std::string(64, '\0');
  EXPECT_EQ(Contents(output), expected);
}

TEST(ContainerTest, EmptyStreamHasOnlyTheTrailingRecord) {
  platform::File stream = StreamOf("");
  platform::File output = platform::CreateScratchFile("fvxtest");
  ASSERT_TRUE(WrapContainer(stream, output, Options("e.fvx", 0)).ok());
  EXPECT_EQ(Contents(output), FixedHeader("e", kPalmTimeOffset, 1) + Be32(86) + Be32(0) +
                                  std::string(64, '\0'));
}

TEST(ContainerTest, ExactMultipleOfTheRecordSize) {
  std::string data(2 * kRecordSize, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  platform::File stream = StreamOf(data);
  platform::File output = platform::CreateScratchFile("fvxtest");
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  WrapOptions options = Options("/x/book.fvx");
  options.progress = [&](uint64_t done, uint64_t total) {
    progress.push_back({done, total});
    return true;
  };
  ASSERT_TRUE(WrapContainer(stream, output, options).ok());
  // N = 2 records and entry 2 at D + L, the trailing zero record.
  const uint32_t d = 78 + 8 * 3;
  const std::string expected = FixedHeader("book", 0x7C25B468, 3) + Be32(d) + Be32(0) +
                               Be32(d + kRecordSize) + Be32(0) + Be32(d + 2 * kRecordSize) +
                               Be32(0);
  const std::string bytes = Contents(output);
  ASSERT_EQ(bytes.size(), d + data.size() + 64);
  EXPECT_EQ(bytes.substr(0, d), expected);
  EXPECT_EQ(bytes.substr(d, data.size()), data);
  EXPECT_EQ(bytes.substr(d + data.size()), std::string(64, '\0'));
  EXPECT_EQ(progress, (std::vector<std::pair<uint64_t, uint64_t>>{
                          {kRecordSize, 2 * kRecordSize}, {2 * kRecordSize, 2 * kRecordSize}}));
}

TEST(ContainerTest, OneByteOverARecordTakesAnotherRecord) {
  const std::optional<std::string> header =
      EncodeContainerHeader("n", 0, kRecordSize + 1, kRecordSize);
  ASSERT_TRUE(header);
  ASSERT_EQ(header->size(), 78u + 8 * 3);
  EXPECT_EQ(header->substr(76, 2), std::string("\0\x03", 2));
  EXPECT_EQ(header->substr(78 + 16, 4), Be32(102 + kRecordSize + 1));
}

TEST(ContainerTest, DatabaseNames) {
  EXPECT_EQ(DatabaseName("C:\\books\\atlas.fvx"), "atlas");
  EXPECT_EQ(DatabaseName("/home/me/atlas"), "atlas");  // no "." keeps it whole
  EXPECT_EQ(DatabaseName("a/b\\c.d"), "c");
  EXPECT_EQ(DatabaseName("dir.v2/plain"), "plain");
  EXPECT_EQ(DatabaseName("my.big.book.fvx"), "my.big.book");
  EXPECT_EQ(DatabaseName("C:\\books\\"), "UnNamedFvx");  // trailing separator
  EXPECT_EQ(DatabaseName("/books/.fvx"), "UnNamedFvx");
  EXPECT_EQ(DatabaseName(""), "UnNamedFvx");
  EXPECT_EQ(DatabaseName(std::string(40, 'n') + ".fvx"), std::string(31, 'n'));
  // The field holds 31 bytes and a NUL.
  const std::optional<std::string> header =
      EncodeContainerHeader(DatabaseName(std::string(40, 'n')), 0, 0);
  EXPECT_EQ(header->substr(0, 32), std::string(31, 'n') + '\0');
}

TEST(ContainerTest, PalmTimeCountsFrom1904) {
  EXPECT_EQ(PalmTime(0), 2082844800u);
  EXPECT_EQ(PalmTime(1700000000), static_cast<uint32_t>(1700000000ull + 2082844800ull));
}

TEST(ContainerTest, StreamsTooLongForTheRecordCountAreRefused) {
  EXPECT_TRUE(EncodeContainerHeader("n", 0, uint64_t{65534} * kRecordSize));
  EXPECT_FALSE(EncodeContainerHeader("n", 0, uint64_t{65534} * kRecordSize + 1));

  // A sparse stream just too long: refused before any output file is made.
  platform::File stream = platform::CreateScratchFile("fvxtest");
  ASSERT_TRUE(stream.Truncate(uint64_t{65534} * kRecordSize + 1));
  const std::string path = ::testing::TempDir() + "/fvx_too_large.fvx";
  ::unlink(path.c_str());
  const WrapResult result = WrapContainer(stream, Options(path));
  EXPECT_EQ(result.status, WrapStatus::kTooLarge);
  EXPECT_FALSE(result.message.empty());
  struct stat st;
  EXPECT_NE(::stat(path.c_str(), &st), 0);
}

TEST(ContainerTest, FailuresReportTheirErrno) {
  platform::File stream = StreamOf("ABC");
  const WrapResult result = WrapContainer(stream, Options("/nonexistent-folder/x/book.fvx"));
  EXPECT_EQ(result.status, WrapStatus::kCannotCreate);
  EXPECT_EQ(result.error, ENOENT);

  platform::File output = platform::CreateScratchFile("fvxtest");
  WrapOptions cancel = Options("b.fvx");
  cancel.progress = [](uint64_t, uint64_t) { return false; };
  EXPECT_EQ(WrapContainer(stream, output, cancel).status, WrapStatus::kCancelled);
}

TEST(ContainerTest, WritingAPathReplacesWhatWasThere) {
  const std::string path = ::testing::TempDir() + "/fvx_wrap_test.fvx";
  {
    platform::File old = platform::File::Open(path, platform::File::Mode::kCreateTruncate);
    ASSERT_TRUE(old.WriteAt(0, std::string(5000, 'z').data(), 5000));
  }
  platform::File stream = StreamOf("ABC");
  ASSERT_TRUE(WrapContainer(stream, Options(path)).ok());
  platform::File back = platform::File::Open(path, platform::File::Mode::kRead);
  EXPECT_EQ(*back.Size(), 94u + 3 + 64);
  ::unlink(path.c_str());
}

}  // namespace
}  // namespace fvx::format
