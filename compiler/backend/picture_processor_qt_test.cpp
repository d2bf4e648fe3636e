// The picture stage with the real image library: what it stores must decode
// again to the sizes it wrote into the directory.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_file.h"
#include "bookformat/book_layout.h"
#include "compiler/app/book_compiler.h"
#include "compiler/backend/book_writer.h"
#include "compiler/frontend/text_source_reader.h"

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

// --- Round trip through a whole compile ---------------------------------------

struct BookPicture {
  std::string full;
  std::string small;
  uint32_t width = 0;
  uint32_t height = 0;
};

// The pictures of a book, read back through the readers' block stores.
std::vector<BookPicture> ReadPictures(const format::BookFile& file,
                                      const format::BookLayout& layout) {
  const format::OffsetWidth width = layout.width();
  const size_t off = width == format::OffsetWidth::kWide ? 8 : 4;
  format::BlockCache tables(&file, width, layout.header.table_block_size, 64);
  format::BlockCache content(&file, width, layout.header.content_block_size, 64);
  const uint64_t directory = layout.pictures.directory_table;
  std::vector<uint64_t> starts;
  std::vector<BookPicture> pictures(layout.header.picture_count);
  for (size_t p = 0; p <= pictures.size(); ++p) {
    uint64_t start = 0;
    const uint64_t at = p * (off + 12);
    EXPECT_TRUE(format::ReadStoreOff(tables, directory, at, width, &start));
    starts.push_back(start);
    if (p == pictures.size()) break;
    uint32_t small_length = 0;
    EXPECT_TRUE(format::ReadStoreU32(tables, directory, at + off, &small_length));
    EXPECT_TRUE(format::ReadStoreU32(tables, directory, at + off + 4, &pictures[p].width));
    EXPECT_TRUE(format::ReadStoreU32(tables, directory, at + off + 8, &pictures[p].height));
    pictures[p].small.resize(small_length);
  }
  for (size_t p = 0; p < pictures.size(); ++p) {
    std::string bytes(starts[p + 1] - starts[p], '\0');
    EXPECT_TRUE(format::ReadStoreBytes(content, layout.pictures.data_table, starts[p],
                                       bytes.data(), bytes.size()));
    const size_t small = pictures[p].small.size();
    pictures[p].full = bytes.substr(0, bytes.size() - small);
    pictures[p].small = bytes.substr(bytes.size() - small);
  }
  return pictures;
}

// The first payload word of every picture marker in the stored texts.
std::vector<uint32_t> PictureMarkers(const format::BookFile& file,
                                     const format::BookLayout& layout) {
  format::BlockCache content(&file, layout.width(), layout.header.content_block_size, 64);
  std::string texts(layout.positions.text_total, '\0');
  EXPECT_TRUE(format::ReadStoreBytes(content, layout.texts.text_table, 0, texts.data(),
                                     texts.size()));
  std::vector<uint32_t> markers;
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(texts[at + i]);
    return v;
  };
  for (size_t i = 0; i < texts.size(); ++i) {
    if (static_cast<uint8_t>(texts[i]) != 0xFF) continue;
    if (i + 6 > texts.size()) break;
    const uint32_t length = u32(i + 1);
    if (static_cast<uint8_t>(texts[i + 5]) == 22 && length >= 4) markers.push_back(u32(i + 6));
    i += 5 + length;
  }
  return markers;
}

// Decoding is told by the first byte, as the reader does.
PictureFormat KindOf(const std::string& bytes) {
  if (bytes.empty()) return PictureFormat::kOther;
  const auto first = static_cast<uint8_t>(bytes[0]);
  return first == 0x89 ? PictureFormat::kPng
                       : first == 0xFF ? PictureFormat::kJpeg : PictureFormat::kOther;
}

TEST_F(PictureProcessorQtTest, CompiledBookCarriesThePicturesAndTheirIndexes) {
  const std::string samples = std::string(FVX_SOURCE_DIR) + "/examples/pictures/";
  const std::string folder = run_.folder.path();
  for (const char* name : {"background.png", "cover.jpg", "earth.png", "orbits.png"}) {
    std::filesystem::copy_file(samples + name, folder + name);
  }
  const std::string source = folder + "atlas.txt";
  ASSERT_TRUE(WriteBytes(
      source,
      "<meta> frontcover = \"cover.jpg\" bktile = \"background.png\" maximagewidth = 600 "
      "</meta>\n"
      "<new>Earth\nBlue <img src=\"earth.png\"> gone <img src=\"gone.png\"> small "
      "<img src=\"earth.png\" resizewidth=200>\n"
      "<new>Orbits\n<img src=\"orbits.png\">\n"));

  RecordingMessageSink messages;
  FixedOptions options;
  CBookCompiler compiler(&messages, nullptr, &options);
  BookWriterOptions writer_options;
  writer_options.pictures = MakePictureStage(library_.get());
  CBookWriter writer(writer_options);
  compiler.SetBackEnd(&writer);
  CTextSourceReader reader;
  const std::string book = folder + "atlas.fvx";
  ASSERT_TRUE(compiler.Compile(reader, source, book, false));
  EXPECT_TRUE(messages.Has(Level::kError, "Line 3 : Col 34 : Can't open picture file \"" +
                                              folder + "gone.png\""))
      << ::testing::PrintToString(messages.LogLines());

  format::BookFile file;
  format::BookLayout layout;
  format::FormatError error;
  ASSERT_TRUE(format::OpenBook(book, &file, &layout, &error)) << error.reason;
  // background.png, cover.jpg, earth.png, orbits.png: in path order.
  ASSERT_EQ(layout.header.picture_count, 4u);
  EXPECT_EQ(layout.header.background_tile_picture, 0u);
  EXPECT_EQ(layout.header.front_cover_picture, 1u);
  EXPECT_EQ(PictureMarkers(file, layout),
            (std::vector<uint32_t>{2, kUnresolvedPicture, 2, 3}));
  EXPECT_EQ(compiler.statistics().pictures, 4u);

  const std::vector<BookPicture> pictures = ReadPictures(file, layout);
  ASSERT_EQ(pictures.size(), 4u);
  struct Expected {
    PictureFormat kind;   // of the full version, by its first byte
    PictureFormat format;  // as decoded
    int width, height;     // of the full version
    int small_width;       // 0: none
  };
  const Expected expected[] = {
      {PictureFormat::kOther, PictureFormat::kBmp, 128, 128, 0},  // a tile: no small version
      {PictureFormat::kJpeg, PictureFormat::kJpeg, 600, 450, 0},  // maximagewidth
      {PictureFormat::kOther, PictureFormat::kBmp, 480, 360, 240},  // no group limit
      {PictureFormat::kOther, PictureFormat::kBmp, 600, 450, 240},
  };
  for (size_t p = 0; p < pictures.size(); ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(KindOf(pictures[p].full), expected[p].kind);
    ExpectDecodes(pictures[p].full, expected[p].format, expected[p].width, expected[p].height);
    if (expected[p].small_width == 0) {
      EXPECT_TRUE(pictures[p].small.empty());
      EXPECT_EQ(pictures[p].width, static_cast<uint32_t>(expected[p].width));
    } else {
      const int small_height = expected[p].small_width * expected[p].height / expected[p].width;
      ExpectDecodes(pictures[p].small, expected[p].format, expected[p].small_width,
                    small_height);
      EXPECT_EQ(pictures[p].width, static_cast<uint32_t>(expected[p].small_width));
      EXPECT_EQ(pictures[p].height, static_cast<uint32_t>(small_height));
    }
  }
}

}  // namespace
}  // namespace fvx::compiler
