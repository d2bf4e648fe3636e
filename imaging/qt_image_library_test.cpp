#include "imaging/qt_image_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "imaging/test_pictures.h"
#include "platform/scratch_file.h"

namespace fvx::imaging {
namespace {

using testing::MemoryTarget;
using testing::NearColour;

const QColor kRed(220, 30, 30);
const QColor kBlue(30, 40, 210);

class ImageLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    library_ = CreateQtImageLibrary();
    library_->Initialize(Path("no-plugins"));
  }

  std::string Path(const std::string& name) const {
    return folder_.path().toStdString() + "/" + name;
  }

  std::string Write(const std::string& name, std::string_view bytes) {
    const std::string path = Path(name);
    EXPECT_TRUE(testing::WriteFile(path, bytes));
    return path;
  }

  std::unique_ptr<Bitmap> LoadOk(const std::string& path) {
    std::unique_ptr<Bitmap> bitmap;
    EXPECT_EQ(library_->Load(path, &bitmap), ImageStatus::kOk) << path;
    return bitmap;
  }

  // Saves and decodes the bytes again with Qt alone.
  QImage SaveAndDecode(const Bitmap& bitmap, const char* format) {
    MemoryTarget target;
    EXPECT_EQ(library_->Save(bitmap, format, target), ImageStatus::kOk) << format;
    EXPECT_EQ(target.bytes.size(), target.position);
    return QImage::fromData(QByteArray::fromStdString(target.bytes), format);
  }

  QTemporaryDir folder_;
  std::unique_ptr<ImageLibrary> library_;
};

struct FormatCase {
  const char* name;
  PictureFormat format;
  int bits_per_pixel;
};

class RoundTripTest : public ImageLibraryTest,
                      public ::testing::WithParamInterface<FormatCase> {
 protected:
  std::string MakeSource() {
    const FormatCase& param = GetParam();
    if (param.format == PictureFormat::kGif) {
      std::vector<uint8_t> indices(64 * 48);
      for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) indices[static_cast<size_t>(y * 64 + x)] = x < 32 ? 1 : 2;
      }
      return Write("source.gif",
                   testing::EncodeGif(64, 48, {qRgb(0, 0, 0), kRed.rgb(), kBlue.rgb()}, indices));
    }
    QImage image = testing::TwoColourPicture(64, 48, kRed, kBlue)
                       .convertToFormat(QImage::Format_RGB32);
    return Write(std::string("source.") + param.name, testing::Encode(image, param.name));
  }
};

