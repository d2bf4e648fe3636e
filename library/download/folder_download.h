// Fetching addresses into one folder with the download engine, for
// `fvx download`: each file keeps the validators of its last complete copy
// beside it, so a second run of the same command asks only for what changed,
// and a broken run leaves a partial file with its validators to resume.
//
// Files for an address whose last path segment is NAME, in the folder:
//   NAME               the complete file (replaced only by a complete transfer)
//   NAME.part          the partial file the transfer writes
//   .NAME.validators   ETag and Last-Modified of NAME (two "Name: value" lines)
//   NAME.part.validators  the same for NAME.part, written when a transfer breaks
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "library/download/download_manager.h"

namespace fvx::library {

struct Validators {
  std::string etag;
  std::string lastModified;
  bool Complete() const { return !etag.empty() && !lastModified.empty(); }
};

// Reads or writes a validators file; a missing or unreadable file reads as empty.
Validators ReadValidators(const std::string& path);
bool WriteValidators(const std::string& path, const Validators& validators);

// The file name an address is stored under: its last path segment without
// query or fragment; "" when there is none or it is "." or "..".
std::string FileNameOfUrl(const std::string& url);

class FolderDownload : public DownloadListener {
 public:
  enum class State { kPending, kDownloaded, kUnchanged, kFailed };
  struct Target {
    std::string url;
    std::string name;
    State state = State::kPending;
    std::string message;  // what happened, for the user
    double bytes = 0;
    bool restarted = false;  // a stale partial was dropped and the file asked for whole
  };

  explicit FolderDownload(std::string folder);
  ~FolderDownload() override;

  // False (with the reason in *error) for an address without a usable file
  // name or one whose name another address already uses.
  bool Add(const std::string& url, std::string* error);
  // Queues every target and runs until each has ended. progress, when given,
  // is called about four times a second on the calling thread; report is called
  // on the calling thread once per target as it ends.
  void Run(const std::function<void(const DownloadManager&)>& progress,
           const std::function<void(const Target&)>& report);
  const std::vector<Target>& targets() const { return targets_; }
  bool AllComplete() const;

  // DownloadListener (worker threads).
  void OnQueueChanged(bool) override {}
  void OnCompleted(const DownloadJob& job) override;
  void OnFailed(const DownloadJob& job) override;
  void OnNotFound(const DownloadJob& job) override;
  void OnInterrupted(const DownloadJob& job) override;
  void OnJobEnded(const DownloadJob& job, const DownloadOutcome& outcome) override;

 private:
  std::string PathOf(const std::string& name) const;
  void Queue(size_t index);
  void Restart(size_t index, const std::string& why);
  void Finish(size_t index, State state, std::string message);

  std::string folder_;
  std::vector<Target> targets_;
  DownloadManager manager_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<size_t> newly_ended_;
  std::vector<size_t> restarts_;
  size_t open_ = 0;
};

}  // namespace fvx::library
