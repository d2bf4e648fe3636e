#include "compiler/backend/picture_processor.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "compiler/backend/picture_processor_testing.h"
#include "compiler/backend/picture_section.h"

namespace fvx::compiler {
namespace {

using imaging::Bitmap;
using imaging::ImageStatus;
using imaging::PictureFormat;
using testing::PictureStageRun;
using testing::WriteBytes;

// --- A fake image library ------------------------------------------------------
//
// A fake picture file is the text "FAKE <format> <width> <height>" followed
// by anything (padding makes it as long as a test wants). Saving writes
// "SAVED <format> <width> <height>;" so that a test can read back what was
// stored and at which size.

class FakeBitmap final : public Bitmap {
 public:
  FakeBitmap(int width, int height, PictureFormat format)
      : width_(width), height_(height), format_(format) {}
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int BitsPerPixel() const override { return 24; }
  int XDpi() const override { return 72; }
  int YDpi() const override { return 96; }
  PictureFormat Format() const override { return format_; }

 private:
  int width_;
  int height_;
  PictureFormat format_;
};

PictureFormat FormatNamed(const std::string& name) {
  if (name == "jpeg") return PictureFormat::kJpeg;
  if (name == "bmp") return PictureFormat::kBmp;
  if (name == "png") return PictureFormat::kPng;
  if (name == "gif") return PictureFormat::kGif;
  return PictureFormat::kOther;
}

std::string FakePicture(const std::string& format, int width, int height, size_t length = 0) {
  std::string bytes = "FAKE " + format + " " + std::to_string(width) + " " +
                      std::to_string(height) + "\n";
  for (size_t i = 0; bytes.size() < length; ++i) bytes += static_cast<char>(i * 7 + 3);
  return bytes;
}

std::string Saved(const std::string& format, int width, int height) {
  return "SAVED " + format + " " + std::to_string(width) + " " + std::to_string(height) + ";";
}

class FakeLibrary final : public imaging::ImageLibrary {
 public:
  void Initialize(const std::string&) override {}
  void Shutdown() override {}
  std::vector<imaging::FormatInfo> ReadableFormats() const override { return {}; }

  ImageStatus Load(const std::string& path, std::unique_ptr<Bitmap>* bitmap) override {
    bitmap->reset();
    ++loads[path];
    platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
    if (!file.IsOpen()) return ImageStatus::kCannotOpen;
    std::string head(64, '\0');
    const size_t got = file.ReadSome(head.data(), head.size()).value_or(0);
    std::istringstream in(head.substr(0, got));
    std::string magic, format;
    int width = 0, height = 0;
    in >> magic >> format >> width >> height;
    if (magic != "FAKE" || !in) return ImageStatus::kUnknownFormat;
    *bitmap = std::make_unique<FakeBitmap>(width, height, FormatNamed(format));
    return ImageStatus::kOk;
  }

