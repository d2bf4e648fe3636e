// Where the user was: the last page of each book (in the registry, under the
// book's id) and the window's back/forward history.
//
//   key   HKEY_LOCAL_MACHINE "Software\Calderwick Ltd.\Folivox\Fvx\FileInfo\" book-id
//   "Path"            the book's file, written on every successful open
//   "LastPage"        the row on show when the book was left
//   "LastPageOffset"  the page's vertical scroll position then
//   "LastPageLength"  the page's scroll height then; 0: no saved page
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace fvx::reader {

inline constexpr std::string_view kFvxRegistryKey = "Software\\Calderwick Ltd.\\Folivox\\Fvx";
inline constexpr uint32_t kNoWriteDefault = 57072;  // 0xDEF0: read without creating

std::string FileInfoKey(std::string_view book_id);

// A DWORD under HKEY_LOCAL_MACHINE: a missing value is created with the
// default and the default returned, unless the default is 57072, which is
// returned without writing.
uint32_t ReadDwordWithDefault(platform::Registry& registry, std::string_view key,
                              std::string_view name, uint32_t default_value);

struct SavedPage {
  uint32_t row = 0;
  uint32_t offset = 0;
  uint32_t height = 0;
};

class LastPageStore {
 public:
  // REQUIRES: registry outlives the store.
  explicit LastPageStore(platform::Registry* registry) : registry_(registry) {}

  void RecordOpen(std::string_view book_id, std::string_view path);
  void Save(std::string_view book_id, const SavedPage& page);
  // The saved page when "LastPageLength" is not 0. The three values are
  // read with the default 0 (and so exist afterwards).
  std::optional<SavedPage> Restore(std::string_view book_id);

 private:
  platform::Registry* registry_;
};

// Where to scroll a restored page: offset x current height / saved height,
// in 32-bit unsigned arithmetic, the product first.
uint32_t RestoredScrollOffset(uint32_t offset, uint32_t saved_height, uint32_t current_height);

struct HistoryEntry {
  uint8_t flag = 0;
  uint32_t subject = 0;
  uint32_t offset = 0;
  uint32_t height = 0;
  std::string title;
  uint32_t serial = 0;
};

// Up to 20 pages; the cursor marks the page on show.
class History {
 public:
  static constexpr size_t kMaxEntries = 20;

  // Showing a page. Nothing changes when the entry at the cursor already is
  // that subject (as after back or forward); otherwise the entries after the
  // cursor are dropped, the page is appended and the oldest pushed out past
  // 20. Returns the serial of the entry on show.
  uint32_t Add(std::string_view title, uint32_t subject, uint32_t offset, uint32_t height,
               uint8_t flag);
  // Before a page is left: its scroll position.
  bool UpdateScroll(uint32_t serial, uint32_t subject, uint32_t offset, uint32_t height);
  bool CanGoBack() const { return cursor_ > 0 && !entries_.empty(); }
  bool CanGoForward() const { return !entries_.empty() && cursor_ + 1 < entries_.size(); }
  std::optional<HistoryEntry> Back();
  std::optional<HistoryEntry> Forward();

  size_t size() const { return entries_.size(); }
  size_t cursor() const { return cursor_; }
  const HistoryEntry& entry(size_t i) const { return entries_[i]; }

 private:
  std::deque<HistoryEntry> entries_;
  size_t cursor_ = 0;
  uint32_t next_serial_ = 1;
};

}  // namespace fvx::reader
