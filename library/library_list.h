// The local library: the books this computer holds, one registry key per
// book id under "\FileInfo" ("Heading", "Path", "CreatedTime"), as the
// "My Fvx Files" window lists them.
//
// Load() skips keys without a path, shows an empty heading as the file name
// with "_" as spaces, keeps one entry per path (case-insensitive) and numbers
// equal headings " - 1", " - 2", ... in memory only.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace fvx::library {

struct LibraryEntry {
  std::string key;      // the book id
  std::string heading;  // never empty after Load()
  std::string path;
  uint32_t createdTime = 0;
  bool marked = false;
};

enum class LibraryColumn { kPath = 1, kHeading = 2, kCreatedTime = 3 };

// _stricmp's order: byte by byte after ASCII lower-casing.
int CompareNoCase(std::string_view a, std::string_view b);

// "%m/%d/%Y %I:%M %p" in local time, or "  --  " for 0.
std::string FormatLibraryDate(uint32_t createdTime);
// Same local year, month and day as now.
bool IsToday(uint32_t createdTime, std::time_t now);

class LibraryList {
 public:
  // REQUIRES: registry outlives the list.
  explicit LibraryList(platform::Registry& registry) : registry_(registry) {}

  void Load();
  // kPath always sorts ascending.
  void Sort(LibraryColumn column, bool ascending);
  // The first entry (current order) whose heading starts with text, ignoring case.
  std::optional<size_t> FindPrefix(std::string_view text) const;
  // Ignored (false) when the trimmed text is empty or the index is bad;
  // otherwise stores text as it is and sorts by heading, ascending.
  bool Rename(size_t index, const std::string& text);
  // Deletes the registry keys of the valid indexes (never the files) and
  // drops those entries.
  void Delete(std::vector<size_t> indices);

  size_t size() const { return entries_.size(); }
  const std::vector<LibraryEntry>& entries() const { return entries_; }
  std::string Heading(size_t index) const;
  std::string Path(size_t index) const;
  uint32_t CreatedTime(size_t index) const;
  std::string DateText(size_t index) const;

 private:
  platform::Registry& registry_;
  std::vector<LibraryEntry> entries_;
};

}  // namespace fvx::library