TEST_P(RoundTripTest, LoadsResizesAndSavesInEveryOutputFormat) {
  const FormatCase& param = GetParam();
  std::unique_ptr<Bitmap> bitmap = LoadOk(MakeSource());
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->Width(), 64);
  EXPECT_EQ(bitmap->Height(), 48);
  EXPECT_EQ(bitmap->Format(), param.format);
  EXPECT_EQ(bitmap->BitsPerPixel(), param.bits_per_pixel);
  EXPECT_GT(bitmap->XDpi(), 0);

  std::unique_ptr<Bitmap> resized;
  ASSERT_EQ(library_->Resize(*bitmap, 32, 20, &resized), ImageStatus::kOk);
  EXPECT_EQ(resized->Width(), 32);
  EXPECT_EQ(resized->Height(), 20);
  EXPECT_EQ(resized->Format(), param.format);

  for (const char* out : {"jpeg", "bmp", "png"}) {
    const QImage decoded = SaveAndDecode(*resized, out);
    ASSERT_EQ(decoded.size(), QSize(32, 20)) << out;
    EXPECT_TRUE(NearColour(decoded.pixel(4, 10), kRed)) << out;
    EXPECT_TRUE(NearColour(decoded.pixel(28, 10), kBlue)) << out;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTripTest,
                         ::testing::Values(FormatCase{"png", PictureFormat::kPng, 24},
                                           FormatCase{"jpeg", PictureFormat::kJpeg, 24},
                                           FormatCase{"bmp", PictureFormat::kBmp, 24},
                                           FormatCase{"gif", PictureFormat::kGif, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageLibraryTest, ReportsBitsAndResolutionAsStored) {
  QImage grey(40, 30, QImage::Format_Grayscale8);
  grey.fill(128);
  QImage alpha = testing::TwoColourPicture(40, 30, QColor(0, 0, 0, 0), kRed);
  alpha.setDotsPerMeterX(11811);  // 300 dpi
  alpha.setDotsPerMeterY(5906);   // 150 dpi
  std::unique_ptr<Bitmap> grey_bitmap = LoadOk(Write("grey.png", testing::Encode(grey, "png")));
  std::unique_ptr<Bitmap> alpha_bitmap = LoadOk(Write("alpha.png", testing::Encode(alpha, "png")));
  ASSERT_TRUE(grey_bitmap && alpha_bitmap);
  EXPECT_EQ(grey_bitmap->BitsPerPixel(), 8);
  EXPECT_EQ(alpha_bitmap->BitsPerPixel(), 32);
  EXPECT_EQ(alpha_bitmap->XDpi(), 300);
  EXPECT_EQ(alpha_bitmap->YDpi(), 150);
}

TEST_F(ImageLibraryTest, DownscalingAveragesInsteadOfPickingPixels) {
  // A one-pixel checkerboard: any pixel-picking scaler keeps pure black or
  // white, an averaging one gives grey everywhere.
  QImage board(200, 200, QImage::Format_RGB32);
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 200; ++x) board.setPixel(x, y, (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000);
  }
  std::unique_ptr<Bitmap> bitmap = LoadOk(Write("board.png", testing::Encode(board, "png")));
  ASSERT_TRUE(bitmap);
  std::unique_ptr<Bitmap> small;
  ASSERT_EQ(library_->Resize(*bitmap, 50, 50, &small), ImageStatus::kOk);
  const QImage decoded = SaveAndDecode(*small, "png");
  for (const QPoint point : {QPoint(0, 0), QPoint(25, 25), QPoint(49, 13)}) {
    EXPECT_NEAR(qGray(decoded.pixel(point)), 128, 24) << point.x() << "," << point.y();
  }
}

TEST_F(ImageLibraryTest, TransparencyBecomesWhiteOnlyInFormatsWithoutAlpha) {
  const QImage half = testing::TwoColourPicture(20, 10, QColor(0, 0, 0, 0), kBlue);
  std::unique_ptr<Bitmap> bitmap = LoadOk(Write("half.png", testing::Encode(half, "png")));
  ASSERT_TRUE(bitmap);
  for (const char* out : {"bmp", "jpeg"}) {
    const QImage decoded = SaveAndDecode(*bitmap, out);
    EXPECT_TRUE(NearColour(decoded.pixel(2, 5), Qt::white)) << out;
    EXPECT_TRUE(NearColour(decoded.pixel(17, 5), kBlue)) << out;
  }
  const QImage png = SaveAndDecode(*bitmap, "png");
  EXPECT_EQ(qAlpha(png.pixel(2, 5)), 0);
}

TEST_F(ImageLibraryTest, SaveWritesAtTheFilesPositionAndItsGrowthIsThePicture) {
  platform::File spill = platform::CreateScratchFileIn(folder_.path().toStdString());
  ASSERT_TRUE(spill.IsOpen());
  ASSERT_TRUE(spill.Write("earlier picture", 15));
  std::unique_ptr<Bitmap> bitmap = LoadOk(
      Write("p.png", testing::Encode(testing::TwoColourPicture(30, 20, kRed, kBlue), "png")));
  ASSERT_TRUE(bitmap);

  for (const char* out : {"bmp", "png", "jpeg"}) {
    const uint64_t start = spill.Size().value();
    ASSERT_TRUE(spill.SeekToEnd());
    FileSaveTarget target(spill);
    ASSERT_EQ(library_->Save(*bitmap, out, target), ImageStatus::kOk) << out;
    const uint64_t end = spill.Size().value();
    EXPECT_EQ(spill.Tell(), end) << out;
    ASSERT_GT(end, start);
    std::string bytes(end - start, '\0');
    ASSERT_TRUE(spill.ReadAt(start, bytes.data(), bytes.size()));
    EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(bytes), out).size(), QSize(30, 20))
        << out;
  }
  char head[15];
  ASSERT_TRUE(spill.ReadAt(0, head, sizeof head));
  EXPECT_EQ(std::string(head, sizeof head), "earlier picture");
}

