#include "imaging/mng_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "imaging/test_pictures.h"

namespace fvx::imaging {
namespace {

uint32_t U32(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

struct Chunk {
  std::string type;
  std::string data;
};

// Splits a file after its signature and checks every chunk's CRC.
std::vector<Chunk> Chunks(const std::string& file) {
  std::vector<Chunk> chunks;
  size_t at = 8;
  while (at + 12 <= file.size()) {
    const uint32_t length = U32(file, at);
    EXPECT_LE(at + 12 + length, file.size());
    if (at + 12 + length > file.size()) break;
    Chunk chunk{file.substr(at + 4, 4), file.substr(at + 8, length)};
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(file.data() + at + 4), 4 + length));
    EXPECT_EQ(U32(file, at + 8 + length), crc) << chunk.type;
    chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  EXPECT_EQ(at, file.size());
  return chunks;
}

std::vector<std::string> Types(const std::vector<Chunk>& chunks) {
  std::vector<std::string> types;
  for (const Chunk& chunk : chunks) types.push_back(chunk.type);
  return types;
}

std::string Png(int width, int height) {
  QImage image = testing::TwoColourPicture(width, height, Qt::red, Qt::blue);
  image.setDotsPerMeterX(3000);  // gives the PNG a pHYs chunk to leave out
  return testing::Encode(image, "png");
}

TEST(MngWriterTest, AnimationHasHeaderLoopFramingAndEachPicturesCriticalChunks) {
  const std::optional<std::string> mng = BuildMng({Png(30, 20), Png(10, 40)}, 100, 25);
  ASSERT_TRUE(mng);
  EXPECT_EQ(mng->substr(0, 8), std::string("\x8aMNG\r\n\x1a\n", 8));
  const std::vector<Chunk> chunks = Chunks(*mng);
  EXPECT_EQ(Types(chunks), (std::vector<std::string>{"MHDR", "TERM", "FRAM", "IHDR", "IDAT",
                                                      "IEND", "IHDR", "IDAT", "IEND", "MEND"}));
  const std::string& mhdr = chunks[0].data;
  ASSERT_EQ(mhdr.size(), 28u);
  EXPECT_EQ(U32(mhdr, 0), 30u);   // widest picture
  EXPECT_EQ(U32(mhdr, 4), 40u);   // tallest picture
  EXPECT_EQ(U32(mhdr, 8), 100u);  // ticks per second
  EXPECT_EQ(U32(mhdr, 16), 2u);   // frames
  EXPECT_EQ(U32(mhdr, 20), 50u);  // play time
  EXPECT_EQ(chunks[1].data, std::string("\x03\x00\x00\x00\x00\x00\x7f\xff\xff\xff", 10));
  EXPECT_EQ(chunks[2].data, std::string("\x01\x00\x02\x00\x00\x00\x00\x00\x00\x19", 10));
}

TEST(MngWriterTest, OnePictureGivesAStillMng) {
  const std::optional<std::string> mng = BuildMng({Png(5, 5)}, 1, 0);
  ASSERT_TRUE(mng);
  EXPECT_EQ(Types(Chunks(*mng)),
            (std::vector<std::string>{"MHDR", "IHDR", "IDAT", "IEND", "MEND"}));
}

TEST(MngWriterTest, RejectsAnythingButWholePngs) {
  const std::string png = Png(6, 6);
  EXPECT_FALSE(BuildMng({}, 100, 10));
  EXPECT_FALSE(BuildMng({png}, 0, 10));
  EXPECT_FALSE(BuildMng({"not a png"}, 100, 10));
  for (size_t length = 0; length < png.size(); ++length) {
    EXPECT_FALSE(BuildMng({png, png.substr(0, length)}, 100, 10)) << length;
  }
  std::string huge_length = png;
  huge_length[8] = '\x7f';  // IHDR's length now runs past the end
  EXPECT_FALSE(BuildMng({huge_length}, 100, 10));
}

TEST(MngWriterTest, JngTakesSizeAndColourTypeFromTheJpeg) {
  const std::string colour = testing::Encode(
      testing::TwoColourPicture(33, 17, Qt::red, Qt::blue).convertToFormat(QImage::Format_RGB32),
      "jpeg");
  QImage grey_image(12, 9, QImage::Format_Grayscale8);
  grey_image.fill(100);
  const std::string grey = testing::Encode(grey_image, "jpeg");

  const std::optional<std::string> jng = BuildJng(colour);
  ASSERT_TRUE(jng);
  EXPECT_EQ(jng->substr(0, 8), std::string("\x8bJNG\r\n\x1a\n", 8));
  const std::vector<Chunk> chunks = Chunks(*jng);
  ASSERT_EQ(Types(chunks), (std::vector<std::string>{"JHDR", "JDAT", "IEND"}));
  EXPECT_EQ(chunks[0].data,
            std::string("\0\0\0\x21\0\0\0\x11\x0a\x08\x08\0\0\0\0\0", 16));
  EXPECT_EQ(chunks[1].data, colour);

  const std::optional<std::string> grey_jng = BuildJng(grey);
  ASSERT_TRUE(grey_jng);
  EXPECT_EQ(Chunks(*grey_jng)[0].data[8], '\x08');
}

TEST(MngWriterTest, JngRejectsStreamsWithoutAFrameHeader) {
  const std::string jpeg = testing::Encode(
      testing::TwoColourPicture(8, 8, Qt::red, Qt::blue).convertToFormat(QImage::Format_RGB32),
      "jpeg");
  const size_t frame_header = jpeg.find("\xff\xc0");
  ASSERT_NE(frame_header, std::string::npos);
  for (size_t length = 0; length < frame_header + 10; ++length) {
    EXPECT_FALSE(BuildJng(jpeg.substr(0, length))) << length;
  }
  EXPECT_FALSE(BuildJng("GIF89a"));
}

}  // namespace
}  // namespace fvx::imaging
