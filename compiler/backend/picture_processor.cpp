#include "compiler/backend/picture_processor.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <optional>

#include "compiler/backend/picture_section.h"
#include "compiler/base/messages.h"
#include "compiler/base/scratch_report.h"
#include "platform/scratch_file.h"

namespace fvx::compiler {
namespace {

constexpr size_t kCopyPiece = 32768;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t ClampToU32(int64_t value) {
  if (value <= 0) return 0;
  return static_cast<uint32_t>(
      std::min<int64_t>(value, std::numeric_limits<uint32_t>::max()));
}

// One row of tbl_Images.
struct Reference {
  int64_t record = 0;
  uint32_t line = 0;
  uint32_t column = 0;
  uint32_t flags = 0;
  uint32_t width = 0;   // requested, 0 = none
  uint32_t height = 0;
};

// A requested limit over the references of a group: none as soon as one
// reference asks for none, else the largest request and who made it.
class GroupLimit {
 public:
  void Add(uint32_t requested, size_t reference) {
    if (requested == 0) {
      unlimited_ = true;
      return;
    }
    if (requested > largest_) {
      largest_ = requested;
      chooser_ = reference;
    }
  }
  uint32_t value() const { return unlimited_ ? 0 : largest_; }
  size_t chooser() const { return chooser_; }

 private:
  bool unlimited_ = false;
  uint32_t largest_ = 0;
  size_t chooser_ = 0;
};

// Every reference to one path (CPictureGroup).
struct CPictureGroup {
  std::string path;
  std::vector<Reference> references;
  uint32_t flags = 0;
  GroupLimit width;
  GroupLimit height;
  size_t earliest = 0;

  void Add(const Reference& reference) {
    const size_t at = references.size();
    references.push_back(reference);
    flags |= reference.flags;
    width.Add(reference.width, at);
    height.Add(reference.height, at);
    const Reference& first = references[earliest];
    if (reference.line < first.line ||
        (reference.line == first.line && reference.column < first.column)) {
      earliest = at;
    }
  }
  const Reference& First() const { return references[earliest]; }
};

// The spill file behind the image library's save callbacks; remembers when
// the file itself refused, which ends the stage, unlike an encoder failure.
class SpillTarget final : public imaging::SaveTarget {
 public:
  explicit SpillTarget(platform::File& file) : file_(file) {}
  bool Write(const void* data, size_t count) override { return Check(file_.Write(data, count)); }
  std::optional<uint64_t> Tell() override {
    std::optional<uint64_t> position = file_.Tell();
    Check(position.has_value());
    return position;
  }
  bool Seek(uint64_t position) override { return Check(file_.Seek(position)); }
  bool failed() const { return failed_; }

 private:
  bool Check(bool ok) {
    if (!ok) failed_ = true;
    return ok;
  }
  platform::File& file_;
  bool failed_ = false;
};

enum class Outcome { kStored, kCantOpen, kCantProcess, kSpillFailed };

class PictureProcessor {
 public:
  PictureProcessor(const PictureJob& job, PictureResults* results)
      : job_(job), context_(job.context), results_(*results) {}

  bool Run() {
    results_ = PictureResults{};
    if (context_.SkipPictures()) return true;

    context_.Report(false, Level::kInformation, MessageId::kProcessingPictures);
    uint64_t reference_count = 0;
    {
      CSqlQuery count(job_.database);
      if (!count.Query("SELECT COUNT(*) FROM tbl_Images") || !count.Step() ||
          !count.ColumnUInt(0, reference_count)) {
        return false;
      }
    }
    results_.index_map.Reset(reference_count);
    extra_flags_ = reference_count > kPngReferenceThreshold ? kPictureFlagStorePng : 0;
    small_limit_ = SmallVersionLimit(job_.properties.picture_target);

    context_.BeginProgress(reference_count);
    const bool ok = WalkReferences();
    context_.EndProgress();
    return ok;
  }

