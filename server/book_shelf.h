// The books a server serves: the book files and folders it was given,
// scanned again and again so that new, replaced and removed books show.
//
// A new or changed file is opened only once two scans in a row have seen
// the same (device, inode, size, modification time): a file still being
// written or copied keeps changing and is left alone until it settles. A
// replaced book keeps its address (its slug); requests that hold the old
// version finish on the old file.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/served_book.h"

namespace fvx::server {

struct ShelfOptions {
  size_t documents_per_book = 2;
  std::chrono::milliseconds watch_interval{2000};
};

class BookShelf {
 public:
  // Books and folders of books (".fvx", any case, not in subfolders).
  // Opens what is there at once.
  BookShelf(std::vector<std::string> roots, ShelfOptions options);
  ~BookShelf();
  BookShelf(const BookShelf&) = delete;
  BookShelf& operator=(const BookShelf&) = delete;

  // One pass over the roots.
  void Rescan();
  // Rescans every watch interval on a thread of its own until destroyed.
  void StartWatching();

  // By title, then slug.
  std::vector<std::shared_ptr<ServedBook>> Books() const;
  std::shared_ptr<ServedBook> Find(std::string_view slug) const;
  // Files that are not books (path, why), for the command's report.
  std::vector<std::pair<std::string, std::string>> Refused() const;

 private:
  struct Pending {
    FileSignature signature;
    bool failed = false;  // opened once at this signature and refused
    std::string why;
  };

  std::vector<std::pair<std::string, FileSignature>> ListFiles() const;
  std::string SlugFor(const std::string& path);
  void Scan(bool first);

  const std::vector<std::string> roots_;
  const ShelfOptions options_;

  mutable std::mutex mutex_;  // guards books_ (swapped whole by scans)
  std::map<std::string, std::shared_ptr<ServedBook>> books_;  // by slug

  // Only the scanning thread touches these (scans are serialised).
  mutable std::mutex scan_mutex_;
  std::map<std::string, Pending> pending_;  // by path
  std::map<std::string, std::string> slugs_;  // path -> slug, kept for the server's life

  std::mutex watch_mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread watcher_;
};

}  // namespace fvx::server