  ImageStatus Resize(const Bitmap& source, int width, int height,
                     std::unique_ptr<Bitmap>* resized) override {
    resized->reset();
    resizes.push_back({static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
    if (width < 1 || height < 1 || fail_resizes) return ImageStatus::kBadSize;
    *resized = std::make_unique<FakeBitmap>(width, height, source.Format());
    return ImageStatus::kOk;
  }

  ImageStatus Save(const Bitmap& bitmap, std::string_view format_name,
                   imaging::SaveTarget& target) override {
    ++saves;
    const std::string text = Saved(std::string(format_name), bitmap.Width(), bitmap.Height());
    // A failing encoder may already have written a part of its output.
    if (saves == fail_save_number || (fail_saves_up_to_width != 0 &&
                                      bitmap.Width() <= fail_saves_up_to_width)) {
      return target.Write(text.data(), 3) ? ImageStatus::kCorrupt : ImageStatus::kWriteFailed;
    }
    return target.Write(text.data(), text.size()) ? ImageStatus::kOk : ImageStatus::kWriteFailed;
  }

  std::map<std::string, int> loads;
  std::vector<PictureSize> resizes;
  int saves = 0;
  int fail_save_number = 0;       // the n-th save fails (1-based), 0: none
  int fail_saves_up_to_width = 0;  // saves of bitmaps this narrow fail
  bool fail_resizes = false;
};

class PictureProcessorTest : public ::testing::Test {
 protected:
  // A picture file in the source's folder.
  std::string Put(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(WriteBytes(run_.folder.path() + name, bytes));
    return run_.folder.path() + name;
  }
  bool Said(Level level, const std::string& text) { return run_.Said(level, text); }

  PictureStageRun run_;
  FakeLibrary library_;
};

// --- Grouping and limits -------------------------------------------------------

TEST_F(PictureProcessorTest, OnePathWithAndWithoutResizeWidthHasNoLimitAndOneIndex) {
  Put("map.png", FakePicture("png", 400, 300));
  const int64_t a = run_.Add("map.png", kPictureFlagSmallVersion, 200, 0, 3, 5);
  const int64_t b = run_.Add("map.png", kPictureFlagSmallVersion, 0, 0, 9, 2);
  run_.properties.picture_target = CDocumentProperties::kPictureTargetPpc;  // 400 > 300
  ASSERT_TRUE(run_.Run(&library_));

  ASSERT_EQ(run_.results.PictureCount(), 1u);
  EXPECT_EQ(run_.results.PictureIndex(a), 0u);
  EXPECT_EQ(run_.results.PictureIndex(b), 0u);
  EXPECT_EQ(library_.loads[run_.folder.path() + "map.png"], 1);
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 400, 300));  // converted at its own size
  EXPECT_EQ(run_.CountSaid("     Image is larger than maximum values specified. Resizing..."),
            0u);
  for (const auto& line : run_.messages.lines) {
    EXPECT_EQ(line.second.find("Max width"), std::string::npos) << line.second;
  }
}

TEST_F(PictureProcessorTest, LargestResizeWidthWinsAndNamesItsReference) {
  Put("wide.png", FakePicture("png", 600, 300));
  const int64_t a = run_.Add("wide.png", kPictureFlagSmallVersion, 200, 0, 4, 11);
  const int64_t b = run_.Add("wide.png", kPictureFlagSmallVersion, 300, 0, 8, 6);
  ASSERT_TRUE(run_.Run(&library_));

  EXPECT_TRUE(Said(Level::kInformation,
                   "     Image is larger than maximum values specified. Resizing..."));
  EXPECT_TRUE(Said(Level::kInformation, "     Width : 600 Height : 300."));
  EXPECT_TRUE(Said(Level::kInformation, "     Width : 300 Height : 150."));
  EXPECT_TRUE(Said(Level::kInformation, "     Max width ( 300 ) chosen from Line 8 : Line 6"));
  EXPECT_EQ(run_.results.PictureIndex(a), 0u);
  EXPECT_EQ(run_.results.PictureIndex(b), 0u);
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 300, 150));
}

TEST_F(PictureProcessorTest, HeightLimitAndTheLimitsOfASingleReference) {
  Put("tall.png", FakePicture("png", 200, 800));
  run_.Add("tall.png", kPictureFlagSmallVersion, 0, 400, 2, 1);
  run_.Add("tall.png", kPictureFlagSmallVersion, 0, 250, 5, 1);
  Put("single.png", FakePicture("png", 200, 800));
  run_.Add("single.png", kPictureFlagSmallVersion, 0, 400, 7, 1);
  ASSERT_TRUE(run_.Run(&library_));

  ASSERT_EQ(run_.results.PictureCount(), 2u);
  EXPECT_TRUE(Said(Level::kInformation, "     Max height ( 400 ) chosen from Line 2 : Line 1"));
  // A group of one reference has nobody to choose between: no message.
  EXPECT_EQ(run_.CountSaid("     Max height ( 400 ) chosen from Line 7 : Line 1"), 0u);
  EXPECT_EQ(run_.Stored(1), Saved("bmp", 100, 400));
}

TEST_F(PictureProcessorTest, DocumentMaximaApplyOnlyWhenNoGroupLimitDid) {
  Put("a.png", FakePicture("png", 1000, 500));
  Put("b.png", FakePicture("png", 1000, 500));
  Put("c.png", FakePicture("png", 1000, 500));
  run_.Add("a.png", 0);                // document limits
  run_.Add("b.png", 0, 800, 0, 2, 1);  // its own width limit; the document height is not used
  run_.Add("c.png", 0, 2000, 0, 3, 1);  // a limit it does not reach: document limits again
  run_.properties.max_picture_width = 600;
  run_.properties.max_picture_height = 100;
  ASSERT_TRUE(run_.Run(&library_));

  ASSERT_EQ(run_.results.PictureCount(), 3u);
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 200, 100));
  EXPECT_EQ(run_.Stored(1), Saved("bmp", 800, 400));
  EXPECT_EQ(run_.Stored(2), Saved("bmp", 200, 100));
}

