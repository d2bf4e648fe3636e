#include "reader/slot_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "bookformat/book_id.h"
#include "bookformat/coding.h"
#include "bookformat/container.h"
#include "platform/file.h"
#include "platform/locked_file.h"
#include "platform/paths.h"

namespace fvx::reader {

std::array<uint8_t, kSlotPayloadSize> EncodeBookmark(const BookmarkEntry& bookmark) {
  std::array<uint8_t, kSlotPayloadSize> payload{};
  format::StoreU32(payload.data(), bookmark.subject);
  format::StoreU32(payload.data() + 4, bookmark.position);
  const size_t length = std::min(bookmark.name.size(), kBookmarkNameSize);
  std::memcpy(payload.data() + 8, bookmark.name.data(), length);
  return payload;
}

BookmarkEntry DecodeBookmark(const std::array<uint8_t, kSlotPayloadSize>& payload) {
  BookmarkEntry bookmark;
  bookmark.subject = format::LoadU32(payload.data());
  bookmark.position = format::LoadU32(payload.data() + 4);
  const auto* name = reinterpret_cast<const char*>(payload.data() + 8);
  bookmark.name.assign(name, strnlen(name, kBookmarkNameSize));
  return bookmark;
}

std::string DecodeSavedFilter(const std::array<uint8_t, kSlotPayloadSize>& payload) {
  const auto* text = reinterpret_cast<const char*>(payload.data());
  return std::string(text, strnlen(text, kSlotPayloadSize));
}

// ---------------------------------------------------------------- SlotTable

void SlotTable::Clear() { *this = SlotTable{}; }

template <class Read>
bool SlotTable::ReadSlots(Read&& read) {
  uint8_t count[4];
  if (!read(table_, count, sizeof count)) {
    damage_ = "the slot table cannot be read";
    return false;
  }
  const uint32_t used = format::LoadU32(count);
  if (used > Capacity()) {
    damage_ = "the slot table counts " + std::to_string(used) + " slots, its section holds " +
              std::to_string(Capacity());
    return false;
  }
  std::vector<uint8_t> bytes(uint64_t{used} * kSlotSize);
  if (!bytes.empty() && !read(table_ + kSlotSize, bytes.data(), bytes.size())) {
    damage_ = "the slot table cannot be read";
    return false;
  }
  slots_.clear();
  for (uint32_t k = 0; k < used; ++k) {
    Slot slot;
    slot.number = k + 1;
    slot.kind = bytes[uint64_t{k} * kSlotSize];
    std::memcpy(slot.payload.data(), &bytes[uint64_t{k} * kSlotSize + 1], kSlotPayloadSize);
    slots_.push_back(slot);
  }
  used_ = used;
  return true;
}

bool SlotTable::Load(const format::BookFile& file, const format::BookLayout& layout,
                     const std::string& path) {
  Clear();
  if (!layout.bookmarks) return true;
  const format::BookmarkSection& section = *layout.bookmarks;
  present_ = true;
  table_ = section.slot_table;
  stream_start_ = file.container().stream_start;
  // Only the table's own 'D' section, after the sealed part and after the
  // section's fields, may be read or written as slots.
  const uint64_t fields = 1 + 2 * format::OffsetBytes(layout.width());
  const uint64_t end = std::min(section.place.next, file.StreamSize());
  if (section.place.position < layout.SealedEnd() || table_ < section.place.position + fields ||
      table_ > end || end - table_ < kSlotSize) {
    damage_ = "the slot table at " + std::to_string(table_) + " lies outside its section D (" +
              std::to_string(section.place.position) + " to " +
              std::to_string(section.place.next) + ")";
    return false;
  }
  room_end_ = end;
  if (!ReadSlots([&](uint64_t at, void* out, size_t size) { return file.ReadAt(at, out, size); })) {
    slots_.clear();
    used_ = 0;
    return false;
  }
  path_ = path;
  if (!path_.empty() && !platform::FileIdentity(path_, &device_, &inode_)) path_.clear();
  return true;
}

const Slot* SlotTable::Find(uint32_t number) const {
  if (number == 0 || number > slots_.size()) return nullptr;
  return &slots_[number - 1];
}

bool SlotTable::EditFailed(std::string why) {
  edit_failure_ = std::move(why);
  return false;
}

// The book locked, checked to be the file the table was read from, and the
// table read again through the lock.
class SlotTable::Edit {
 public:
  explicit Edit(SlotTable& table) : table_(table) {
    table.edit_failure_.clear();
    if (!table.present_) {
      table.EditFailed("the book has no slot table");
      return;
    }
    if (!table.damage_.empty()) {
      table.EditFailed("the slot table is damaged: " + table.damage_);
      return;
    }
    if (table.path_.empty()) {
      table.EditFailed("the book was not opened from a file that may be written");
      return;
    }
    locked_ = platform::LockedFile::Open(table.path_, platform::File::Mode::kReadWrite);
    if (!locked_.IsOpen()) {
      table.EditFailed("the book cannot be written: " + std::string(std::strerror(locked_.LastError())));
      return;
    }
    if (locked_.device() != table.device_ || locked_.inode() != table.inode_) {
      table.EditFailed("the book was replaced since it was opened; open it again");
      return;
    }
    platform::File& file = locked_.file();
    const uint64_t start = table.stream_start_;
    if (!table.ReadSlots([&](uint64_t at, void* out, size_t size) {
          return file.ReadAt(start + at, out, size);
        })) {
      table.EditFailed("the slot table is damaged: " + table.damage_);
      return;
    }
    ok_ = true;
  }

