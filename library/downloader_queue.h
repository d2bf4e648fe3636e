// The downloader's side of the library, without its window: reading the
// queue "\LibInfo\Downloads" into the engine, and putting finished books in
// the "Library" folder and in "\FileInfo".
//
// For a heading H the file stem S is H without \ / : ? * " < > |, trimmed,
// with spaces as "_"; the job writes S".tmp", a finished book becomes
// S".fvx" (or S".finished" when that cannot be replaced).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "library/download/download_manager.h"
#include "platform/registry.h"

namespace fvx::library {

// "" when nothing usable is left (also for a stem made only of dots).
std::string DownloadFileStem(std::string_view heading);

class DownloaderQueue : public DownloadListener {
 public:
  // REQUIRES: registry and manager outlive the queue; the queue is the
  // manager's listener.
  DownloaderQueue(platform::Registry& registry, DownloadManager& manager,
                  std::string library_folder);

  // Runs only when both of the engine's lists are empty; returns the number of
  // jobs queued. Entries that cannot be fetched are left alone and reported once.
  int ReadAndQueue();
  // Messages for the user (HTML fragments), taken once.
  std::vector<std::string> TakeMessages();
  // Called on worker threads for OnQueueChanged.
  void SetQueueChangedHandler(std::function<void(bool)> handler) {
    queue_changed_ = std::move(handler);
  }

  void OnQueueChanged(bool structural) override;
  void OnCompleted(const DownloadJob& job) override;
  void OnFailed(const DownloadJob& job) override;
  void OnNotFound(const DownloadJob& job) override;
  void OnInterrupted(const DownloadJob& job) override;

 private:
  void Report(const std::string& id, std::string message);

  platform::Registry& registry_;
  DownloadManager& manager_;
  std::string folder_;
  std::function<void(bool)> queue_changed_;
  std::mutex mutex_;
  std::vector<std::string> messages_;
  std::vector<std::string> reported_ids_;
};

}  // namespace fvx::library