TEST_F(PictureProcessorTest, SquarePictureWithAWidthLimitIsReduced) {
  Put("square.png", FakePicture("png", 400, 400));
  run_.Add("square.png", 0, 300);
  ASSERT_TRUE(run_.Run(&library_));
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 300, 300));
}

// --- Stored forms --------------------------------------------------------------

TEST_F(PictureProcessorTest, JpegAndBmpNeedingNoLimitAreCopiedByteForByte) {
  // Longer than one copy piece, with a short last piece.
  const std::string jpeg = FakePicture("jpeg", 120, 90, 3 * 32768 + 123);
  const std::string bmp = FakePicture("bmp", 50, 40, 777);
  Put("photo.jpg", jpeg);
  Put("icon.bmp", bmp);
  run_.Add("photo.jpg", 0);
  run_.Add("icon.bmp", 0);
  ASSERT_TRUE(run_.Run(&library_));

  ASSERT_EQ(run_.results.PictureCount(), 2u);
  EXPECT_EQ(run_.Stored(0), bmp);  // "icon.bmp" sorts first
  EXPECT_EQ(run_.Stored(1), jpeg);
  EXPECT_EQ(library_.saves, 0);
  EXPECT_EQ(run_.results.bytes_processed, jpeg.size() + bmp.size());
  EXPECT_EQ(run_.results.bytes_stored, jpeg.size() + bmp.size());
  EXPECT_EQ(run_.results.small_bytes, 0u);
  EXPECT_EQ(run_.results.directory[1].start, bmp.size());
  EXPECT_EQ(run_.results.directory[1].width, 120u);
  EXPECT_EQ(run_.results.directory[1].height, 90u);
}

TEST_F(PictureProcessorTest, ResizedJpegStaysJpegAndOthersBecomeBmp) {
  Put("big.jpg", FakePicture("jpeg", 900, 600));
  Put("big.bmp", FakePicture("bmp", 900, 600));
  Put("big.gif", FakePicture("gif", 900, 600));
  run_.Add("big.jpg", 0, 300);
  run_.Add("big.bmp", 0, 300);
  run_.Add("big.gif", 0, 300);
  ASSERT_TRUE(run_.Run(&library_));
  ASSERT_EQ(run_.results.PictureCount(), 3u);
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 300, 200));   // big.bmp
  EXPECT_EQ(run_.Stored(1), Saved("bmp", 300, 200));   // big.gif
  EXPECT_EQ(run_.Stored(2), Saved("jpeg", 300, 200));  // big.jpg
}

TEST_F(PictureProcessorTest, PastThreeThousandReferencesConvertedPicturesArePng) {
  Put("dot.png", FakePicture("png", 20, 20));
  Put("dot.jpg", FakePicture("jpeg", 20, 20));
  ASSERT_TRUE(run_.db.Begin());
  for (int i = 0; i < 3000; ++i) run_.Add("dot.png", kPictureFlagSmallVersion, 0, 0, i + 1, 1);
  const int64_t last = run_.Add("dot.jpg", kPictureFlagSmallVersion, 0, 0, 5000, 1);
  ASSERT_TRUE(run_.db.End());
  ASSERT_TRUE(run_.Run(&library_));

  ASSERT_EQ(run_.results.PictureCount(), 2u);
  EXPECT_EQ(run_.Stored(0), FakePicture("jpeg", 20, 20));  // still copied
  EXPECT_EQ(run_.Stored(1), Saved("png", 20, 20));
  EXPECT_EQ(run_.results.PictureIndex(static_cast<uint32_t>(last)), 0u);
  EXPECT_EQ(run_.results.PictureIndex(1), 1u);
  EXPECT_EQ(run_.results.PictureIndex(3000), 1u);
}

TEST_F(PictureProcessorTest, ExactlyThreeThousandReferencesStillGiveBmp) {
  Put("dot.png", FakePicture("png", 20, 20));
  ASSERT_TRUE(run_.db.Begin());
  for (int i = 0; i < 3000; ++i) run_.Add("dot.png", 0, 0, 0, i + 1, 1);
  ASSERT_TRUE(run_.db.End());
  ASSERT_TRUE(run_.Run(&library_));
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 20, 20));
}

// --- Small versions ------------------------------------------------------------

