// The bookmark slot table a book may carry (found through its 'D' section),
// rewritten in place by the reader:
//
//   table    := slot0 slot*                      -- 64 bytes each; slot k at table + 64 k
//   slot0    := u32:N zero[60]                   -- N: slots ever used
//   slot     := u8:kind payload[63]              -- kind 0 free
//   bookmark := u8:1 u32:subject u32:position name[55]    -- name NUL padded
//   filter   := u8:3 expression NUL-padded to 63 -- a saved filter
//   kind 5   := kept as it is
//
// A new entry takes the first free slot among 1..N, else slot N + 1, and N
// is written only after the slot itself. N is never lowered. Slots of kinds
// other than 1 are never changed by bookmark edits.
//
// Writes stay inside the table's 'D' section, which lies after everything
// the compiler sealed, so a table can never grow over other data. A table
// that points anywhere else, or counts more slots than its section holds,
// is damage: it is neither read nor written.
//
// Every edit locks the book (platform/locked_file.h) and reads the table
// again under the lock before it changes anything, so edits by several
// processes at once each land in their own slot.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bookformat/book_file.h"
#include "bookformat/book_layout.h"

namespace fvx::reader {

inline constexpr uint32_t kSlotSize = 64;
inline constexpr size_t kSlotPayloadSize = 63;
inline constexpr size_t kBookmarkNameSize = 55;
inline constexpr uint8_t kSlotFree = 0;
inline constexpr uint8_t kSlotBookmark = 1;
inline constexpr uint8_t kSlotSavedFilter = 3;
inline constexpr uint8_t kSlotFurtherList = 5;
// Slots that "fvx bookmarks" gives a book: slot 0 and 255 entries.
inline constexpr uint32_t kNewTableSlots = 256;

struct Slot {
  uint32_t number = 0;  // 1..N
  uint8_t kind = kSlotFree;
  std::array<uint8_t, kSlotPayloadSize> payload{};
};

struct BookmarkEntry {
  uint32_t subject = 0;
  uint32_t position = 0;
  std::string name;
};

std::array<uint8_t, kSlotPayloadSize> EncodeBookmark(const BookmarkEntry& bookmark);
BookmarkEntry DecodeBookmark(const std::array<uint8_t, kSlotPayloadSize>& payload);
std::string DecodeSavedFilter(const std::array<uint8_t, kSlotPayloadSize>& payload);

class SlotTable {
 public:
  // Reads the table of an open book (nothing when it has no 'D' section).
  // path is where writes go; they need the file to be writable (empty: the
  // table is read-only). False when the table is damaged: it is then
  // present, empty, and refuses edits, and damage() says why.
  [[nodiscard]] bool Load(const format::BookFile& file, const format::BookLayout& layout,
                          const std::string& path);
  void Clear();

  bool present() const { return present_; }
  const std::string& damage() const { return damage_; }
  // Why the last edit wrote nothing.
  const std::string& edit_failure() const { return edit_failure_; }
  uint32_t used() const { return used_; }
  const std::vector<Slot>& slots() const { return slots_; }
  const Slot* Find(uint32_t number) const;

  // Each edit first brings slots() up to date with the book as it is under
  // the lock (also when it then fails).
  // Stores an entry in the first free slot; the slot number, or nullopt
  // when nothing was written.
  std::optional<uint32_t> Add(uint8_t kind, const std::array<uint8_t, kSlotPayloadSize>& payload);
  // Rewrites, or frees, a slot that still holds what the caller saw in it
  // (seen); one that another program changed meanwhile is left alone.
  [[nodiscard]] bool Rewrite(const Slot& seen, uint8_t kind,
                             const std::array<uint8_t, kSlotPayloadSize>& payload);
  [[nodiscard]] bool Free(const Slot& seen);

 private:
  class Edit;
  // Reads slot 0 and the used slots through read(position, out, size).
  template <class Read>
  bool ReadSlots(Read&& read);
  bool EditFailed(std::string why);
  uint64_t SlotPosition(uint32_t number) const { return table_ + uint64_t{kSlotSize} * number; }
  bool Writable(uint32_t number) const { return SlotPosition(number) + kSlotSize <= room_end_; }
  // Whether the slot, re-read under the lock, still holds what the caller
  // saw and may be written.
  bool StillAsSeen(const Slot& seen) const {
    const Slot* now = Find(seen.number);
    return now != nullptr && now->kind == seen.kind && now->payload == seen.payload &&
           Writable(seen.number);
  }
  uint32_t Capacity() const { return static_cast<uint32_t>((room_end_ - table_) / kSlotSize - 1); }

  bool present_ = false;
  std::string damage_;
  std::string edit_failure_;
  std::string path_;
  unsigned long long device_ = 0;  // the file the table was read from
  unsigned long long inode_ = 0;
  uint64_t stream_start_ = 0;
  uint64_t table_ = 0;
  uint64_t room_end_ = 0;  // writes stay below this stream position
  uint32_t used_ = 0;
  std::vector<Slot> slots_;  // 1..N in order
};

// Gives a book without a 'D' section one, with an empty slot table of
// slot_count slots inside it, after everything the book holds: the container
// record list and the header's end of book are updated to cover it, and the
// file is replaced through a temporary file in its folder. The integrity
// digest, and so the book id, do not change. A book that may not be written
// is left alone.
struct AddSlotTableResult {
  bool ok = false;
  bool already_present = false;
  std::string message;
};
AddSlotTableResult AddSlotTable(const std::string& path, uint32_t slot_count = kNewTableSlots);

}  // namespace fvx::reader
