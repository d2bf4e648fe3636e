#include "library/downloader_queue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "bookformat/book_id.h"
#include "library/library_check.h"
#include "library/library_settings.h"
#include "library/local_list.h"
#include "platform/html_escape.h"
#include "platform/paths.h"

namespace fvx::library {

using platform::RegistryRoot;

std::string DownloadFileStem(std::string_view heading) {
  std::string stem;
  for (char c : heading) {
    if (std::string_view("\\/:?*\"<>|").find(c) == std::string_view::npos) stem += c;
  }
  size_t first = stem.find_first_not_of(" \t\r\n\v\f");
  if (first == std::string::npos) return {};
  stem = stem.substr(first, stem.find_last_not_of(" \t\r\n\v\f") - first + 1);
  std::replace(stem.begin(), stem.end(), ' ', '_');
  if (stem.find_first_not_of('.') == std::string::npos) return {};
  return stem;
}

DownloaderQueue::DownloaderQueue(platform::Registry& registry, DownloadManager& manager,
                                 std::string library_folder)
    : registry_(registry), manager_(manager), folder_(std::move(library_folder)) {}

void DownloaderQueue::Report(const std::string& id, std::string message) {
  std::lock_guard lock(mutex_);
  if (std::find(reported_ids_.begin(), reported_ids_.end(), id) != reported_ids_.end()) return;
  reported_ids_.push_back(id);
  messages_.push_back(std::move(message));
}

std::vector<std::string> DownloaderQueue::TakeMessages() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> messages;
  messages.swap(messages_);
  return messages;
}

int DownloaderQueue::ReadAndQueue() {
  if (manager_.GetActiveCount() != 0 || manager_.GetPendingCount() != 0) return 0;
  platform::EnsureDirectory(folder_);
  std::string root = DownloadsKey();
  registry_.CreateKey(RegistryRoot::kLocalMachine, root);
  int queued = 0;
  for (const std::string& id : registry_.SubKeys(RegistryRoot::kLocalMachine, root)) {
    std::string key = root + "\\" + id;
    std::string heading = registry_.ReadString(RegistryRoot::kLocalMachine, key, "Heading");
    std::string url = registry_.ReadString(RegistryRoot::kLocalMachine, key, "Url");
    std::string last_modified = registry_.ReadString(RegistryRoot::kLocalMachine, key, "LastMod");
    std::string etag = registry_.ReadString(RegistryRoot::kLocalMachine, key, "ETag");
    std::string stem = DownloadFileStem(heading);
    if (stem.empty()) {
      Report(id, "<h3>Download skipped</h3>\"" + platform::HtmlEscaped(heading) +
                     "\" gives no file name in the library folder.");
      continue;
    }
    if (!IsWebAddress(url)) {
      Report(id, "<h3>Download skipped</h3>" + platform::HtmlEscaped(heading) + ": \"" + platform::HtmlEscaped(url) +
                     "\" is not an http or https address.");
      continue;
    }
    std::string stem_path = platform::JoinPath(folder_, stem);
    std::string finished = stem_path + ".finished";
    struct stat status {};
    if (::stat(finished.c_str(), &status) != 0) {
      manager_.AddJob(heading, url, stem_path + ".tmp", id, last_modified, etag, false);
      ++queued;
      continue;
    }
    std::string book = stem_path + ".fvx";
    if (std::rename(finished.c_str(), book.c_str()) != 0 && std::remove(book.c_str()) == 0) {
      std::rename(finished.c_str(), book.c_str());
    }
  }
  if (manager_.GetPendingCount() != 0) manager_.Wake();
  return queued;
}

void DownloaderQueue::OnQueueChanged(bool structural) {
  if (queue_changed_) queue_changed_(structural);
}

void DownloaderQueue::OnCompleted(const DownloadJob& job) {
  std::string stem_path = job.path;
  size_t dot = stem_path.rfind('.');
  if (dot != std::string::npos && dot > platform::LastPathSeparator(stem_path) + 1) {
    stem_path.resize(dot);
  }
  std::string book = stem_path + ".fvx";
  std::string finished = stem_path + ".finished";
  std::string entry = DownloadsKey() + "\\" + job.id;

  // Whatever came is checked before it may replace a book of the same name.
  if (!format::BookIdOfFile(job.path)) {
    ::unlink(job.path.c_str());
    registry_.DeleteKey(RegistryRoot::kLocalMachine, entry);
    Report(job.id, "<h3>Download refused</h3>" + platform::HtmlEscaped(job.heading) +
                       ": what the server sent is not a book.");
    return;
  }
  if (std::rename(job.path.c_str(), book.c_str()) != 0) {
    std::remove(book.c_str());
    std::rename(job.path.c_str(), book.c_str());
  }
  bool deferred = std::rename(job.path.c_str(), finished.c_str()) == 0;

  if (std::optional<std::string> id = format::BookIdOfFile(book)) {
    std::string key = FileInfoKey(*id);
    registry_.CreateKey(RegistryRoot::kLocalMachine, key);
    registry_.WriteString(RegistryRoot::kLocalMachine, key, "Heading", job.heading);
    registry_.WriteString(RegistryRoot::kLocalMachine, key, "Path", book);
    registry_.WriteDword(RegistryRoot::kLocalMachine, key, "CreatedTime",
                         FileCreatedTime(book).value_or(0));
    // So that the catalogue finds the copy instead of fetching it again.
    std::string local = LocalKey() + "\\" + job.id;
    registry_.WriteString(RegistryRoot::kLocalMachine, local, "Heading", job.heading);
    registry_.WriteString(RegistryRoot::kLocalMachine, local, "FilePath",
                          book.substr(platform::LastPathSeparator(book) + 1));
  }
  if (!deferred) registry_.DeleteKey(RegistryRoot::kLocalMachine, entry);
}

void DownloaderQueue::OnFailed(const DownloadJob& job) {
  ::unlink(job.path.c_str());
}

void DownloaderQueue::OnNotFound(const DownloadJob& job) {
  registry_.DeleteKey(RegistryRoot::kLocalMachine, DownloadsKey() + "\\" + job.id);
  Report(job.id, "<h3>Not found</h3>" + platform::HtmlEscaped(job.heading) + " is no longer on the server.");
}

void DownloaderQueue::OnInterrupted(const DownloadJob& job) {
  std::string key = DownloadsKey() + "\\" + job.id;
  registry_.CreateKey(RegistryRoot::kLocalMachine, key);
  registry_.WriteString(RegistryRoot::kLocalMachine, key, "ETag", job.etag);
  registry_.WriteString(RegistryRoot::kLocalMachine, key, "LastMod", job.lastModified);
}

}  // namespace fvx::library