TEST_F(PictureProcessorTest, SmallVersionOnlyForLargePicturesWithTheFlag) {
  Put("small.png", FakePicture("png", 100, 80));
  Put("large.png", FakePicture("png", 400, 300));
  Put("cover.png", FakePicture("png", 400, 300));
  run_.Add("small.png", kPictureFlagSmallVersion);
  run_.Add("large.png", kPictureFlagSmallVersion | kPictureFlagSketch);
  run_.Add("cover.png", 0);  // cover and background pictures have no small version
  ASSERT_TRUE(run_.Run(&library_));
  ASSERT_EQ(run_.results.PictureCount(), 3u);

  const ProcessedPicture& cover = run_.results.directory[0];
  EXPECT_EQ(cover.small_length, 0u);
  EXPECT_EQ(cover.width, 400u);

  const ProcessedPicture& large = run_.results.directory[1];
  const std::string small = Saved("bmp", 240, 180);
  EXPECT_EQ(large.small_length, small.size());
  EXPECT_EQ(large.width, 240u);  // the small version's size
  EXPECT_EQ(large.height, 180u);
  EXPECT_EQ(run_.Stored(1), Saved("bmp", 400, 300));
  EXPECT_EQ(run_.Small(1), small);

  const ProcessedPicture& tiny = run_.results.directory[2];
  EXPECT_EQ(tiny.small_length, 0u);
  EXPECT_EQ(tiny.width, 100u);
  EXPECT_EQ(tiny.height, 80u);

  EXPECT_EQ(run_.results.small_bytes, small.size());
  EXPECT_EQ(run_.results.bytes_stored, run_.Spill().size());
}

TEST_F(PictureProcessorTest, SmallVersionLimitFollowsTheTarget) {
  struct Case {
    uint32_t target;
    PictureSize small;
  };
  for (const Case& c : {Case{CDocumentProperties::kPictureTargetPalm, {130, 97}},
                        Case{CDocumentProperties::kPictureTargetPpc, {300, 225}},
                        Case{CDocumentProperties::kPictureTargetNotSet, {240, 180}}}) {
    PictureStageRun run;
    FakeLibrary library;
    ASSERT_TRUE(WriteBytes(run.folder.path() + "p.jpg", FakePicture("jpeg", 400, 300)));
    run.Add("p.jpg");
    run.properties.picture_target = c.target;
    ASSERT_TRUE(run.Run(&library));
    ASSERT_EQ(run.results.PictureCount(), 1u);
    EXPECT_EQ(run.results.directory[0].width, c.small.width) << c.target;
    EXPECT_EQ(run.results.directory[0].height, c.small.height) << c.target;
    EXPECT_EQ(run.Stored(0), FakePicture("jpeg", 400, 300));
    EXPECT_EQ(run.Small(0), Saved("jpeg", c.small.width, c.small.height));
  }
}

TEST_F(PictureProcessorTest, FailedSmallVersionKeepsThePictureAndLeavesNoBytes) {
  Put("a.png", FakePicture("png", 400, 300));
  Put("b.png", FakePicture("png", 400, 300));
  run_.Add("a.png", kPictureFlagSmallVersion, 0, 0, 12, 4);
  run_.Add("b.png", kPictureFlagSmallVersion, 0, 0, 13, 4);
  library_.fail_saves_up_to_width = 240;  // every small version
  ASSERT_TRUE(run_.Run(&library_));

  ASSERT_EQ(run_.results.PictureCount(), 2u);
  const std::string file = run_.folder.path() + "a.png";
  EXPECT_TRUE(Said(Level::kWarning,
                   "Line 12 : Col 4 : Failed to create a small version of the image. Picture "
                   "may not be available in the palm devices. \"" + file + "\""));
  EXPECT_EQ(run_.results.directory[0].small_length, 0u);
  EXPECT_EQ(run_.results.directory[0].width, 400u);
  // The half-written small version is gone: picture 0 ends where b begins.
  EXPECT_EQ(run_.Stored(0), Saved("bmp", 400, 300));
  EXPECT_EQ(run_.Spill(), Saved("bmp", 400, 300) + Saved("bmp", 400, 300));
  EXPECT_EQ(run_.results.small_bytes, 0u);
}

// --- Failures ------------------------------------------------------------------

