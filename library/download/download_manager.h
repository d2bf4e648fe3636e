// A small HTTP download engine: a queue of jobs, five worker threads with one
// libcurl easy handle each, conditional and resumed requests guarded by the
// validators of the first response, up to ten re-queues of a broken transfer,
// and one listener told of every outcome.
//
// Call order: set the listener, Start() once, then AddJob()/Wake() and the
// read-outs from any thread; Stop() (or destruction) ends the workers.
// REQUIRES: Stop() and destruction are never called from a listener call.
//
// Outcomes of one attempt (r = libcurl's result):
//   r = 33 (server cannot resume)           OnFailed, job destroyed
//   r other non-zero (broken transfer,      OnInterrupted when both validators are
//     failed disk write, abort by Stop)       held; re-queued at the end, destroyed
//                                             after the tenth re-queue
//   r = 0, no response code                 OnFailed, job destroyed
//   r = 0, 200 or 206                       OnCompleted, job destroyed
//   r = 0, 404                              OnNotFound, job destroyed
//   r = 0, any other code (304, 412, ...)   no notification, job destroyed
//   target file cannot be opened            OnFailed, job destroyed
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library/download/download_job.h"
#include "library/download/download_listener.h"

namespace fvx::library {

inline constexpr int kDownloadWorkers = 5;
inline constexpr int kMaxRequeues = 10;
// Fixed buffers of the request and response header handling; longer values are cut.
inline constexpr size_t kMaxValidatorLength = 2047;
inline constexpr size_t kMaxRequestHeaderLength = 999;

struct ActiveDownload {
  std::string heading;
  double received = 0;
  double total = 0;
};

class DownloadManager {
 public:
  DownloadManager();
  ~DownloadManager();
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  // Not owned; may be null. REQUIRES: set before the first job is added.
  void SetListener(DownloadListener* listener) { listener_ = listener; }

  // Starts the five workers. With stopWhenIdle the pool stops itself once
  // both lists are empty after a transfer. REQUIRES: called once.
  void Start(bool stopWhenIdle);
  // Aborts transfers in flight (they count as broken) and waits for the workers.
  void Stop();
  bool IsRunning() const { return running_.load(); }

  // Appends a job to the pending list; does not wake the workers.
  bool AddJob(const std::string& heading, const std::string& url, const std::string& path,
              const std::string& id, const std::string& lastModified, const std::string& etag,
              bool conditional);
  // Releases the workers that wait for work. A wake that comes while a worker
  // is on its way to waiting is not lost. Nothing happens before Start or
  // after the pool has stopped.
  void Wake();

  // Read-outs for windows; an index out of range gives "" or 0.
  size_t GetActiveCount() const;
  std::string GetActiveHeading(size_t index) const;
  double GetActiveReceived(size_t index) const;
  double GetActiveTotal(size_t index) const;
  size_t GetPendingCount() const;
  std::string GetPendingHeading(size_t index) const;
  // Everything active, in one look under the lock.
  std::vector<ActiveDownload> GetActiveSnapshot() const;

 private:
  struct Transfer;
  friend struct TransferCallbacks;

  void WorkerLoop();
  void RunJob(void* easy, DownloadJob* job);
  void EndJob(DownloadJob* job, const DownloadOutcome& outcome);
  void NotifyQueueChanged(bool structural);
  void AfterOutcome();

  DownloadListener* listener_ = nullptr;
  std::vector<std::thread> workers_;
  mutable std::mutex list_mutex_;
  std::mutex listener_mutex_;
  std::condition_variable wake_;
  uint64_t wake_generation_ = 0;  // guarded by list_mutex_
  bool started_ = false;          // guarded by list_mutex_
  std::list<std::unique_ptr<DownloadJob>> active_;
  std::list<std::unique_ptr<DownloadJob>> pending_;
  std::atomic<bool> running_{false};
  bool stop_when_idle_ = false;
  std::mutex stop_mutex_;  // one Stop() at a time
};

}  // namespace fvx::library
