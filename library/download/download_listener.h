// What the download engine tells its owner. Every call is made on a worker
// thread; the job is only lent for the length of the call (it is destroyed or
// re-queued right after), so no listener keeps a reference to it.
//
// OnFailed is made without the listener lock; the others are serialised by it.
#pragma once

#include <string>

#include "library/download/download_job.h"

namespace fvx::library {

// How a job ended for good, for owners that report every job (OnJobEnded).
struct DownloadOutcome {
  enum class Kind {
    kCompleted,    // 200 or 206; the file at path is complete
    kFailed,       // cannot resume, no response code, or the file could not be opened
    kNotFound,     // 404
    kOtherStatus,  // any other HTTP status (304 not modified, 412 precondition failed, ...)
    kGaveUp,       // broke off eleven times in a row
    kStopped,      // still listed when the engine was destroyed (never reported)
  };
  Kind kind = Kind::kFailed;
  long httpCode = 0;
  int curlCode = 0;
  std::string message;  // libcurl's or the engine's words, empty when it went well
};

class DownloadListener {
 public:
  virtual ~DownloadListener() = default;

  // structural: a job was taken from the pending list or has finished.
  virtual void OnQueueChanged(bool structural) = 0;
  virtual void OnCompleted(const DownloadJob& job) = 0;
  // The transfer cannot go on from where it stands; the partial file is the
  // listener's to remove.
  virtual void OnFailed(const DownloadJob& job) = 0;
  virtual void OnNotFound(const DownloadJob& job) = 0;
  // A broken transfer of a job that holds both validators: store them so a
  // later attempt can resume.
  virtual void OnInterrupted(const DownloadJob& job) = 0;

  // After the job has ended for good, whichever way (including the endings
  // that have no notification above). Under the listener lock.
  virtual void OnJobEnded(const DownloadJob& /*job*/, const DownloadOutcome& /*outcome*/) {}
};

}  // namespace fvx::library