TEST_F(PictureProcessorTest, MissingFileIsReportedAndTheCompileGoesOn) {
  Put("there.png", FakePicture("png", 10, 10));
  const int64_t a = run_.Add("gone.png", kPictureFlagSmallVersion, 0, 0, 30, 7);
  const int64_t b = run_.Add("gone.png", kPictureFlagSmallVersion, 0, 0, 21, 9);
  const int64_t c = run_.Add("there.png", kPictureFlagSmallVersion, 0, 0, 40, 1);
  ASSERT_TRUE(run_.Run(&library_));

  EXPECT_TRUE(Said(Level::kInformation, "Processing picture gone.png"));
  // The earliest reference gives the position.
  EXPECT_TRUE(Said(Level::kError, "Line 21 : Col 9 : Can't open picture file \"" +
                                      run_.folder.path() + "gone.png\""));
  EXPECT_TRUE(Said(Level::kInformation, "     Referenced at Line 30 : Col 7"));
  EXPECT_TRUE(Said(Level::kInformation, "     Referenced at Line 21 : Col 9"));
  EXPECT_EQ(run_.context.errors(), 1u);
  EXPECT_EQ(run_.results.PictureIndex(a), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureIndex(b), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureIndex(c), 0u);
  ASSERT_EQ(run_.results.PictureCount(), 1u);
  EXPECT_EQ(run_.results.directory[0].start, 0u);
}

TEST_F(PictureProcessorTest, UndecodablePictureCannotBeProcessed) {
  Put("broken.png", "\x89PNG\r\n\x1a\n garbage");
  Put("empty.png", "");
  const int64_t a = run_.Add("broken.png", kPictureFlagSmallVersion, 0, 0, 2, 3);
  run_.Add("empty.png", kPictureFlagSmallVersion, 0, 0, 4, 3);
  ASSERT_TRUE(run_.Run(&library_));
  EXPECT_TRUE(Said(Level::kError, "Line 2 : Col 3 : Can't process picture file \"" +
                                      run_.folder.path() + "broken.png\""));
  EXPECT_TRUE(Said(Level::kError, "Line 4 : Col 3 : Can't process picture file \"" +
                                      run_.folder.path() + "empty.png\""));
  EXPECT_EQ(run_.results.PictureIndex(a), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureCount(), 0u);
  EXPECT_EQ(run_.results.bytes_processed, 0u);
}

TEST_F(PictureProcessorTest, FailedSaveOrResizeLeavesThePreviousPictureIntact) {
  Put("a.png", FakePicture("png", 50, 50));
  Put("b.png", FakePicture("png", 60, 60));
  Put("c.png", FakePicture("png", 900, 900));
  run_.Add("a.png", 0);
  const int64_t b = run_.Add("b.png", 0, 0, 0, 6, 2);
  const int64_t c = run_.Add("c.png", 0, 100, 0, 7, 2);
  library_.fail_save_number = 2;  // b's save writes a little, then fails
  library_.fail_resizes = true;   // c cannot be resized
  ASSERT_TRUE(run_.Run(&library_));

  EXPECT_TRUE(Said(Level::kError, "Line 6 : Col 2 : Can't process picture file \"" +
                                      run_.folder.path() + "b.png\""));
  EXPECT_TRUE(Said(Level::kError, "Line 7 : Col 2 : Can't process picture file \"" +
                                      run_.folder.path() + "c.png\""));
  EXPECT_EQ(run_.results.PictureIndex(b), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureIndex(c), kUnresolvedPicture);
  ASSERT_EQ(run_.results.PictureCount(), 1u);
  EXPECT_EQ(run_.Spill(), Saved("bmp", 50, 50));
  EXPECT_EQ(run_.results.bytes_stored, run_.Spill().size());
}

TEST_F(PictureProcessorTest, WithoutLibraryEveryPictureIsUnprocessable) {
  Put("there.png", FakePicture("png", 10, 10));
  const int64_t a = run_.Add("there.png", kPictureFlagSmallVersion, 0, 0, 1, 2);
  run_.Add("gone.png", kPictureFlagSmallVersion, 0, 0, 3, 4);
  ASSERT_TRUE(run_.Run(nullptr));
  EXPECT_TRUE(Said(Level::kError, "Line 1 : Col 2 : Can't process picture file \"" +
                                      run_.folder.path() + "there.png\""));
  EXPECT_TRUE(Said(Level::kError, "Line 3 : Col 4 : Can't open picture file \"" +
                                      run_.folder.path() + "gone.png\""));
  EXPECT_EQ(run_.results.PictureIndex(a), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureCount(), 0u);
}

