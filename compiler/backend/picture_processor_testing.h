// A picture stage over a work database filled directly, for the picture
// processor's tests (with a fake image library and with the real one).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "compiler/backend/picture_processor.h"
#include "compiler/base/compile_context.h"
#include "compiler/base/document_properties.h"
#include "compiler/base/test_sinks.h"
#include "compiler/base/work_database.h"
#include "platform/file.h"
#include "platform/scratch_file.h"

namespace fvx::compiler::testing {

// A folder of its own under the test temp folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "fvx_pictures_XXXXXX";
    if (char* made = ::mkdtemp(pattern.data())) path_ = std::string(made) + "/";
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // With a trailing "/".
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kCreateTruncate);
  return file.IsOpen() && file.Write(bytes.data(), bytes.size());
}

// The stage's collaborators; the source file lives in folder.
struct PictureStageRun {
  PictureStageRun() : context(&messages, progress, &options) {
    EXPECT_TRUE(db.Open());
    EXPECT_TRUE(db.CreateTables());
    spill = platform::CreateScratchFile("fvxpictest");
    EXPECT_TRUE(spill.IsOpen());
    context.SetRunning(true);
    source_path = folder.path() + "book.txt";
  }

  // One tbl_Images row as the front end writes it; its ROWID.
  int64_t Add(std::optional<std::string> src, uint32_t flags = kPictureFlagSmallVersion,
              uint32_t resize_width = 0, uint32_t resize_height = 0, uint32_t line = 1,
              uint32_t column = 1) {
    CSqlQuery q(db);
    EXPECT_TRUE(q.Exec("INSERT INTO tbl_Images(Src,Flags,ResizeWidth,ResizeHeight,Line,Column) "
                       "VALUES(%Q,%d,%d,%d,%d,%d)",
                       src ? src->c_str() : nullptr, static_cast<int>(flags),
                       static_cast<int>(resize_width), static_cast<int>(resize_height),
                       static_cast<int>(line), static_cast<int>(column)));
    return q.LastInsertRowId();
  }

  bool Run(imaging::ImageLibrary* library) {
    const PictureJob job{context, properties, db, source_path, library, spill};
    return ProcessPictures(job, &results);
  }

  std::string Spill() {
    std::string bytes(spill.Size().value_or(0), '\0');
    EXPECT_TRUE(spill.ReadAt(0, bytes.data(), bytes.size()));
    return bytes;
  }
  // Picture p's stored bytes (without its small version).
  std::string Stored(size_t p) {
    const std::string all = Spill();
    const uint64_t end =
        p + 1 < results.directory.size() ? results.directory[p + 1].start : all.size();
    const ProcessedPicture& entry = results.directory.at(p);
    return all.substr(entry.start, end - entry.start - entry.small_length);
  }
  std::string Small(size_t p) {
    const std::string all = Spill();
    const uint64_t end =
        p + 1 < results.directory.size() ? results.directory[p + 1].start : all.size();
    const ProcessedPicture& entry = results.directory.at(p);
    return all.substr(end - entry.small_length, entry.small_length);
  }

  bool Said(Level level, const std::string& text) const { return messages.Has(level, text); }
  size_t CountSaid(const std::string& text) const {
    size_t n = 0;
    for (const auto& line : messages.lines) n += line.second == text ? 1 : 0;
    return n;
  }

  TempFolder folder;
  RecordingMessageSink messages;
  ProgressSink* progress = nullptr;
  FixedOptions options;
  CompileContext context;
  WorkDatabase db;
  CDocumentProperties properties;
  platform::File spill;
  std::string source_path;
  PictureResults results;
};

}  // namespace fvx::compiler::testing