 private:
  bool WalkReferences() {
    CSqlQuery rows(job_.database);
    // ROWID breaks ties so that "the first reference" means the same every run.
    if (!rows.Query("SELECT ROWID,Src,Flags,ResizeWidth,ResizeHeight,Line,Column FROM "
                    "tbl_Images ORDER BY Src,ROWID")) {
      return false;
    }
    std::optional<CPictureGroup> group;
    uint64_t done = 0;
    while (rows.Step()) {
      if (!context_.KeepGoing()) return false;
      context_.SetProgress(++done);

      Reference reference;
      int64_t value = 0;
      if (!rows.ColumnInt(0, reference.record)) return false;
      const std::string path(rows.ColumnText(1).value_or(std::string_view()));
      (void)rows.ColumnInt(2, value);
      reference.flags = static_cast<uint32_t>(value);
      (void)rows.ColumnInt(3, value);
      reference.width = ClampToU32(value);
      (void)rows.ColumnInt(4, value);
      reference.height = ClampToU32(value);
      (void)rows.ColumnInt(5, value);
      reference.line = ClampToU32(value);
      (void)rows.ColumnInt(6, value);
      reference.column = ClampToU32(value);

      if (path.empty()) {
        context_.Report(false, Level::kWarning, MessageId::kImagePathNotFound, "%u:%u",
                        {reference.line, reference.column});
        continue;
      }
      if (group && group->path != path) {
        if (!ProcessGroup(*group)) return false;
        group.reset();
      }
      if (!group) {
        group.emplace();
        group->path = path;
      }
      group->Add(reference);
    }
    if (rows.result() != SQLITE_DONE) return false;
    return !group || ProcessGroup(*group);
  }

  // False only when the stage must end (the spill file failed).
  bool ProcessGroup(const CPictureGroup& group) {
    ProcessedPicture entry;
    uint64_t source_size = 0;
    const Outcome outcome = ProcessPicture(group, &entry, &source_size);
    if (outcome == Outcome::kSpillFailed) return false;
    if (outcome != Outcome::kStored) {
      if (group.references.size() > 1) {
        for (const Reference& reference : group.references) {
          context_.Report(false, Level::kInformation, MessageId::kReferencedAt, "%u:%u",
                          {reference.line, reference.column});
        }
      }
      return true;
    }

    const uint32_t index = results_.PictureCount();
    results_.directory.push_back(entry);
    results_.bytes_processed += source_size;
    if (group.references.size() > 1) {
      ReportChosenLimit(group, group.width, MessageId::kMaxWidthChosen);
      ReportChosenLimit(group, group.height, MessageId::kMaxHeightChosen);
    }
    for (const Reference& reference : group.references) {
      results_.index_map.Set(reference.record, index);
    }
    return true;
  }

  void ReportChosenLimit(const CPictureGroup& group, const GroupLimit& limit, MessageId id) {
    if (limit.value() == 0) return;
    const Reference& chooser = group.references[limit.chooser()];
    context_.Report(false, Level::kInformation, id, "%u:%u:%u",
                    {limit.value(), chooser.line, chooser.column});
  }

  void ReportFailure(MessageId id, const CPictureGroup& group, const std::string& path,
                     Level level = Level::kError) {
    const Reference& first = group.First();
    context_.Report(false, level, id, "%u:%u:%s", {first.line, first.column, path});
  }

