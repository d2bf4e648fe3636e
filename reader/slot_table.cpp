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

bool SlotTable::Load(const format::BookFile& file, const format::BookLayout& layout,
                     const std::string& path) {
  Clear();
  if (!layout.bookmarks) return true;
  const format::BookmarkSection& section = *layout.bookmarks;
  const uint64_t size = file.StreamSize();
  table_ = section.slot_table;
  path_ = path;
  stream_start_ = file.container().stream_start;

  // The room the table may fill: the rest of its 'D' section; for a table
  // that some other tool put elsewhere, up to the next section (or the end
  // of the book, or the container's last record).
  if (table_ >= section.place.position && table_ < section.place.next) {
    room_end_ = section.place.next;
  } else {
    room_end_ = UINT64_MAX;
    for (const format::SectionPlace& place : layout.Sections()) {
      if (place.position > table_) room_end_ = std::min(room_end_, place.position);
    }
    if (room_end_ == UINT64_MAX) {
      room_end_ = table_ < layout.header.end_of_book
                      ? layout.header.end_of_book
                      : (size > format::kTrailingRecordSize ? size - format::kTrailingRecordSize : 0);
    }
  }
  room_end_ = std::max(table_, std::min(room_end_, size));

  uint8_t count[4];
  if (!file.ReadAt(table_, count, sizeof count)) return false;
  present_ = true;
  // A count beyond the file is damage: read what is there.
  const uint64_t in_file = (size - table_) / kSlotSize;
  used_ = static_cast<uint32_t>(
      std::min<uint64_t>(format::LoadU32(count), in_file > 0 ? in_file - 1 : 0));
  std::vector<uint8_t> bytes(uint64_t{used_} * kSlotSize);
  if (!bytes.empty() && !file.ReadAt(table_ + kSlotSize, bytes.data(), bytes.size())) {
    used_ = 0;
    return false;
  }
  for (uint32_t k = 0; k < used_; ++k) {
    Slot slot;
    slot.number = k + 1;
    slot.kind = bytes[uint64_t{k} * kSlotSize];
    std::memcpy(slot.payload.data(), &bytes[uint64_t{k} * kSlotSize + 1], kSlotPayloadSize);
    slots_.push_back(slot);
  }
  return true;
}

const Slot* SlotTable::Find(uint32_t number) const {
  if (number == 0 || number > slots_.size()) return nullptr;
  return &slots_[number - 1];
}

bool SlotTable::WriteAt(uint64_t stream_position, const void* data, size_t size) {
  if (path_.empty()) return false;
  platform::File file = platform::File::Open(path_, platform::File::Mode::kReadWrite);
  if (!file.IsOpen()) return false;
  return file.WriteAt(stream_start_ + stream_position, data, size);
}

std::optional<uint32_t> SlotTable::Add(uint8_t kind,
                                       const std::array<uint8_t, kSlotPayloadSize>& payload) {
  if (!present_ || kind == kSlotFree) return std::nullopt;
  uint32_t number = used_ + 1;
  for (const Slot& slot : slots_) {
    if (slot.kind == kSlotFree) {
      number = slot.number;
      break;
    }
  }
  if (!Writable(number)) return std::nullopt;
  uint8_t bytes[kSlotSize];
  bytes[0] = kind;
  std::memcpy(bytes + 1, payload.data(), kSlotPayloadSize);
  if (!WriteAt(SlotPosition(number), bytes, sizeof bytes)) return std::nullopt;
  if (number == used_ + 1) {
    uint8_t count[4];
    format::StoreU32(count, number);
    if (!WriteAt(table_, count, sizeof count)) return std::nullopt;
    used_ = number;
    slots_.push_back(Slot{number, kind, payload});
  } else {
    slots_[number - 1].kind = kind;
    slots_[number - 1].payload = payload;
  }
  return number;
}

bool SlotTable::Rewrite(uint32_t number, uint8_t kind,
                        const std::array<uint8_t, kSlotPayloadSize>& payload) {
  if (Find(number) == nullptr || !Writable(number)) return false;
  uint8_t bytes[kSlotSize];
  bytes[0] = kind;
  std::memcpy(bytes + 1, payload.data(), kSlotPayloadSize);
  if (!WriteAt(SlotPosition(number), bytes, sizeof bytes)) return false;
  slots_[number - 1].kind = kind;
  slots_[number - 1].payload = payload;
  return true;
}

bool SlotTable::Free(uint32_t number) {
  if (Find(number) == nullptr || !Writable(number)) return false;
  const uint8_t kind = kSlotFree;
  if (!WriteAt(SlotPosition(number), &kind, 1)) return false;
  slots_[number - 1].kind = kSlotFree;
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
  format::BookFile book;
  format::BookLayout layout;
  format::FormatError error;
  if (!format::OpenBook(path, &book, &layout, &error)) {
    return Failed("cannot open the book: " + error.reason);
  }
  if (layout.bookmarks) return {true, true, "the book already has a slot table"};
  // The book is replaced by a new file, which its folder would allow even
  // when the book itself may not be written: a read-only book stays as it is.
  if (!platform::File::Open(path, platform::File::Mode::kReadWrite).IsOpen()) {
    return Failed("the book cannot be written");
  }

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
