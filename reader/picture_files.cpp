#include "reader/picture_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/scratch_file.h"

namespace fvx::reader {
namespace {

std::atomic<int> next_picture_number{0};

// Names already taken by someone else are skipped, but not forever.
constexpr int kMaxAttempts = 1000;

}  // namespace

const char* PictureExtension(int kind) {
  switch (kind) {
    case 1: return "png";
    case 2: return "jpg";
    default: return "bmp";
  }
}

PictureFiles::PictureFiles(std::string folder) : folder_(std::move(folder)) {}

PictureFiles::~PictureFiles() { DeleteAll(); }

std::optional<std::string> PictureFiles::Reserve(int kind) {
  if (folder_.empty()) folder_ = platform::TemporaryFolderWithMostSpace();
  if (folder_.empty()) return std::nullopt;
  std::string prefix = folder_;
  if (prefix.back() != '/') prefix += '/';
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "fvxtmp_%d.%s", next_picture_number++,
                  PictureExtension(kind));
    std::string path = prefix + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      paths_.push_back(path);
      return path;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

void PictureFiles::DeleteAll() {
  for (const std::string& path : paths_) ::unlink(path.c_str());
  paths_.clear();
}

std::optional<std::string> PictureMap::Find(uint32_t picture) const {
  for (const auto& [id, path] : entries_) {
    if (id == picture) return path;
  }
  return std::nullopt;
}

std::optional<std::string> PictureMap::PathFor(uint32_t picture, int kind) {
  if (std::optional<std::string> known = Find(picture)) return known;
  std::optional<std::string> path;
  if (namer_) {
    path = namer_(picture, kind);
  } else if (files_ != nullptr) {
    path = files_->Reserve(kind);
  }
  if (path) entries_.emplace_back(picture, *path);
  return path;
}

}  // namespace fvx::reader