  // Loads the picture, trying the path with its "%XX" escapes decoded when
  // the path as written fails. *file_found tells a file that is there but
  // cannot be decoded (or no library) from a missing one; *used_path is the
  // file to name in messages and to copy from.
  std::unique_ptr<imaging::Bitmap> Load(const CPictureGroup& group, std::string* used_path,
                                        bool* file_found) {
    std::array<std::string, 2> candidates = {
        ResolvePicturePath(job_.source_path, group.path),
        ResolvePicturePath(job_.source_path, DecodePercentEscapes(group.path))};
    const size_t tries = candidates[1] != candidates[0] ? 2 : 1;
    *used_path = candidates[0];
    *file_found = false;
    last_status_ = imaging::ImageStatus::kOk;
    for (size_t i = 0; i < tries; ++i) {
      if (job_.library == nullptr) {
        if (platform::File::OpenForReading(candidates[i]).IsOpen()) {
          *file_found = true;
          *used_path = candidates[i];
          return nullptr;
        }
        continue;
      }
      std::unique_ptr<imaging::Bitmap> bitmap;
      const imaging::ImageStatus status = job_.library->Load(candidates[i], &bitmap);
      if (status == imaging::ImageStatus::kOk && bitmap != nullptr) {
        *file_found = true;
        *used_path = candidates[i];
        return bitmap;
      }
      if (status != imaging::ImageStatus::kCannotOpen && !*file_found) {
        // The file is there but cannot be decoded: name it in the message.
        *file_found = true;
        *used_path = candidates[i];
        last_status_ = status;
      }
    }
    return nullptr;
  }

  Outcome ProcessPicture(const CPictureGroup& group, ProcessedPicture* entry,
                         uint64_t* source_size) {
    context_.Report(false, Level::kInformation, MessageId::kProcessingPicture, "%s",
                    {group.path});
    std::string path;
    bool file_found = false;
    std::unique_ptr<imaging::Bitmap> bitmap = Load(group, &path, &file_found);
    if (!file_found) {
      ReportFailure(MessageId::kCantOpenPicture, group, path);
      return Outcome::kCantOpen;
    }
    platform::File source = platform::File::OpenForReading(path);
    std::optional<uint64_t> size = source.IsOpen() ? source.Size() : std::nullopt;
    if (!size) {
      ReportFailure(MessageId::kCantOpenPicture, group, path);
      return Outcome::kCantOpen;
    }
    if (bitmap == nullptr || bitmap->Width() <= 0 || bitmap->Height() <= 0) {
      ReportFailure(MessageId::kCantProcessPicture, group, path);
      ReportReason();
      return Outcome::kCantProcess;
    }
    *source_size = *size;

    const PictureSize own{static_cast<uint32_t>(bitmap->Width()),
                          static_cast<uint32_t>(bitmap->Height())};
    context_.Report(false, Level::kInformation, MessageId::kPictureSize, "%u:%u",
                    {own.width, own.height});
    context_.Report(false, Level::kInformation, MessageId::kPictureBits, "%d",
                    {bitmap->BitsPerPixel()});
    context_.Report(false, Level::kInformation, MessageId::kPictureDpi, "%d:%d",
                    {bitmap->XDpi(), bitmap->YDpi()});

    PictureSize box = own;
    bool limited = ApplyLimit(group.width.value(), &box.width);
    limited = ApplyLimit(group.height.value(), &box.height) || limited;
    if (!limited) {
      limited = ApplyLimit(job_.properties.max_picture_width, &box.width);
      limited = ApplyLimit(job_.properties.max_picture_height, &box.height) || limited;
    }

    const uint32_t flags = group.flags | extra_flags_;
    const bool is_jpeg = bitmap->Format() == imaging::PictureFormat::kJpeg;
    const std::string_view save_format =
        is_jpeg ? "jpeg" : ((flags & kPictureFlagStorePng) != 0 ? "png" : "bmp");

    std::optional<uint64_t> start = job_.spill.Size();
    if (!start) return SpillFailure(group, path);
    PictureSize stored = own;
    uint64_t stored_length = 0;
    Outcome outcome = Outcome::kStored;
    if (!limited && (is_jpeg || bitmap->Format() == imaging::PictureFormat::kBmp)) {
      outcome = CopyFile(source, *start, &stored_length);
    } else if (!limited) {
      outcome = Save(*bitmap, save_format, *start, &stored_length);
    } else {
      context_.Report(false, Level::kInformation, MessageId::kPictureResizing);
      stored = FitIntoBox(own, box);
      std::unique_ptr<imaging::Bitmap> resized;
      if (job_.library->Resize(*bitmap, static_cast<int>(stored.width),
                               static_cast<int>(stored.height),
                               &resized) != imaging::ImageStatus::kOk ||
          resized == nullptr) {
        outcome = Outcome::kCantProcess;
      } else {
        context_.Report(false, Level::kInformation, MessageId::kPictureSize, "%u:%u",
                        {stored.width, stored.height});
        outcome = Save(*resized, save_format, *start, &stored_length);
      }
    }
    if (outcome == Outcome::kSpillFailed) return SpillFailure(group, path);
    if (outcome != Outcome::kStored) {
      ReportFailure(MessageId::kCantProcessPicture, group, path);
      return outcome;
    }

    entry->start = *start;
    entry->width = stored.width;
    entry->height = stored.height;
    entry->small_length = 0;
    results_.bytes_stored += stored_length;

    if ((flags & kPictureFlagSmallVersion) != 0 &&
        (stored.width > small_limit_ || stored.height > small_limit_)) {
      const PictureSize small = FitIntoBox(stored, {small_limit_, small_limit_});
      const uint64_t small_start = *start + stored_length;
      uint64_t small_length = 0;
      std::unique_ptr<imaging::Bitmap> resized;
      Outcome small_outcome = Outcome::kCantProcess;
      if (job_.library->Resize(*bitmap, static_cast<int>(small.width),
                               static_cast<int>(small.height),
                               &resized) == imaging::ImageStatus::kOk &&
          resized != nullptr) {
        small_outcome = Save(*resized, save_format, small_start, &small_length);
      }
      if (small_outcome == Outcome::kSpillFailed) return SpillFailure(group, path);
      if (small_outcome == Outcome::kStored && small_length <= 0xFFFFFFFFu) {
        entry->small_length = static_cast<uint32_t>(small_length);
        entry->width = small.width;
        entry->height = small.height;
        results_.bytes_stored += small_length;
        results_.small_bytes += small_length;
      } else {
        if (small_outcome == Outcome::kStored && !job_.spill.Truncate(small_start)) {
          return SpillFailure(group, path);
        }
        ReportFailure(MessageId::kSmallVersionFailed, group, path, Level::kWarning);
      }
    }
    return Outcome::kStored;
  }