  bool ok() const { return ok_; }

  bool Write(uint64_t stream_position, const void* data, size_t size) {
    if (locked_.file().WriteAt(table_.stream_start_ + stream_position, data, size)) return true;
    return table_.EditFailed("the slot table could not be written: " +
                             std::string(std::strerror(locked_.file().LastError())));
  }

 private:
  SlotTable& table_;
  platform::LockedFile locked_;
  bool ok_ = false;
};

std::optional<uint32_t> SlotTable::Add(uint8_t kind,
                                       const std::array<uint8_t, kSlotPayloadSize>& payload) {
  if (kind == kSlotFree) return std::nullopt;
  Edit edit(*this);
  if (!edit.ok()) return std::nullopt;
  uint32_t number = used_ + 1;
  for (const Slot& slot : slots_) {
    if (slot.kind == kSlotFree) {
      number = slot.number;
      break;
    }
  }
  if (!Writable(number)) {
    EditFailed("the bookmark table is full: all " + std::to_string(Capacity()) +
               " slots are in use");
    return std::nullopt;
  }
  uint8_t bytes[kSlotSize];
  bytes[0] = kind;
  std::memcpy(bytes + 1, payload.data(), kSlotPayloadSize);
  if (!edit.Write(SlotPosition(number), bytes, sizeof bytes)) return std::nullopt;
  if (number == used_ + 1) {
    uint8_t count[4];
    format::StoreU32(count, number);
    if (!edit.Write(table_, count, sizeof count)) return std::nullopt;
    used_ = number;
    slots_.push_back(Slot{number, kind, payload});
  } else {
    slots_[number - 1].kind = kind;
    slots_[number - 1].payload = payload;
  }
  return number;
}

bool SlotTable::Rewrite(const Slot& seen, uint8_t kind,
                        const std::array<uint8_t, kSlotPayloadSize>& payload) {
  Edit edit(*this);
  if (!edit.ok()) return false;
  if (!StillAsSeen(seen)) return EditFailed("the slot was changed by another program meanwhile");
  uint8_t bytes[kSlotSize];
  bytes[0] = kind;
  std::memcpy(bytes + 1, payload.data(), kSlotPayloadSize);
  if (!edit.Write(SlotPosition(seen.number), bytes, sizeof bytes)) return false;
  slots_[seen.number - 1].kind = kind;
  slots_[seen.number - 1].payload = payload;
  return true;
}

bool SlotTable::Free(const Slot& seen) {
  Edit edit(*this);
  if (!edit.ok()) return false;
  if (!StillAsSeen(seen)) return EditFailed("the slot was changed by another program meanwhile");
  const uint8_t kind = kSlotFree;
  if (!edit.Write(SlotPosition(seen.number), &kind, 1)) return false;
  slots_[seen.number - 1].kind = kSlotFree;
  return true;
}

// ---------------------------------------------------------------- AddSlotTable

namespace {

AddSlotTableResult Failed(std::string message) { return {false, false, std::move(message)}; }

// A temporary file beside the book, removed unless Keep() is called.
class SiblingTemporary {
 public:
  explicit SiblingTemporary(const std::string& path) {
    std::string pattern = path + ".fvxtmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd >= 0) {
      file_ = platform::File(fd);
      path_ = name.data();
    }
  }
  ~SiblingTemporary() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  bool ok() const { return file_.IsOpen(); }
  platform::File& file() { return file_; }
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  platform::File file_;
  std::string path_;
};

}  // namespace

