// The picture stage with the real image library: what it stores must decode
// again to the sizes it wrote into the directory.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <memory>
#include <string>

#include "compiler/backend/picture_processor.h"
#include "compiler/backend/picture_processor_testing.h"
#include "imaging/qt_image_library.h"
#include "imaging/test_pictures.h"

namespace fvx::compiler {
namespace {

using imaging::Bitmap;
using imaging::ImageStatus;
using imaging::PictureFormat;
using testing::PictureStageRun;
using testing::WriteBytes;

class PictureProcessorQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = imaging::CreateQtImageLibrary();
    library_->Initialize(FVX_PLUGIN_DIR);
  }

  std::string Put(const std::string& name, const QImage& image, const char* format) {
    const std::string bytes = imaging::testing::Encode(image, format);
    EXPECT_FALSE(bytes.empty()) << format;
    EXPECT_TRUE(WriteBytes(run_.folder.path() + name, bytes));
    return bytes;
  }

  // Decodes bytes the stage stored: their format and size.
  std::unique_ptr<Bitmap> Decode(const std::string& bytes) {
    const std::string path = run_.folder.path() + "decoded" + std::to_string(decoded_++);
    EXPECT_TRUE(WriteBytes(path, bytes));
    std::unique_ptr<Bitmap> bitmap;
    EXPECT_EQ(library_->Load(path, &bitmap), ImageStatus::kOk);
    return bitmap;
  }

  void ExpectDecodes(const std::string& bytes, PictureFormat format, int width, int height) {
    std::unique_ptr<Bitmap> bitmap = Decode(bytes);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Format(), format);
    EXPECT_EQ(bitmap->Width(), width);
    EXPECT_EQ(bitmap->Height(), height);
  }

  PictureStageRun run_;
  std::unique_ptr<imaging::ImageLibrary> library_;
  int decoded_ = 0;
};

const QImage Picture(int width, int height) {
  return imaging::testing::TwoColourPicture(width, height, QColor(200, 40, 40),
                                            QColor(40, 60, 200));
}

TEST_F(PictureProcessorQtTest, StoredFormsDecodeToTheirDirectorySizes) {
  const std::string jpeg = Put("a_photo.jpg", Picture(320, 200), "jpeg");
  Put("b_chart.png", Picture(200, 100), "png");
  Put("c_wide.png", Picture(1000, 500), "png");
  Put("d_big.jpg", Picture(900, 600), "jpeg");
  const std::string bmp = Put("e_icon.bmp", Picture(64, 48), "bmp");
  run_.Add("a_photo.jpg");
  run_.Add("b_chart.png", 0);
  run_.Add("c_wide.png", kPictureFlagSmallVersion, 500);
  run_.Add("d_big.jpg", 0, 0, 300);
  run_.Add("e_icon.bmp");
  ASSERT_TRUE(run_.Run(library_.get()));
  ASSERT_EQ(run_.results.PictureCount(), 5u);
  EXPECT_EQ(run_.context.errors(), 0u);

  // A JPEG within every limit: its own bytes, and a small version.
  EXPECT_EQ(run_.Stored(0), jpeg);
  EXPECT_EQ(run_.results.directory[0].width, 240u);
  EXPECT_EQ(run_.results.directory[0].height, 150u);
  ExpectDecodes(run_.Small(0), PictureFormat::kJpeg, 240, 150);
  // A PNG within its limits is converted at its own size.
  EXPECT_EQ(run_.Stored(1).substr(0, 2), "BM");
  ExpectDecodes(run_.Stored(1), PictureFormat::kBmp, 200, 100);
  EXPECT_EQ(run_.results.directory[1].small_length, 0u);
  // Resized to its width limit, with a small version after it.
  ExpectDecodes(run_.Stored(2), PictureFormat::kBmp, 500, 250);
  ExpectDecodes(run_.Small(2), PictureFormat::kBmp, 240, 120);
  EXPECT_EQ(run_.results.directory[2].width, 240u);
  // A resized JPEG stays JPEG (the readers tell it by its first byte).
  EXPECT_EQ(static_cast<uint8_t>(run_.Stored(3)[0]), 0xFF);
  ExpectDecodes(run_.Stored(3), PictureFormat::kJpeg, 450, 300);
  EXPECT_EQ(run_.Stored(4), bmp);

  EXPECT_EQ(run_.results.bytes_stored, run_.Spill().size());
}