TEST_F(PictureProcessorTest, RowWithoutPathIsSkippedWithAWarning) {
  Put("p.png", FakePicture("png", 10, 10));
  const int64_t none = run_.Add(std::nullopt, kPictureFlagSmallVersion, 0, 0, 4, 2);
  const int64_t empty = run_.Add("", kPictureFlagSmallVersion, 0, 0, 5, 8);
  const int64_t p = run_.Add("p.png");
  ASSERT_TRUE(run_.Run(&library_));
  EXPECT_TRUE(Said(Level::kWarning, "Line 4 : Col 2: Image path not found."));
  EXPECT_TRUE(Said(Level::kWarning, "Line 5 : Col 8: Image path not found."));
  EXPECT_EQ(run_.results.PictureIndex(none), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureIndex(empty), kUnresolvedPicture);
  EXPECT_EQ(run_.results.PictureIndex(p), 0u);
}

TEST_F(PictureProcessorTest, RefusingSpillFileEndsTheStage) {
  Put("p.jpg", FakePicture("jpeg", 10, 10));
  Put("q.png", FakePicture("png", 10, 10));
  run_.Add("p.jpg");
  run_.Add("q.png");
  Put("spill", "");
  for (int converted = 0; converted < 2; ++converted) {
    platform::File read_only =
        platform::File::Open(run_.folder.path() + "spill", platform::File::Mode::kRead);
    ASSERT_TRUE(read_only.IsOpen());
    if (converted == 1) {  // only the conversion meets the refusing file
      CSqlQuery q(run_.db);
      ASSERT_TRUE(q.Exec("DELETE FROM tbl_Images WHERE Src = 'p.jpg'"));
    }
    const PictureJob job{run_.context, run_.properties, run_.db, run_.source_path, &library_,
                         read_only};
    PictureResults results;
    EXPECT_FALSE(ProcessPictures(job, &results)) << converted;
  }
}

// A full temporary folder is the place's fault: say so, not that the
// picture could not be processed.
TEST_F(PictureProcessorTest, AFullTemporaryFolderIsReportedAsSuch) {
  Put("p.jpg", FakePicture("jpeg", 10, 10));
  run_.Add("p.jpg", 0, 0, 0, 3, 1);
  platform::File full = platform::File::Open("/dev/full", platform::File::Mode::kReadWrite);
  ASSERT_TRUE(full.IsOpen());
  const PictureJob job{run_.context, run_.properties, run_.db, run_.source_path, &library_, full};
  PictureResults results;
  EXPECT_FALSE(ProcessPictures(job, &results));
  EXPECT_TRUE(Said(Level::kFatal, "Could not use a scratch file in the temporary folder \"/dev\": "
                                  "No space left on device"))
      << ::testing::PrintToString(run_.messages.LogLines());
  EXPECT_FALSE(Said(Level::kError, "Line 3 : Col 1 : Can't process picture file \"" +
                                       run_.folder.path() + "p.jpg\""));
}

TEST_F(PictureProcessorTest, SkipPicturesLeavesEveryPictureOut) {
  Put("p.png", FakePicture("png", 10, 10));
  const int64_t p = run_.Add("p.png");
  run_.options.skip_pictures = true;
  ASSERT_TRUE(run_.Run(&library_));
  EXPECT_EQ(run_.results.PictureCount(), 0u);
  EXPECT_EQ(run_.results.PictureIndex(p), kUnresolvedPicture);
  EXPECT_TRUE(library_.loads.empty());
  EXPECT_TRUE(run_.messages.lines.empty());
  EXPECT_EQ(run_.Spill(), "");
}

TEST_F(PictureProcessorTest, CancelEndsTheStage) {
  Put("p.png", FakePicture("png", 10, 10));
  run_.Add("p.png");
  run_.Add("p.png");
  CancellingProgressSink progress(1);
  CompileContext context(&run_.messages, &progress, &run_.options);
  context.SetRunning(true);
  const PictureJob job{context, run_.properties, run_.db, run_.source_path, &library_,
                       run_.spill};
  PictureResults results;
  EXPECT_FALSE(ProcessPictures(job, &results));
  EXPECT_TRUE(library_.loads.empty());  // the group never closed
}

TEST_F(PictureProcessorTest, InformationLinesOfAPicture) {
  Put("p.png", FakePicture("png", 33, 22));
  run_.Add("p.png");
  ASSERT_TRUE(run_.Run(&library_));
  std::vector<std::string> texts;
  for (const auto& [level, text] : run_.messages.lines) {
    EXPECT_EQ(level, Level::kInformation) << text;
    texts.push_back(text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Processing pictures...", "Processing picture p.png",
                                             "     Width : 33 Height : 22.",
                                             "     Bits count : 24", "     Xdpi : 72 Ydpi : 96"}));
}