  static bool ApplyLimit(uint32_t limit, uint32_t* value) {
    if (limit == 0 || *value <= limit) return false;
    *value = limit;
    return true;
  }

  // A full or read-only temporary folder is the place's fault, not the
  // picture's: say so rather than blame the picture.
  Outcome SpillFailure(const CPictureGroup& group, const std::string& path) {
    if (!ReportScratchWriteFailure(context_, job_.spill)) {
      ReportFailure(MessageId::kCantProcessPicture, group, path);
    }
    return Outcome::kSpillFailed;
  }

  // A picture refused for its size: the size and the limit, which the
  // author can raise.
  void ReportReason() {
    if (last_status_ != imaging::ImageStatus::kTooLarge || job_.library == nullptr) return;
    const imaging::ImageLibrary& library = *job_.library;
    if (library.RefusedWidth() > 0) {
      context_.Report(false, Level::kInformation, MessageId::kPictureOverLimit, "%d:%d:%u",
                      {library.RefusedWidth(), library.RefusedHeight(),
                       library.PixelLimit() >> 20});
    } else {
      context_.Report(false, Level::kInformation, MessageId::kReason, "%s",
                      {std::string(imaging::ImageStatusText(last_status_))});
    }
  }

  // Whatever a failed attempt left in the spill file would otherwise be
  // counted as the end of the previous picture (or as its small version).
  Outcome Discard(uint64_t start) {
    return job_.spill.Truncate(start) && job_.spill.Seek(start) ? Outcome::kCantProcess
                                                                : Outcome::kSpillFailed;
  }

