// The net library catalogue: a book ("Fvx_Lib.fvx" in the data home) that
// the reader refreshes in the background at every start, and the handling of
// its links while it is shown (library mode).
//
// Start-up, in this order (Start()):
//   1 a deferred "Fvx_Lib.finished" is renamed to "Fvx_Lib.fvx"
//   2 when another reader runs, nothing more happens
//   3 a download engine is started that stops itself when idle
//   4 "\LibInfo" "LastMod" and "ETag" are read
//   5 with a good catalogue both are kept (ask only if changed); without one
//     they are kept only for a non-empty ".downloading" file (resume)
//   6 one job "Fvx Library Master" / "FVXLIB_MASTER" is queued, conditional
//   7 the library check starts on its own thread
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "library/download/download_manager.h"
#include "platform/registry.h"
#include "reader/app_link.h"

namespace fvx::library {

inline constexpr char kCatalogueHeading[] = "Fvx Library Master";
inline constexpr char kCatalogueJobId[] = "FVXLIB_MASTER";

// True when path opens as a sound book.
bool IsReadableBook(const std::string& path);

// Held by the first reader of a data home for its lifetime: the reader that
// cannot take it is a second instance (step 2).
class ReaderInstanceLock {
 public:
  explicit ReaderInstanceLock(const std::string& data_home);
  ~ReaderInstanceLock();
  ReaderInstanceLock(const ReaderInstanceLock&) = delete;
  ReaderInstanceLock& operator=(const ReaderInstanceLock&) = delete;
  bool IsFirst() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class CatalogueUpdater : public DownloadListener {
 public:
  // folder: where the catalogue files live (the data home). catalogue_replaced
  // is called on a worker thread after a new catalogue was put in place (the
  // window posts itself message 1114 from it); refused, when given, with a
  // message for a download that was not a book and was thrown away.
  CatalogueUpdater(platform::Registry& registry, std::string folder, std::string url,
                   std::function<void()> catalogue_replaced,
                   std::function<void(const std::string&)> refused = {});
  ~CatalogueUpdater() override;

  // Steps 1 to 7; another_reader_runs stops after step 1.
  void Start(bool another_reader_runs);
  // Stops the engine (harmless when it already stopped itself) and waits for
  // the library check.
  void Stop();
  DownloadManager& manager() { return manager_; }
  bool queued() const { return queued_; }

  std::string CataloguePath() const;
  std::string DownloadingPath() const;
  std::string FinishedPath() const;

  void OnQueueChanged(bool) override {}
  void OnCompleted(const DownloadJob& job) override;
  void OnFailed(const DownloadJob& job) override;
  void OnNotFound(const DownloadJob&) override {}
  void OnInterrupted(const DownloadJob& job) override;

 private:
  platform::Registry& registry_;
  std::string folder_;
  std::string url_;
  std::function<void()> catalogue_replaced_;
  std::function<void(const std::string&)> refused_;
  DownloadManager manager_;
  std::thread library_check_;
  bool queued_ = false;
};

// Commands the reader posts itself after start when no file was named.
inline constexpr int kCommandOpenManual = 32771;
inline constexpr int kCommandOpenCatalogue = 105;
// The first start opens the manual and stores "FirstTime" = 0 under the base
// key (absent counts as 1); later starts open the catalogue.
int FirstStartCommand(platform::Registry& registry);

// What the window does with a followed link.
struct LinkAction {
  enum class Kind {
    kNothing,
    kOpenDocument,     // open path as an ordinary book
    kStartDownloader,  // a download was queued: start the downloader
    kOpenExternal,     // hand target to the desktop (browser)
    kRefused,          // message says why
  };
  Kind kind = Kind::kNothing;
  std::string target;
  std::string message;
};

// Links of kind 4 (an outside address) and 100 (a library file). In library
// mode a book link (its address contains maker_url) opens the local copy or
// queues the book under "\LibInfo\Downloads\<url key>" with record_title.
LinkAction HandleCatalogueLink(platform::Registry& registry, const reader::AppLink& link,
                               bool library_mode, const std::string& record_title,
                               const std::string& maker_url, const std::string& library_folder);

// A catalogue record's page: "fvxhomeimg" becomes "img" and
// "<fvxhomelocaldata>" the local list.
std::string PrepareCatalogueHomePage(std::string html, platform::Registry& registry);

}  // namespace fvx::library