TEST_F(PictureProcessorTest, WriterStageFillsThePictureSetWithAFreshSpillFile) {
  Put("a.png", FakePicture("png", 400, 300));
  Put("b.jpg", FakePicture("jpeg", 20, 10));
  const int64_t a = run_.Add("a.png");
  const int64_t gone = run_.Add("gone.png");
  const int64_t b = run_.Add("b.jpg", 0);
  platform::File text_spill;
  platform::File stream;
  CompileStatistics statistics;
  BookWriteJob job{run_.context, run_.properties, run_.db, text_spill, stream,
                   run_.source_path, false, statistics};
  PictureSet set;
  set.index_of_record.assign(10, 5);  // left from an earlier run
  ASSERT_TRUE(MakePictureStage(&library_)(job, &set));

  ASSERT_TRUE(set.spill.IsOpen());
  const std::string stored = Saved("bmp", 400, 300) + Saved("bmp", 240, 180);
  EXPECT_EQ(set.spill.Size().value_or(0), stored.size() + FakePicture("jpeg", 20, 10).size());
  ASSERT_EQ(set.directory.size(), 2u);
  EXPECT_EQ(set.directory[0].start, 0u);
  EXPECT_EQ(set.directory[0].small_length, Saved("bmp", 240, 180).size());
  EXPECT_EQ(set.directory[0].width, 240u);
  EXPECT_EQ(set.directory[1].start, stored.size());
  EXPECT_EQ(set.directory[1].height, 10u);
  ASSERT_EQ(set.index_of_record.size(), 4u);  // records 0..3
  EXPECT_EQ(set.index_of_record[0], kUnresolvedPicture);
  EXPECT_EQ(set.index_of_record[a], 0u);
  EXPECT_EQ(set.index_of_record[gone], kUnresolvedPicture);
  EXPECT_EQ(set.index_of_record[b], 1u);
  EXPECT_EQ(set.bytes_stored, set.spill.Size().value_or(0));
  EXPECT_EQ(set.small_bytes, Saved("bmp", 240, 180).size());
  EXPECT_EQ(set.bytes_processed,
            FakePicture("png", 400, 300).size() + FakePicture("jpeg", 20, 10).size());
}

// The deferred stage asks for the library only when the book refers to a
// picture (opening it loads Qt in fvx), and then as often as it runs.
TEST_F(PictureProcessorTest, DeferredStageOpensTheLibraryOnlyForABookWithPictures) {
  platform::File text_spill;
  platform::File stream;
  CompileStatistics statistics;
  BookWriteJob job{run_.context, run_.properties, run_.db, text_spill, stream,
                   run_.source_path, false, statistics};
  int opened = 0;
  const auto stage = MakeDeferredPictureStage([&] {
    ++opened;
    return &library_;
  });
  PictureSet set;
  ASSERT_TRUE(stage(job, &set));
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(set.PictureCount(), 0u);

  Put("a.png", FakePicture("png", 40, 30));
  run_.Add("a.png");
  ASSERT_TRUE(stage(job, &set));
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(set.PictureCount(), 1u);
}

// --- Paths ---------------------------------------------------------------------

TEST_F(PictureProcessorTest, RelativePathsAndPercentEscapes) {
  ASSERT_TRUE(std::filesystem::create_directory(run_.folder.path() + "art"));
  Put("art/night sky.png", FakePicture("png", 10, 10));
  Put("art/plain.png", FakePicture("png", 11, 11));
  Put("50%41.png", FakePicture("png", 12, 12));
  const int64_t escaped = run_.Add("art%5Cnight%20sky.png");
  const int64_t backslash = run_.Add(" \\art\\plain.png");
  const int64_t literal = run_.Add("50%41.png");  // found as written: no decoding
  const int64_t absolute = run_.Add(run_.folder.path() + "art/plain.png");
  ASSERT_TRUE(run_.Run(&library_));

  EXPECT_NE(run_.results.PictureIndex(escaped), kUnresolvedPicture);
  EXPECT_NE(run_.results.PictureIndex(backslash), kUnresolvedPicture);
  EXPECT_NE(run_.results.PictureIndex(literal), kUnresolvedPicture);
  EXPECT_NE(run_.results.PictureIndex(absolute), kUnresolvedPicture);
  EXPECT_EQ(run_.context.errors(), 0u);
  EXPECT_EQ(library_.loads[run_.folder.path() + "art%5Cnight%20sky.png"], 1);
  EXPECT_EQ(library_.loads[run_.folder.path() + "art/night sky.png"], 1);
  EXPECT_EQ(library_.loads.count(run_.folder.path() + "50A.png"), 0u);
}

