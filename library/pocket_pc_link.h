// Copies a book to a handheld through a DeviceLink: into "My Documents" of
// its main memory or of its first storage card, under a temporary name
// first, so the handheld never sees half a book under the book's name.
//
// Every operation opens and closes its own connection. The operations block;
// a window runs them on a worker thread and calls Cancel() from its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "library/device_link.h"

namespace fvx::library {

class PocketPcLink {
 public:
  static constexpr std::chrono::milliseconds kConnectWait{5000};
  static constexpr size_t kChunkSize = 4096;

  // Told each new percentage of a copy (0..100), on the copying thread.
  using ProgressListener = std::function<void(int percentage)>;

  // connect_wait: how long Connect() waits for the device (tests shorten it).
  explicit PocketPcLink(DeviceLink& device, std::chrono::milliseconds connect_wait = kConnectWait);
  PocketPcLink(const PocketPcLink&) = delete;
  PocketPcLink& operator=(const PocketPcLink&) = delete;

  void SetProgressListener(ProgressListener listener) { listener_ = std::move(listener); }

  // Starts a connection and waits for it, at most connect_wait, or until
  // Cancel(). Fails at once while another Connect() is waiting.
  bool Connect();

  // The root folders marked as storage cards, in the order found, less the
  // built-in storage folders the device registry names. The result is the
  // one computed before the built-in folders were removed: callers also
  // check that the list is not empty.
  bool ListStorageCards(std::vector<std::string>* names);

  // Copies a desktop file into card_name + "\My Documents" (card_name empty:
  // the main memory's "My Documents"), through N.tmp, in kChunkSize chunks.
  // Without overwrite a file already at the final name is left alone and
  // *already_there set. A cancelled or failed copy leaves the temporary
  // file; a copy whose final name cannot be replaced deletes it.
  bool CopyFile(const std::string& path, const std::string& card_name, bool overwrite,
                bool* already_there);

  // From any thread: stops a waiting Connect(), a listing or a copy.
  void Cancel();

  // A connection is being set up, or cards are listed or a file copied.
  bool IsConnecting() const;
  bool IsBusy() const { return busy_; }

 private:
  void Report(uint64_t copied);

  DeviceLink& device_;
  const std::chrono::milliseconds connect_wait_;
  mutable std::mutex mutex_;
  std::shared_ptr<DeviceEvent> cancel_event_;  // exists only while Connect() waits
  std::atomic<bool> busy_{false};
  uint64_t total_ = 0;
  int last_percentage_ = -1;
  ProgressListener listener_;
};

}  // namespace fvx::library
