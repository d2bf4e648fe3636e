// Pictures reach the page view as temporary files, one per picture and page:
//
//   path := folder "/fvxtmp_" N "." ext       N: a process-wide counter from 0
//   ext  := "png" (kind 1) | "jpg" (kind 2) | "bmp" (any other)
//
// A page build first names the files (the names go into the page's HTML),
// and only once the HTML is complete are the pictures' bytes written. Each
// name is taken by creating the file exclusively, so a second reader, or a
// file left over from a crash, is never overwritten: such numbers are
// skipped. The window's PictureFiles deletes every file it named when it is
// destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fvx::reader {

// Every temporary picture file of one window.
class PictureFiles {
 public:
  // folder empty: the temporary folder with the most free space.
  explicit PictureFiles(std::string folder = {});
  ~PictureFiles();
  PictureFiles(const PictureFiles&) = delete;
  PictureFiles& operator=(const PictureFiles&) = delete;

  // A new file for a picture of the given kind, created empty; nullopt when
  // there is no usable temporary folder.
  std::optional<std::string> Reserve(int kind);
  const std::vector<std::string>& paths() const { return paths_; }
  void DeleteAll();
  // Forgets the files without deleting them (they outlive the object).
  void Release() { paths_.clear(); }

 private:
  std::string folder_;
  std::vector<std::string> paths_;
};

// The pictures of one page build: picture id -> file, in naming order.
class PictureMap {
 public:
  // REQUIRES: files outlives the map (null: no picture gets a file).
  explicit PictureMap(PictureFiles* files) : files_(files) {}
  // Names pictures without files, for pages whose pictures are fetched by
  // address (a server): namer(picture, kind) gives the name, nullopt for none.
  using Namer = std::function<std::optional<std::string>(uint32_t picture, int kind)>;
  explicit PictureMap(Namer namer) : files_(nullptr), namer_(std::move(namer)) {}

  std::optional<std::string> Find(uint32_t picture) const;
  // The picture's file, named on first use.
  std::optional<std::string> PathFor(uint32_t picture, int kind);
  const std::vector<std::pair<uint32_t, std::string>>& entries() const { return entries_; }

 private:
  PictureFiles* files_;
  Namer namer_;
  std::vector<std::pair<uint32_t, std::string>> entries_;
};

const char* PictureExtension(int kind);

}  // namespace fvx::reader