TEST(ResolvePicturePathTest, Forms) {
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", "maps/a.png"), "/books/maps/a.png");
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", "\\maps\\a.png"), "/books/maps/a.png");
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", " \t/maps/a.png"), "/books/maps/a.png");
  EXPECT_EQ(ResolvePicturePath("C:\\books\\atlas.txt", "a.png"), "C:/books/a.png");
  EXPECT_EQ(ResolvePicturePath("atlas.txt", "a.png"), "a.png");
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", "/srv/a.png"), "/srv/a.png");
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", "D:\\pics\\a.png"), "D:/pics/a.png");
  // A ":" after the first separator does not make a path absolute.
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", "pics/a:b.png"), "/books/pics/a:b.png");
  EXPECT_EQ(ResolvePicturePath("/books/atlas.txt", ""), "/books/");
}

TEST(DecodePercentEscapesTest, OnlyTwoHexDigitsAreDecoded) {
  EXPECT_EQ(DecodePercentEscapes("a%20b%2fc%2F"), "a b/c/");
  EXPECT_EQ(DecodePercentEscapes("%e9t%C3%A9"), "\xE9t\xC3\xA9");
  EXPECT_EQ(DecodePercentEscapes("100%"), "100%");
  EXPECT_EQ(DecodePercentEscapes("%2"), "%2");
  EXPECT_EQ(DecodePercentEscapes("%zz%4"), "%zz%4");
  EXPECT_EQ(DecodePercentEscapes("%%41"), "%A");
  EXPECT_EQ(DecodePercentEscapes("a%00b"), "a%00b");
}

TEST(FitIntoBoxTest, KeepsProportionsInsideTheBox) {
  EXPECT_EQ(FitIntoBox({600, 300}, {300, 300}), (PictureSize{300, 150}));
  EXPECT_EQ(FitIntoBox({300, 600}, {300, 300}), (PictureSize{150, 300}));
  EXPECT_EQ(FitIntoBox({400, 300}, {240, 240}), (PictureSize{240, 180}));
  // The tighter side decides, whichever side of the picture is longer.
  EXPECT_EQ(FitIntoBox({400, 400}, {300, 400}), (PictureSize{300, 300}));
  EXPECT_EQ(FitIntoBox({1000, 800}, {1000, 400}), (PictureSize{500, 400}));
  EXPECT_EQ(FitIntoBox({800, 1000}, {400, 1000}), (PictureSize{400, 500}));
  // A thread of a picture keeps at least one pixel.
  EXPECT_EQ(FitIntoBox({5000, 2}, {50, 50}), (PictureSize{50, 1}));
  EXPECT_EQ(FitIntoBox({0, 0}, {50, 50}), (PictureSize{50, 50}));
}

TEST(SmallVersionLimitTest, ByTarget) {
  EXPECT_EQ(SmallVersionLimit(CDocumentProperties::kPictureTargetPalm), 130u);
  EXPECT_EQ(SmallVersionLimit(CDocumentProperties::kPictureTargetPpc), 300u);
  EXPECT_EQ(SmallVersionLimit(CDocumentProperties::kPictureTargetNotSet), 240u);
}

TEST(PictureIndexMapTest, UnknownRecordsAreUnresolved) {
  PictureIndexMap map;
  map.Reset(3);
  map.Set(2, 7);
  map.Set(9, 4);  // past the count: kept aside
  map.Set(0, 1);  // record 0 is no record
  map.Set(-5, 1);
  EXPECT_EQ(map.PictureIndex(0), kUnresolvedPicture);
  EXPECT_EQ(map.PictureIndex(1), kUnresolvedPicture);
  EXPECT_EQ(map.PictureIndex(2), 7u);
  EXPECT_EQ(map.PictureIndex(9), 4u);
  EXPECT_EQ(map.PictureIndex(8), kUnresolvedPicture);
  EXPECT_EQ(map.PictureIndex(0xFFFFFFFF), kUnresolvedPicture);
}

}  // namespace
}  // namespace fvx::compiler
