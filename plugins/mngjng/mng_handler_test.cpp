#include "plugins/mngjng/mng_handler.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <string>

#include "imaging/mng_writer.h"
#include "imaging/test_pictures.h"

namespace fvx::mngjng {
namespace {

using imaging::testing::NearColour;

const QColor kRed(220, 30, 30);
const QColor kGreen(20, 200, 40);
const QColor kBlue(30, 40, 210);

// Decodes bytes through a buffer, as the plug-in gets them from a file.
bool Decode(const std::string& bytes, QImage* image) {
  QByteArray data = QByteArray::fromStdString(bytes);
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return false;
  return DecodeFirstFrame(&buffer, image);
}

QImage Flat(int width, int height, QColor colour) {
  return imaging::testing::TwoColourPicture(width, height, colour, colour);
}

TEST(MngHandlerTest, AnAnimationGivesItsFirstFrame) {
  const std::string mng = imaging::testing::EncodeMng(
      {Flat(20, 10, kRed), Flat(20, 10, kGreen), Flat(20, 10, kBlue)});
  QImage image;
  ASSERT_TRUE(Decode(mng, &image));
  EXPECT_EQ(image.size(), QSize(20, 10));
  EXPECT_EQ(image.format(), QImage::Format_RGB32);
  EXPECT_TRUE(NearColour(image.pixel(0, 0), kRed, 0));
  EXPECT_TRUE(NearColour(image.pixel(19, 9), kRed, 0));
}

TEST(MngHandlerTest, StillMngKeepsItsPixelsAndAlpha) {
  const QImage picture =
      imaging::testing::TwoColourPicture(16, 8, QColor(0, 0, 0, 0), kBlue);
  QImage image;
  ASSERT_TRUE(Decode(imaging::testing::EncodeMng({picture}), &image));
  EXPECT_EQ(image.size(), QSize(16, 8));
  EXPECT_TRUE(image.hasAlphaChannel());
  EXPECT_EQ(qAlpha(image.pixel(2, 4)), 0);
  EXPECT_TRUE(NearColour(image.pixel(12, 4), kBlue, 0));
  EXPECT_EQ(qAlpha(image.pixel(12, 4)), 255);
}

TEST(MngHandlerTest, JngInColourAndGrey) {
  QImage image;
  ASSERT_TRUE(Decode(imaging::testing::EncodeJng(
                         imaging::testing::TwoColourPicture(48, 24, kRed, kGreen)),
                     &image));
  EXPECT_EQ(image.size(), QSize(48, 24));
  EXPECT_TRUE(NearColour(image.pixel(6, 12), kRed));
  EXPECT_TRUE(NearColour(image.pixel(42, 12), kGreen));

  QImage grey(10, 6, QImage::Format_Grayscale8);
  grey.fill(90);
  const std::optional<std::string> grey_jng =
      imaging::BuildJng(imaging::testing::Encode(grey, "jpeg"));
  ASSERT_TRUE(grey_jng);
  ASSERT_TRUE(Decode(*grey_jng, &image));
  EXPECT_EQ(image.size(), QSize(10, 6));
  EXPECT_NEAR(qGray(image.pixel(5, 3)), 90, 4);
}

TEST(MngHandlerTest, DetectsOnlyItsOwnSignatures) {
  const std::string mng = imaging::testing::EncodeMng({Flat(4, 4, kRed)});
  const std::string jng = imaging::testing::EncodeJng(Flat(4, 4, kRed));
  const std::string png = imaging::testing::Encode(Flat(4, 4, kRed), "png");
  for (const auto& [bytes, format] :
       {std::pair{mng, "mng"}, std::pair{jng, "jng"}, std::pair{png, ""},
        std::pair{std::string("\x8aMNG"), ""}}) {
    QByteArray data = QByteArray::fromStdString(bytes);
    QBuffer buffer(&data);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    EXPECT_EQ(DetectFormat(&buffer), QByteArray(format));
    EXPECT_EQ(buffer.pos(), 0);
    MngHandler handler;
    handler.setDevice(&buffer);
    EXPECT_EQ(handler.canRead(), *format != '\0');
  }
  QImage image;
  EXPECT_FALSE(Decode(png, &image));  // libmng would read it; the plug-in is for MNG and JNG
}

TEST(MngHandlerTest, DamagedFilesFailWithoutHarm) {
  const std::string mng = imaging::testing::EncodeMng({Flat(12, 9, kRed), Flat(12, 9, kBlue)});
  const std::string jng = imaging::testing::EncodeJng(Flat(12, 9, kRed));
  for (const std::string& bytes : {mng, jng}) {
    // Cut anywhere before the first frame's pixels are complete: no picture.
    const size_t first_end = bytes.find("IEND");
    for (size_t length = 0; length < first_end; ++length) {
      QImage image;
      EXPECT_FALSE(Decode(bytes.substr(0, length), &image)) << length;
    }
    // Any byte flipped: a failure or a picture of the right size.
    for (size_t at = 8; at < bytes.size(); ++at) {
      std::string flipped = bytes;
      flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
      QImage image;
      if (Decode(flipped, &image)) {
        EXPECT_FALSE(image.isNull()) << at;
        EXPECT_LE(image.width(), 65535) << at;
      }
    }
  }
}

void PutU32(std::string* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string* out, const char* type, const std::string& data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  const size_t at = out->size();
  out->append(type, 4);
  out->append(data);
  PutU32(out, static_cast<uint32_t>(
                  crc32(0, reinterpret_cast<const Bytef*>(out->data() + at), 4 + data.size())));
}

TEST(MngHandlerTest, AnEndlessLoopWithoutDelaysStillEndsAtTheFirstFrame) {
  // LOOP 2^31 times over a frame of zero delay: played as written, this
  // would keep a decoder busy for ever.
  const std::string png = imaging::testing::Encode(Flat(12, 9, kGreen), "png");
  std::string mng("\x8aMNG\r\n\x1a\n", 8);
  std::string data;
  for (uint32_t value : {12u, 9u, 1000u, 0u, 0u, 0u, 0u}) PutU32(&data, value);
  PutChunk(&mng, "MHDR", data);
  data.assign(1, '\0');
  PutU32(&data, 0x7FFFFFFF);
  PutChunk(&mng, "LOOP", data);
  data.assign({1, 0, 2, 0, 0, 0});
  PutU32(&data, 0);
  PutChunk(&mng, "FRAM", data);
  mng += png.substr(8);
  PutChunk(&mng, "ENDL", std::string(1, '\0'));
  PutChunk(&mng, "MEND", "");

  QImage image;
  ASSERT_TRUE(Decode(mng, &image));
  EXPECT_EQ(image.size(), QSize(12, 9));
  EXPECT_TRUE(NearColour(image.pixel(6, 4), kGreen, 0));
}

TEST(MngHandlerTest, RefusesFramesTooLargeToAllocate) {
  // A real MNG with its frame size raised to 60000 × 60000 (14 GB of pixels).
  std::string mng = imaging::testing::EncodeMng({Flat(4, 4, kRed)});
  const std::string big("\x00\x00\xea\x60", 4);
  mng.replace(16, 4, big);
  mng.replace(20, 4, big);
  // Recompute MHDR's CRC so that only the size is wrong.
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(mng.data() + 12), 32);
  for (int i = 0; i < 4; ++i) mng[44 + i] = static_cast<char>(crc >> (24 - 8 * i));
  QImage image;
  EXPECT_FALSE(Decode(mng, &image));
}

}  // namespace
}  // namespace fvx::mngjng
