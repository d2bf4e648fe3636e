#include "bookformat/stream_writer.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/scratch_file.h"

namespace fvx::format {
namespace {

std::string Contents(const platform::File& file) {
  std::string bytes(static_cast<size_t>(*file.Size()), '\0');
  EXPECT_TRUE(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

class StreamWriterTest : public ::testing::Test {
 protected:
  platform::File file_ = platform::CreateScratchFile("fvxtest");
};

TEST_F(StreamWriterTest, WritesFieldsBigEndian) {
  StreamWriter writer(&file_);
  ASSERT_TRUE(writer.WriteU8('H') && writer.WriteU16(0x0102) && writer.WriteU32(0x03040506) &&
              writer.WriteString("xy") && writer.WriteString(""));
  EXPECT_EQ(writer.Position(), 1u + 2 + 4 + 6 + 4);
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(Contents(file_), std::string("H\x01\x02\x03\x04\x05\x06\0\0\0\x02xy\0\0\0\0", 17));
}

TEST_F(StreamWriterTest, OffsetsFollowTheWidth) {
  StreamWriter writer(&file_);
  ASSERT_TRUE(writer.WriteOff(0x11223344));
  writer.SetOffsetWidth(OffsetWidth::kWide);
  ASSERT_TRUE(writer.WriteOff(0x0000000A11223344ull));
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(Contents(file_), std::string("\x11\x22\x33\x44" "\x11\x22\x33\x44\0\0\0\x0A", 12));
}

TEST_F(StreamWriterTest, NarrowOffsetTooLargeFailsAndSticks) {
  StreamWriter writer(&file_);
  EXPECT_FALSE(writer.WriteOff(uint64_t{1} << 32));
  EXPECT_TRUE(writer.overflowed());
  EXPECT_EQ(writer.error(), EOVERFLOW);
  EXPECT_FALSE(writer.WriteU8(1));  // the first failure sticks
  EXPECT_EQ(writer.Position(), 0u);
}

TEST_F(StreamWriterTest, PlaceholdersArePatchedInMemoryAndOnDisk) {
  StreamWriter writer(&file_);
  writer.SetOffsetWidth(OffsetWidth::kWide);
  uint64_t early, late;
  ASSERT_TRUE(writer.WriteU32Placeholder(&early));
  // Push the placeholder to the file before patching it.
  ASSERT_TRUE(writer.WriteZeros(200000));
  ASSERT_TRUE(writer.WriteOffPlaceholder(&late));
  ASSERT_TRUE(writer.WriteU8(0xEE));
  ASSERT_TRUE(writer.PatchU32(early, 0xCAFEBABE));
  ASSERT_TRUE(writer.PatchOff(late, 0x0000000100000002ull));
  EXPECT_EQ(writer.Position(), 4u + 200000 + 8 + 1);
  ASSERT_TRUE(writer.Flush());
  const std::string bytes = Contents(file_);
  ASSERT_EQ(bytes.size(), 200013u);
  EXPECT_EQ(bytes.substr(0, 4), "\xCA\xFE\xBA\xBE");
  EXPECT_EQ(bytes.substr(200004, 9), std::string("\0\0\0\x02\0\0\0\x01\xEE", 9));
}

TEST_F(StreamWriterTest, PatchesCannotGrowTheStream) {
  StreamWriter writer(&file_);
  ASSERT_TRUE(writer.WriteU32(0));
  EXPECT_FALSE(writer.PatchU32(2, 1));
  EXPECT_FALSE(writer.ok());
}

TEST_F(StreamWriterTest, SeekBackThenWriteAndReturn) {
  StreamWriter writer(&file_);
  ASSERT_TRUE(writer.WriteBytes("abcdefgh", 8));
  const uint64_t end = writer.Position();
  ASSERT_TRUE(writer.Seek(2));
  ASSERT_TRUE(writer.WriteBytes("XY", 2));
  // A patch past the current position but inside what was written is fine.
  ASSERT_TRUE(writer.PatchU8(6, 'Z'));
  ASSERT_TRUE(writer.Seek(end));
  ASSERT_TRUE(writer.WriteU8('!'));
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(Contents(file_), "abXYefZh!");
}

TEST_F(StreamWriterTest, BaseShiftsEveryWrite) {
  StreamWriter writer(&file_, 3);
  uint64_t at;
  ASSERT_TRUE(writer.WriteU32Placeholder(&at));
  EXPECT_EQ(at, 0u);
  ASSERT_TRUE(writer.PatchU32(at, 0x41424344));
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(Contents(file_), std::string("\0\0\0ABCD", 7));
}

}  // namespace
}  // namespace fvx::format