AddSlotTableResult AddSlotTable(const std::string& path, uint32_t slot_count) {
  if (slot_count < 2) return Failed("a slot table needs slot 0 and at least one slot");
  // The book is replaced by a new file, which its folder would allow even
  // when the book itself may not be written: a read-only book stays as it
  // is. The lock is held until the new book stands in its place, so that a
  // second process adding a table at the same time finds this one.
  platform::LockedFile lock = platform::LockedFile::Open(path, platform::File::Mode::kReadWrite);
  if (!lock.IsOpen()) {
    return Failed("the book cannot be written: " + std::string(std::strerror(lock.LastError())));
  }
  format::BookFile book;
  format::BookLayout layout;
  format::FormatError error;
  if (!format::OpenBook(path, &book, &layout, &error)) {
    return Failed("cannot open the book: " + error.reason);
  }
  if (layout.bookmarks) return {true, true, "the book already has a slot table"};

  const format::ByteSource& source = book.source();
  const uint64_t start = book.container().stream_start;
  const uint16_t records = book.container().record_count;
  uint8_t last_entry[4];
  if (!source.ReadAt(format::kRecordListOffset + 8ull * (records - 1), last_entry, 4)) {
    return Failed("the container's record list is cut short");
  }
  const uint64_t stream_end = format::LoadU32(last_entry);
  if (stream_end < start || stream_end - start != layout.header.end_of_book) {
    return Failed("the book holds data after its end of book; it was left unchanged");
  }
  const uint64_t length = stream_end - start;

  const format::OffsetWidth width = layout.width();
  const uint64_t w = format::OffsetBytes(width);
  const uint64_t table = length + 1 + 2 * w;
  const uint64_t new_length = table + uint64_t{slot_count} * kSlotSize;
  if (new_length > format::OffsetLimit(width)) {
    return Failed("the slot table would lie beyond what the book's offsets can reach");
  }
  uint8_t head[format::kRecordCountOffset];
  if (!source.ReadAt(0, head, sizeof head)) return Failed("cannot read the container header");
  const uint64_t new_records = (new_length + format::kRecordSize - 1) / format::kRecordSize + 1;
  const uint64_t new_start = format::kRecordListOffset + 8 * new_records;
  if (new_records > format::kMaxRecordCount || new_start + new_length > UINT32_MAX) {
    return Failed("the book would be too large for its container");
  }

  std::string prefix(reinterpret_cast<const char*>(head), sizeof head);
  format::PutU16(&prefix, static_cast<uint16_t>(new_records));
  for (uint64_t i = 0; i + 1 < new_records; ++i) {
    format::PutU32(&prefix, static_cast<uint32_t>(new_start + i * format::kRecordSize));
    format::PutU32(&prefix, 0);
  }
  format::PutU32(&prefix, static_cast<uint32_t>(new_start + new_length));
  format::PutU32(&prefix, 0);

  SiblingTemporary temporary(path);
  if (!temporary.ok()) return Failed("cannot create a temporary file beside the book");
  platform::File& out = temporary.file();
  if (!out.WriteAt(0, prefix.data(), prefix.size())) return Failed("cannot write the new book");

  // The stream as it was, then the new end of book, then the 'D' section.
  std::vector<uint8_t> piece(1 << 20);
  for (uint64_t at = 0; at < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - at));
    if (!source.ReadAt(start + at, piece.data(), n) || !out.WriteAt(new_start + at, piece.data(), n)) {
      return Failed("cannot copy the book");
    }
    at += n;
  }
  const uint64_t end_of_book_at = format::IntegrityAreaPosition(layout.header.version) - 5 * 4 - w;
  std::string field;
  format::PutOff(&field, new_length, width);
  std::string section;
  format::PutU8(&section, format::BookmarkSection::kTag);
  format::PutOff(&section, new_length, width);
  format::PutOff(&section, table, width);
  section.append(uint64_t{slot_count} * kSlotSize, '\0');
  section.append(format::kTrailingRecordSize, '\0');
  if (!out.WriteAt(new_start + end_of_book_at, field.data(), field.size()) ||
      !out.WriteAt(new_start + length, section.data(), section.size())) {
    return Failed("cannot write the new book");
  }

  // Check the result the way every reader will see it before it replaces
  // the book.
  format::BookFile check;
  format::BookLayout check_layout;
  format::FormatError check_error;
  if (!format::OpenBook(temporary.path(), &check, &check_layout, &check_error) ||
      !check_layout.bookmarks || check_layout.bookmarks->slot_table != table ||
      format::BookIdOf(check_layout.header) != format::BookIdOf(layout.header)) {
    return Failed("the new book did not read back as expected; the book was left unchanged");
  }
  check.Close();

  struct stat original;
  if (::stat(path.c_str(), &original) == 0) ::fchmod(out.Descriptor(), original.st_mode & 07777);
  if (!out.Sync()) return Failed("cannot write the new book");
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
    return Failed("cannot replace the book");
  }
  temporary.Keep();
  return {true, false, "a slot table of " + std::to_string(slot_count - 1) + " slots was added"};
}

}  // namespace fvx::reader
