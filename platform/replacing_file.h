// A file that takes the place of another only once it is complete.
//
// The new content goes into an unnamed file in the target's folder
// (O_TMPFILE), which vanishes with the process if it is killed before
// Commit(); Commit() gives it a hidden name beside the target (linkat) and
// renames that over the target, so readers see the old file or the new one,
// never half of it. Where the file system has no unnamed files, a hidden
// named file ".NAME.XXXXXX" is used instead and removed again unless
// committed (a SIGKILL can then leave it behind).
//
// Call order: Create(); write through file(); Commit() once. Destroying an
// uncommitted file discards it.
#pragma once

#include <string>

#include "platform/file.h"

namespace fvx::platform {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(ReplacingFile&& other) noexcept;
  ReplacingFile& operator=(ReplacingFile&& other) noexcept;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();

  // Opened read-write; on failure a closed file and *error set to errno.
  // The new file's permissions are those of any new file (0666 less the
  // creation mask).
  // allow_unnamed false forces the named fallback (for its tests).
  static ReplacingFile Create(const std::string& target, int* error, bool allow_unnamed = true);

  bool IsOpen() const { return file_.IsOpen(); }
  File& file() { return file_; }
  // True when the content has no name until Commit().
  bool IsUnnamed() const { return IsOpen() && temporary_.empty(); }

  // Flushes the content to disk and puts it at the target path. On failure
  // *error is set, the target is untouched and the new content discarded.
  [[nodiscard]] bool Commit(int* error);
  // Drops the new content; the target is untouched.
  void Discard();

 private:
  File file_;
  std::string target_;
  std::string temporary_;  // the named fallback file, empty while unnamed
};

}  // namespace fvx::platform
