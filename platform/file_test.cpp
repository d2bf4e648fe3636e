#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// A FIFO without a writer, a device or a folder given where a file is
// expected must be refused at once: a plain open of a FIFO waits forever.
TEST(FileTest, OpeningForReadingRefusesWhatIsNotAFileWithoutWaiting) {
  const std::string folder = ::testing::TempDir() + "fvx_open_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string fifo = folder + "/pipe.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string plain = folder + "/plain.txt";
  {
    File file = File::Open(plain, File::Mode::kCreateTruncate);
    ASSERT_TRUE(file.Write("abc", 3));
  }

  File refused = File::OpenForReading(fifo);
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_EQ(refused.LastError(), kNotRegularFile);
  EXPECT_EQ(ErrorText(refused.LastError()), "not a regular file");
  EXPECT_EQ(File::OpenForReading("/dev/zero").LastError(), kNotRegularFile);
  EXPECT_EQ(File::OpenForReading(folder).LastError(), EISDIR);
  EXPECT_EQ(File::OpenForReading(folder + "/absent").LastError(), ENOENT);

  // A pipe passed on purpose opens, and reading it does not block.
  File pipe = File::OpenForReading(fifo, /*allow_pipe=*/true);
  ASSERT_TRUE(pipe.IsOpen());
  char c = 0;
  EXPECT_EQ(pipe.ReadSome(&c, 1).value_or(99), 0u);  // no writer yet

  File file = File::OpenForReading(plain);
  ASSERT_TRUE(file.IsOpen());
  char buffer[3];
  EXPECT_TRUE(file.Read(buffer, 3));
  EXPECT_EQ(std::string(buffer, 3), "abc");

  ::unlink(fifo.c_str());
  ::unlink(plain.c_str());
  ::rmdir(folder.c_str());
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
