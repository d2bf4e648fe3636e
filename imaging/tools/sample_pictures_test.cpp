#include "imaging/tools/sample_pictures.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <fstream>
#include <iterator>

#include "imaging/mng_writer.h"

namespace fvx::imaging::samples {
namespace {

std::string Committed(const std::string& file_name) {
  std::ifstream in(std::string(FVX_SOURCE_DIR) + "/examples/pictures/" + file_name,
                   std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The committed files are this program's output; a change to the drawing
// must come with regenerated files (scripts/make_sample_pictures.sh).
TEST(SamplePicturesTest, TheGeneratorReproducesTheCommittedFiles) {
  const std::vector<SamplePicture> pictures = MakeSamplePictures();
  ASSERT_EQ(pictures.size(), 15u);
  for (const SamplePicture& picture : pictures) {
    EXPECT_TRUE(picture.bytes == Committed(picture.file_name)) << picture.file_name;
  }
}

TEST(SamplePicturesTest, EveryStillDecodes) {
  for (const SamplePicture& picture : MakeSamplePictures()) {
    if (picture.file_name.ends_with(".mng")) continue;
    const QImage image = QImage::fromData(QByteArray::fromStdString(picture.bytes));
    EXPECT_FALSE(image.isNull()) << picture.file_name;
  }
}

}  // namespace
}  // namespace fvx::imaging::samples
