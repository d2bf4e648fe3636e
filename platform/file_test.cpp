#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/scratch_file.h"

namespace fvx::platform {
namespace {

TEST(FileTest, ReadsAreExactAndShortReadsFail) {
  File file = CreateScratchFile();
  ASSERT_TRUE(file.IsOpen());
  ASSERT_TRUE(file.Write("hello", 5));
  ASSERT_TRUE(file.Seek(0));
  char buffer[8] = {};
  EXPECT_TRUE(file.Read(buffer, 5));
  EXPECT_EQ(std::string(buffer, 5), "hello");
  ASSERT_TRUE(file.Seek(2));
  EXPECT_FALSE(file.Read(buffer, 4)) << "only three bytes remain";
  EXPECT_FALSE(file.ReadAt(4, buffer, 2));
  EXPECT_TRUE(file.ReadAt(4, buffer, 1));
  EXPECT_EQ(buffer[0], 'o');
}

TEST(FileTest, PositionedWritesLeaveThePositionAlone) {
  File file = CreateScratchFile();
  ASSERT_TRUE(file.Write("abcdef", 6));
  ASSERT_TRUE(file.WriteAt(1, "XY", 2));
  EXPECT_EQ(file.Tell().value(), 6u);
  char buffer[6];
  ASSERT_TRUE(file.ReadAt(0, buffer, 6));
  EXPECT_EQ(std::string(buffer, 6), "aXYdef");
  EXPECT_EQ(file.Size().value(), 6u);
  ASSERT_TRUE(file.Truncate(2));
  EXPECT_EQ(file.Size().value(), 2u);
}

TEST(FileTest, PositionsBeyondFourGibibytes) {
  File file = CreateScratchFile();
  const uint64_t far = (uint64_t{1} << 32) + 17;  // sparse: no disk space is used
  ASSERT_TRUE(file.Seek(far));
  ASSERT_TRUE(file.Write("z", 1));
  EXPECT_EQ(file.Size().value(), far + 1);
  char c = 0;
  ASSERT_TRUE(file.ReadAt(far, &c, 1));
  EXPECT_EQ(c, 'z');
}

TEST(FileTest, OpeningAMissingFileFailsWithItsError) {
  File file = File::Open("/nonexistent/folder/file", File::Mode::kRead);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_NE(file.LastError(), 0);
}

TEST(FileTest, CreationMaskIsReadWithoutBeingChanged) {
  const mode_t saved = umask(027);
  EXPECT_EQ(FileCreationMask(), 027u);
  EXPECT_EQ(umask(022), 027u);  // still what the test set
  EXPECT_EQ(FileCreationMask(), 022u);
  umask(saved);
}

TEST(FileTest, MovingTransfersOwnership) {
  File a = CreateScratchFile();
  int fd = a.Descriptor();
  File b = std::move(a);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(b.Descriptor(), fd);
}

}  // namespace
}  // namespace fvx::platform
