// Building a book's local word index (reader/word_index.h), in the calling
// thread or in the background.
//
// The build is one write transaction on a WAL-mode file: readers in other
// processes go on seeing the previous state (no index, or a complete one)
// until it commits, and a build that is cancelled, killed or runs out of
// disk leaves nothing that is trusted. A second build of the same index
// while one runs fails at once instead of waiting. The book is only read.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace fvx::reader {

class BookDocument;

struct WordIndexBuildOptions {
  // Called now and then with the subjects done; false cancels the build.
  std::function<bool(uint32_t done, uint32_t total)> progress;
  // Caps the file at this many database pages (0: no cap); a build that
  // needs more fails as on a full disk.
  int64_t max_pages = 0;
};

// kUpToDate: a job asked to keep a usable index found one and built nothing.
enum class WordIndexBuildStatus { kBuilt, kCancelled, kBusy, kFailed, kUpToDate };

// Builds the index of the open document at index_path (its folder is
// created). *error says why when the status is not kBuilt.
WordIndexBuildStatus BuildWordIndex(BookDocument& document, const std::string& index_path,
                                    const WordIndexBuildOptions& options, std::string* error);

// A build in a thread of its own, for the reader window: it opens the book
// by itself (a document belongs to one thread) and writes the index under
// the book's id in the data home. The owner polls or waits; destroying the
// job cancels and joins it.
class WordIndexBuildJob {
 public:
  WordIndexBuildJob() = default;
  ~WordIndexBuildJob();
  WordIndexBuildJob(const WordIndexBuildJob&) = delete;
  WordIndexBuildJob& operator=(const WordIndexBuildJob&) = delete;

  // REQUIRES: no build of this job is running. on_done (may be empty) runs
  // in the build's thread when it ends. With unless_usable, an index that
  // already serves the book is kept (kUpToDate): checking it reads the whole
  // file, which is work for this thread, not the caller's.
  void Start(const std::string& book_path,
             std::function<void(WordIndexBuildStatus)> on_done = nullptr,
             bool unless_usable = false);
  void Cancel() { cancel_ = true; }
  // Waits for the build to end; its status (kFailed when none was started).
  WordIndexBuildStatus Wait();
  bool Running() const { return running_; }
  // 0-100.
  int Progress() const { return progress_; }
  std::string Error() const;

 private:
  std::thread thread_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> progress_{0};
  WordIndexBuildStatus status_ = WordIndexBuildStatus::kFailed;
  mutable std::mutex mutex_;
  std::string error_;
};

}  // namespace fvx::reader