TEST_F(ImageLibraryTest, SaveReportsRefusedWritesAndUnknownFormats) {
  std::unique_ptr<Bitmap> bitmap = LoadOk(
      Write("p.png", testing::Encode(testing::TwoColourPicture(60, 40, kRed, kBlue), "png")));
  ASSERT_TRUE(bitmap);
  for (const char* out : {"bmp", "png", "jpeg"}) {
    MemoryTarget full;
    full.refuse_writes_past = 100;
    EXPECT_EQ(library_->Save(*bitmap, out, full), ImageStatus::kWriteFailed) << out;
    MemoryTarget no_tell;
    no_tell.refuse_tell = true;
    EXPECT_EQ(library_->Save(*bitmap, out, no_tell), ImageStatus::kWriteFailed) << out;
  }
  MemoryTarget target;
  EXPECT_EQ(library_->Save(*bitmap, "gif", target), ImageStatus::kUnknownSaveFormat);
  EXPECT_EQ(library_->Save(*bitmap, "", target), ImageStatus::kUnknownSaveFormat);
  EXPECT_EQ(target.bytes_written, 0u);
}

TEST_F(ImageLibraryTest, MissingUnreadableAndCorruptFilesFailCleanly) {
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(library_->Load(Path("missing.png"), &bitmap), ImageStatus::kCannotOpen);
  EXPECT_EQ(library_->Load(folder_.path().toStdString(), &bitmap), ImageStatus::kCannotOpen);
  EXPECT_EQ(library_->Load("", &bitmap), ImageStatus::kCannotOpen);
  EXPECT_EQ(library_->Load(Write("empty.png", ""), &bitmap), ImageStatus::kUnknownFormat);
  EXPECT_EQ(library_->Load(Write("text.jpg", "not a picture at all, only words"), &bitmap),
            ImageStatus::kUnknownFormat);
  EXPECT_FALSE(bitmap);

  // A PNG whose pixel data is overwritten: recognised, then refused.
  std::string png = testing::Encode(testing::TwoColourPicture(64, 64, kRed, kBlue), "png");
  const size_t idat = png.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  for (size_t i = idat + 4; i < png.size() - 12; ++i) png[i] = static_cast<char>(0xA5);
  EXPECT_EQ(library_->Load(Write("broken.png", png), &bitmap), ImageStatus::kCorrupt);
  EXPECT_FALSE(bitmap);
}

// A small file that claims a huge picture is refused from its header: the
// pixels are never decoded, so it costs neither time nor memory.
TEST_F(ImageLibraryTest, PicturesOverThePixelLimitAreRefusedBeforeDecoding) {
  const std::string bomb = testing::EncodeLargeBlankPng(16000, 16000);
  EXPECT_LT(bomb.size(), 1u << 20);
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(library_->PixelLimit(), kDefaultPixelLimit);
  EXPECT_EQ(library_->Load(Write("bomb.png", bomb), &bitmap), ImageStatus::kTooLarge);
  EXPECT_FALSE(bitmap);
  EXPECT_EQ(library_->RefusedWidth(), 16000);
  EXPECT_EQ(library_->RefusedHeight(), 16000);

  // The limit is the caller's to set; a picture at the limit loads.
  const std::string small = Write("small.png", testing::EncodeLargeBlankPng(100, 50));
  library_->SetPixelLimit(4999);
  EXPECT_EQ(library_->Load(small, &bitmap), ImageStatus::kTooLarge);
  library_->SetPixelLimit(5000);
  EXPECT_EQ(library_->Load(small, &bitmap), ImageStatus::kOk);
  EXPECT_EQ(library_->RefusedWidth(), 0);
}

