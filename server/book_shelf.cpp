#include "server/book_shelf.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

namespace fvx::server {
namespace {

bool HasBookExtension(std::string_view name) {
  if (name.size() < 5) return false;
  std::string tail(name.substr(name.size() - 4));
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".fvx" && name[0] != '.';
}

// The file name without its extension, in characters that need no escape
// in a URL.
std::string BaseSlug(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::string slug;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_';
    slug.push_back(plain ? c : '_');
  }
  if (slug.empty()) slug = "book";
  return slug;
}

}  // namespace

BookShelf::BookShelf(std::vector<std::string> roots, ShelfOptions options)
    : roots_(std::move(roots)), options_(options) {
  Scan(true);
}

BookShelf::~BookShelf() {
  {
    std::lock_guard lock(watch_mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  if (watcher_.joinable()) watcher_.join();
}

void BookShelf::StartWatching() {
  if (watcher_.joinable()) return;
  watcher_ = std::thread([this] {
    std::unique_lock lock(watch_mutex_);
    while (!stop_.wait_for(lock, options_.watch_interval, [this] { return stopping_; })) {
      lock.unlock();
      Rescan();
      lock.lock();
    }
  });
}

void BookShelf::Rescan() { Scan(false); }

std::vector<std::pair<std::string, FileSignature>> BookShelf::ListFiles() const {
  std::vector<std::pair<std::string, FileSignature>> files;
  for (const std::string& root : roots_) {
    struct stat info;
    if (::stat(root.c_str(), &info) != 0) continue;
    if (S_ISREG(info.st_mode)) {
      if (auto signature = SignatureOfPath(root)) files.emplace_back(root, *signature);
      continue;
    }
    if (!S_ISDIR(info.st_mode)) continue;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(root.c_str()), ::closedir);
    if (!folder) continue;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(folder.get())) {
      if (HasBookExtension(entry->d_name)) names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());  // slugs are handed out in a stable order
    const std::string prefix = root.back() == '/' ? root : root + "/";
    for (const std::string& name : names) {
      if (auto signature = SignatureOfPath(prefix + name)) files.emplace_back(prefix + name, *signature);
    }
  }
  return files;
}

std::string BookShelf::SlugFor(const std::string& path) {
  if (auto known = slugs_.find(path); known != slugs_.end()) return known->second;
  std::set<std::string> taken;
  for (const auto& [other, slug] : slugs_) taken.insert(slug);
  const std::string base = BaseSlug(path);
  std::string slug = base;
  for (int n = 2; taken.count(slug) != 0; ++n) slug = base + "-" + std::to_string(n);
  slugs_[path] = slug;
  return slug;
}

void BookShelf::Scan(bool first) {
  std::lock_guard scan_lock(scan_mutex_);
  const std::vector<std::pair<std::string, FileSignature>> files = ListFiles();
  std::map<std::string, std::shared_ptr<ServedBook>> current;
  {
    std::lock_guard lock(mutex_);
    current = books_;
  }
  std::map<std::string, std::shared_ptr<ServedBook>> next;
  std::set<std::string> seen;
  for (const auto& [path, signature] : files) {
    if (!seen.insert(path).second) continue;
    const std::string slug = SlugFor(path);
    const auto served = current.find(slug);
    if (served != current.end() && served->second->signature() == signature) {
      next[slug] = served->second;
      pending_.erase(path);
      continue;
    }
    // New or changed: open it once it has held still for a whole interval.
    Pending& pending = pending_[path];
    const bool settled = pending.signature == signature;
    if (!settled) pending = Pending{signature, false, {}};
    if ((first || settled) && !pending.failed) {
      std::string why;
      std::shared_ptr<ServedBook> book =
          ServedBook::Open(path, slug, options_.documents_per_book, &why);
      // The file opened must be the one that held still.
      if (book && book->signature() == signature) {
        next[slug] = book;
        pending_.erase(path);
        continue;
      }
      if (!book) {
        pending.failed = true;
        pending.why = why;
      }
    }
    // Until the new version is ready, the old one goes on being served.
    if (served != current.end()) next[slug] = served->second;
  }
  for (auto it = pending_.begin(); it != pending_.end();) {
    it = seen.count(it->first) != 0 ? std::next(it) : pending_.erase(it);
  }
  std::lock_guard lock(mutex_);
  books_ = std::move(next);
}

std::vector<std::shared_ptr<ServedBook>> BookShelf::Books() const {
  std::vector<std::shared_ptr<ServedBook>> books;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [slug, book] : books_) books.push_back(book);
  }
  std::stable_sort(books.begin(), books.end(), [](const auto& a, const auto& b) {
    return a->title() < b->title();
  });
  return books;
}

std::shared_ptr<ServedBook> BookShelf::Find(std::string_view slug) const {
  std::lock_guard lock(mutex_);
  const auto it = books_.find(std::string(slug));
  return it == books_.end() ? nullptr : it->second;
}

std::vector<std::pair<std::string, std::string>> BookShelf::Refused() const {
  std::vector<std::pair<std::string, std::string>> refused;
  std::lock_guard scan_lock(scan_mutex_);
  for (const auto& [path, pending] : pending_) {
    if (pending.failed) refused.emplace_back(path, pending.why);
  }
  return refused;
}

}  // namespace fvx::server