  Outcome Save(const imaging::Bitmap& bitmap, std::string_view format, uint64_t start,
               uint64_t* length) {
    if (!job_.spill.Seek(start)) return Outcome::kSpillFailed;
    SpillTarget target(job_.spill);
    const imaging::ImageStatus status = job_.library->Save(bitmap, format, target);
    if (target.failed()) return Outcome::kSpillFailed;
    std::optional<uint64_t> end = job_.spill.Size();
    if (!end) return Outcome::kSpillFailed;
    if (status != imaging::ImageStatus::kOk || *end <= start) return Discard(start);
    *length = *end - start;
    return Outcome::kStored;
  }

  Outcome CopyFile(platform::File& source, uint64_t start, uint64_t* length) {
    if (!source.Seek(0)) return Outcome::kCantProcess;
    if (!job_.spill.Seek(start)) return Outcome::kSpillFailed;
    std::vector<uint8_t> piece(kCopyPiece);
    uint64_t copied = 0;
    for (;;) {
      std::optional<size_t> got = source.ReadSome(piece.data(), piece.size());
      if (!got) return Discard(start);
      if (*got == 0) break;
      if (!job_.spill.Write(piece.data(), *got)) return Outcome::kSpillFailed;
      copied += *got;
    }
    if (copied == 0) return Discard(start);
    *length = copied;
    return Outcome::kStored;
  }