// A FIFO or device named as a picture would block a plain open for ever.
TEST_F(ImageLibraryTest, AFifoOrDeviceIsRefusedWithoutWaiting) {
  const std::string fifo = Path("pipe.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(library_->Load(fifo, &bitmap), ImageStatus::kCannotOpen);
  EXPECT_EQ(library_->Load("/dev/zero", &bitmap), ImageStatus::kCannotOpen);
}

TEST_F(ImageLibraryTest, TruncatedFilesNeverYieldAWrongPicture) {
  const QImage image = testing::TwoColourPicture(40, 30, kRed, kBlue)
                           .convertToFormat(QImage::Format_RGB32);
  for (const char* format : {"png", "jpeg", "bmp"}) {
    const std::string bytes = testing::Encode(image, format);
    for (size_t length = 0; length < bytes.size(); length += 7) {
      std::unique_ptr<Bitmap> bitmap;
      const std::string path = Write("cut", bytes.substr(0, length));
      if (library_->Load(path, &bitmap) == ImageStatus::kOk) {
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->Width(), 40) << format << " cut at " << length;
        EXPECT_EQ(bitmap->Height(), 30) << format << " cut at " << length;
      } else {
        EXPECT_FALSE(bitmap);
      }
    }
  }
}

TEST_F(ImageLibraryTest, PathsAreBytesNotLocaleText) {
  // Latin-1 "é" is not valid UTF-8; the file must still be found.
  const std::string path = Write(std::string("plan\xE8te.png"),
                                 testing::Encode(testing::TwoColourPicture(8, 8, kRed, kBlue), "png"));
  EXPECT_TRUE(LoadOk(path));
}

TEST_F(ImageLibraryTest, ResizeRejectsImpossibleSizesAndForeignBitmaps) {
  std::unique_ptr<Bitmap> bitmap = LoadOk(
      Write("p.png", testing::Encode(testing::TwoColourPicture(8, 8, kRed, kBlue), "png")));
  ASSERT_TRUE(bitmap);
  std::unique_ptr<Bitmap> out;
  EXPECT_EQ(library_->Resize(*bitmap, 0, 10, &out), ImageStatus::kBadSize);
  EXPECT_EQ(library_->Resize(*bitmap, 10, -1, &out), ImageStatus::kBadSize);
  EXPECT_EQ(library_->Resize(*bitmap, 70000, 10, &out), ImageStatus::kBadSize);
  EXPECT_EQ(library_->Resize(*bitmap, 60000, 60000, &out), ImageStatus::kTooLarge);
  EXPECT_FALSE(out);

  class OtherBitmap final : public Bitmap {
    int Width() const override { return 1; }
    int Height() const override { return 1; }
    int BitsPerPixel() const override { return 24; }
    int XDpi() const override { return 72; }
    int YDpi() const override { return 72; }
    PictureFormat Format() const override { return PictureFormat::kPng; }
  } other;
  MemoryTarget target;
  EXPECT_EQ(library_->Resize(other, 1, 1, &out), ImageStatus::kForeignBitmap);
  EXPECT_EQ(library_->Save(other, "png", target), ImageStatus::kForeignBitmap);
}

// Each test runs in a process of its own, so this one alone has an
// application object; the others show that none is needed.
TEST_F(ImageLibraryTest, WorksUnderAnOffscreenGuiApplication) {
  int argc = 1;
  char name[] = "fvx_imaging_tests";
  char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  std::unique_ptr<Bitmap> bitmap = LoadOk(Write(
      "p.jpeg", testing::Encode(testing::TwoColourPicture(32, 32, kRed, kBlue)
                                    .convertToFormat(QImage::Format_RGB32),
                                "jpeg")));
  ASSERT_TRUE(bitmap);
  std::unique_ptr<Bitmap> small;
  ASSERT_EQ(library_->Resize(*bitmap, 16, 16, &small), ImageStatus::kOk);
  EXPECT_EQ(SaveAndDecode(*small, "jpeg").size(), QSize(16, 16));
}

// The plug-in folder decides whether MNG and JNG exist.
class PluginFolderTest : public ImageLibraryTest {
 protected:
  void SetUp() override {
    ImageLibraryTest::SetUp();
    mng_ = Write("comet.mng", testing::EncodeMng({testing::TwoColourPicture(24, 16, kRed, kRed),
                                                 testing::TwoColourPicture(24, 16, kBlue, kBlue)}));
    jng_ = Write("moon.jng", testing::EncodeJng(testing::TwoColourPicture(40, 20, kRed, kBlue)));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path("plugins"))));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path("empty"))));
  }

  std::string InstallPlugin() {
    const std::string target = Path("plugins/Vjng.so");
    EXPECT_TRUE(QFile::copy(FVX_VJNG_PLUGIN, QString::fromStdString(target)));
    return target;
  }

  static bool Lists(const ImageLibrary& library, const std::string& name) {
    for (const FormatInfo& format : library.ReadableFormats()) {
      if (format.name == name) return true;
    }
    return false;
  }

  std::string mng_;
  std::string jng_;
};