TEST_F(PictureProcessorQtTest, ManyReferencesStorePng) {
  Put("dot.gif.png", Picture(30, 20), "png");
  ASSERT_TRUE(run_.db.Begin());
  for (int i = 0; i < 3001; ++i) run_.Add("dot.gif.png", 0, 0, 0, i + 1, 1);
  ASSERT_TRUE(run_.db.End());
  ASSERT_TRUE(run_.Run(library_.get()));
  ASSERT_EQ(run_.results.PictureCount(), 1u);
  EXPECT_EQ(static_cast<uint8_t>(run_.Stored(0)[0]), 0x89);
  ExpectDecodes(run_.Stored(0), PictureFormat::kPng, 30, 20);
}

TEST_F(PictureProcessorQtTest, DamagedFilesAreReportedAndNothingElseIsLost) {
  std::string png = imaging::testing::Encode(Picture(300, 300), "png");
  std::string cut = png.substr(0, png.size() / 2);
  std::string jpeg = imaging::testing::Encode(Picture(300, 300), "jpeg");
  for (size_t i = 200; i < jpeg.size(); i += 7) jpeg[i] = static_cast<char>(jpeg[i] ^ 0x5A);
  ASSERT_TRUE(WriteBytes(run_.folder.path() + "cut.png", cut));
  ASSERT_TRUE(WriteBytes(run_.folder.path() + "noise.jpg", jpeg));
  ASSERT_TRUE(WriteBytes(run_.folder.path() + "text.png", "not a picture at all"));
  Put("good.png", Picture(40, 30), "png");
  run_.Add("cut.png", kPictureFlagSmallVersion, 0, 0, 1, 1);
  run_.Add("noise.jpg", kPictureFlagSmallVersion, 0, 0, 2, 1);
  run_.Add("text.png", kPictureFlagSmallVersion, 0, 0, 3, 1);
  const int64_t good = run_.Add("good.png", kPictureFlagSmallVersion, 0, 0, 4, 1);
  ASSERT_TRUE(run_.Run(library_.get()));

  EXPECT_TRUE(run_.Said(Level::kError, "Line 3 : Col 1 : Can't process picture file \"" +
                                           run_.folder.path() + "text.png\""));
  // Decoders may salvage a part of a damaged file; whatever they made of it
  // must still be a picture of the size the directory says.
  EXPECT_EQ(run_.results.PictureIndex(static_cast<uint32_t>(good)),
            run_.results.PictureCount() - 1);
  for (size_t p = 0; p < run_.results.PictureCount(); ++p) {
    std::unique_ptr<Bitmap> bitmap = Decode(run_.Stored(p));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(bitmap->Width()), run_.results.directory[p].width);
  }
}

TEST_F(PictureProcessorQtTest, SamplePicturesIncludingTheMngAnimation) {
  const std::string folder = std::string(FVX_SOURCE_DIR) + "/examples/pictures/";
  run_.source_path = folder + "book.txt";
  const int64_t mng = run_.Add("comet.mng");
  const int64_t orbits = run_.Add("orbits.png", kPictureFlagSmallVersion, 800);
  const int64_t cover = run_.Add("cover.jpg", 0);
  ASSERT_TRUE(run_.Run(library_.get()));
  ASSERT_EQ(run_.results.PictureCount(), 3u);
  // comet.mng, cover.jpg, orbits.png in path order.
  EXPECT_EQ(run_.results.PictureIndex(static_cast<uint32_t>(mng)), 0u);
  EXPECT_EQ(run_.results.PictureIndex(static_cast<uint32_t>(cover)), 1u);
  EXPECT_EQ(run_.results.PictureIndex(static_cast<uint32_t>(orbits)), 2u);
  ExpectDecodes(run_.Stored(0), PictureFormat::kBmp, 320, 240);
  ExpectDecodes(run_.Small(0), PictureFormat::kBmp, 240, 180);
  EXPECT_EQ(run_.Stored(1), imaging::testing::ReadFile(folder + "cover.jpg").value_or(""));
  ExpectDecodes(run_.Stored(2), PictureFormat::kBmp, 800, 600);
}

}  // namespace
}  // namespace fvx::compiler