  const PictureJob& job_;
  CompileContext& context_;
  PictureResults& results_;
  uint32_t extra_flags_ = 0;
  uint32_t small_limit_ = 240;
  // How the last Load of a file that is there failed.
  imaging::ImageStatus last_status_ = imaging::ImageStatus::kOk;
};

}  // namespace

void PictureIndexMap::Reset(uint64_t reference_count) {
  dense_.assign(reference_count + 1, kUnresolvedPicture);
  sparse_.clear();
}

void PictureIndexMap::Set(int64_t record, uint32_t picture_index) {
  if (record <= 0 || record >= int64_t{kUnresolvedPicture}) return;  // no marker can hold it
  const auto key = static_cast<uint32_t>(record);
  if (key < dense_.size()) {
    dense_[key] = picture_index;
    return;
  }
  auto at = std::lower_bound(sparse_.begin(), sparse_.end(), std::make_pair(key, uint32_t{0}));
  if (at != sparse_.end() && at->first == key) {
    at->second = picture_index;
  } else {
    sparse_.insert(at, {key, picture_index});
  }
}

uint32_t PictureIndexMap::PictureIndex(uint32_t record) const {
  if (record == 0) return kUnresolvedPicture;
  if (record < dense_.size()) return dense_[record];
  auto at =
      std::lower_bound(sparse_.begin(), sparse_.end(), std::make_pair(record, uint32_t{0}));
  return at != sparse_.end() && at->first == record ? at->second : kUnresolvedPicture;
}

uint32_t PictureIndexMap::RecordLimit() const {
  const size_t dense = dense_.size();
  const uint64_t sparse = sparse_.empty() ? 0 : uint64_t{sparse_.back().first} + 1;
  return static_cast<uint32_t>(std::max<uint64_t>(dense, sparse));
}

bool ProcessPictures(const PictureJob& job, PictureResults* results) {
  return PictureProcessor(job, results).Run();
}

bool ProcessPictures(BookWriteJob& job, imaging::ImageLibrary* library, platform::File& spill,
                     PictureResults* results) {
  const PictureJob picture_job{job.context, job.properties, job.database, job.source_path,
                               library,     spill};
  return ProcessPictures(picture_job, results);
}

std::function<bool(BookWriteJob&, PictureSet*)> MakePictureStage(
    imaging::ImageLibrary* library) {
  return [library](BookWriteJob& job, PictureSet* set) {
    set->directory.clear();
    set->index_of_record.clear();
    set->spill = platform::CreateScratchFile("fvxpic");
    if (!set->spill.IsOpen()) return false;
    PictureResults results;
    if (!ProcessPictures(job, library, set->spill, &results)) return false;
    set->directory.reserve(results.directory.size());
    for (const ProcessedPicture& picture : results.directory) {
      set->directory.push_back(
          {picture.start, picture.small_length, picture.width, picture.height});
    }
    const uint32_t limit = results.index_map.RecordLimit();
    set->index_of_record.resize(limit);
    for (uint32_t record = 0; record < limit; ++record) {
      set->index_of_record[record] = results.PictureIndex(record);
    }
    set->bytes_processed = results.bytes_processed;
    set->bytes_stored = results.bytes_stored;
    set->small_bytes = results.small_bytes;
    return true;
  };
}

std::function<bool(BookWriteJob&, PictureSet*)> MakeDeferredPictureStage(
    std::function<imaging::ImageLibrary*()> open_library) {
  return [open_library = std::move(open_library)](BookWriteJob& job, PictureSet* set) {
    imaging::ImageLibrary* library = nullptr;
    {
      // A failed query opens nothing; the stage then meets the same failure.
      CSqlQuery any(job.database);
      if (any.Query("SELECT 1 FROM tbl_Images LIMIT 1") && any.Step()) library = open_library();
    }
    return MakePictureStage(library)(job, set);
  };
}

std::string ResolvePicturePath(std::string_view source_path, std::string_view picture_path) {
  std::string resolved;
  const size_t first_separator = picture_path.find_first_of("\\/");
  const size_t colon = picture_path.find(':');
  const bool absolute = (colon != std::string_view::npos && colon < first_separator) ||
                        (!picture_path.empty() && picture_path[0] == '/');
  if (absolute) {
    resolved = picture_path;
  } else {
    const size_t last_separator = source_path.find_last_of("\\/");
    if (last_separator != std::string_view::npos) {
      resolved = source_path.substr(0, last_separator + 1);
    }
    size_t skip = 0;
    while (skip < picture_path.size() &&
           (IsSeparator(picture_path[skip]) || IsWhiteSpace(picture_path[skip]))) {
      ++skip;
    }
    resolved += picture_path.substr(skip);
  }
  std::replace(resolved.begin(), resolved.end(), '\\', '/');
  return resolved;
}

std::string DecodePercentEscapes(std::string_view path) {
  std::string decoded;
  decoded.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      const int high = HexValue(path[i + 1]);
      const int low = HexValue(path[i + 2]);
      if (high >= 0 && low >= 0 && (high | low) != 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += path[i];
  }
  return decoded;
}

PictureSize FitIntoBox(PictureSize picture, PictureSize box) {
  const uint64_t w = std::max<uint32_t>(picture.width, 1);
  const uint64_t h = std::max<uint32_t>(picture.height, 1);
  const uint64_t box_w = std::max<uint32_t>(box.width, 1);
  const uint64_t box_h = std::max<uint32_t>(box.height, 1);
  uint64_t width = 0;
  uint64_t height = 0;
  // The side whose limit is the tighter one decides; the other follows the
  // picture's proportions, so the result never leaves the box.
  if (box_w * h <= box_h * w) {
    width = box_w;
    height = box_w * h / w;
  } else {
    height = box_h;
    width = box_h * w / h;
  }
  return {static_cast<uint32_t>(std::max<uint64_t>(width, 1)),
          static_cast<uint32_t>(std::max<uint64_t>(height, 1))};
}

uint32_t SmallVersionLimit(uint32_t picture_target) {
  switch (picture_target) {
    case CDocumentProperties::kPictureTargetPalm: return 130;
    case CDocumentProperties::kPictureTargetPpc: return 300;
    default: return 240;
  }
}

}  // namespace fvx::compiler