TEST_F(PluginFolderTest, WithoutTheFileThereIsNoMngOrJng) {
  std::unique_ptr<ImageLibrary> library = CreateQtImageLibrary();
  library->Initialize(Path("empty"));
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(library->Load(mng_, &bitmap), ImageStatus::kUnknownFormat);
  EXPECT_EQ(library->Load(jng_, &bitmap), ImageStatus::kUnknownFormat);
  EXPECT_FALSE(Lists(*library, "mng"));
  EXPECT_FALSE(Lists(*library, "jng"));
  EXPECT_TRUE(Lists(*library, "png"));
  EXPECT_TRUE(Lists(*library, "gif"));
}

TEST_F(PluginFolderTest, WithVjngInTheFolderMngGivesItsFirstFrameAndJngLoads) {
  InstallPlugin();
  // Junk beside the plug-in is skipped, and "\" separators are accepted.
  ASSERT_TRUE(testing::WriteFile(Path("plugins/libjunk.so"), "not a library"));
  std::unique_ptr<ImageLibrary> library = CreateQtImageLibrary();
  library->Initialize(Path("plugins") + "\\");

  bool described = false;
  for (const FormatInfo& format : library->ReadableFormats()) {
    if (format.name == "mng") {
      described = format.description == "Multiple Network Graphics" &&
                  format.provider == "MNG/JNG format";
    }
    if (format.name == "jng") {
      EXPECT_EQ(format.description, "Jpeg Network Graphics");
    }
  }
  EXPECT_TRUE(described);

  std::unique_ptr<Bitmap> mng;
  ASSERT_EQ(library->Load(mng_, &mng), ImageStatus::kOk);
  EXPECT_EQ(mng->Format(), PictureFormat::kMng);
  EXPECT_EQ(mng->Width(), 24);
  EXPECT_EQ(mng->Height(), 16);
  const QImage first = SaveAndDecode(*mng, "png");
  EXPECT_TRUE(NearColour(first.pixel(12, 8), kRed, 0));

  std::unique_ptr<Bitmap> jng;
  ASSERT_EQ(library->Load(jng_, &jng), ImageStatus::kOk);
  EXPECT_EQ(jng->Format(), PictureFormat::kJng);
  EXPECT_EQ(jng->BitsPerPixel(), 24);
  const QImage decoded = SaveAndDecode(*jng, "bmp");
  ASSERT_EQ(decoded.size(), QSize(40, 20));
  EXPECT_TRUE(NearColour(decoded.pixel(5, 10), kRed));
  EXPECT_TRUE(NearColour(decoded.pixel(35, 10), kBlue));

  // Ordinary formats still come from Qt with the plug-in present.
  EXPECT_TRUE(LoadOk(Write("p.png", testing::Encode(first, "png"))));

  library->Shutdown();
  EXPECT_EQ(library->Load(mng_, &mng), ImageStatus::kUnknownFormat);
  EXPECT_FALSE(Lists(*library, "mng"));
}

TEST_F(PluginFolderTest, ACorruptMngFailsThroughThePlugin) {
  InstallPlugin();
  std::unique_ptr<ImageLibrary> library = CreateQtImageLibrary();
  library->Initialize(Path("plugins"));
  std::string bytes = *testing::ReadFile(mng_);
  bytes.resize(bytes.find("IDAT") + 10);  // inside the first frame's pixels
  std::unique_ptr<Bitmap> bitmap;
  EXPECT_EQ(library->Load(Write("cut.mng", bytes), &bitmap), ImageStatus::kCorrupt);
  EXPECT_FALSE(bitmap);
}

}  // namespace
}  // namespace fvx::imaging
