#include "reader/reading_state.h"

namespace fvx::reader {
namespace {

constexpr platform::RegistryRoot kRoot = platform::RegistryRoot::kLocalMachine;

}  // namespace

std::string FileInfoKey(std::string_view book_id) {
  std::string key(kFvxRegistryKey);
  key += "\\FileInfo\\";
  key += book_id;
  return key;
}

uint32_t ReadDwordWithDefault(platform::Registry& registry, std::string_view key,
                              std::string_view name, uint32_t default_value) {
  if (std::optional<uint32_t> value = registry.QueryDword(kRoot, key, name)) return *value;
  if (default_value != kNoWriteDefault) registry.WriteDword(kRoot, key, name, default_value);
  return default_value;
}

void LastPageStore::RecordOpen(std::string_view book_id, std::string_view path) {
  if (book_id.empty()) return;
  registry_->WriteString(kRoot, FileInfoKey(book_id), "Path", path);
}

void LastPageStore::Save(std::string_view book_id, const SavedPage& page) {
  if (book_id.empty()) return;
  const std::string key = FileInfoKey(book_id);
  registry_->WriteDword(kRoot, key, "LastPage", page.row);
  registry_->WriteDword(kRoot, key, "LastPageOffset", page.offset);
  registry_->WriteDword(kRoot, key, "LastPageLength", page.height);
}

std::optional<SavedPage> LastPageStore::Restore(std::string_view book_id) {
  if (book_id.empty()) return std::nullopt;
  const std::string key = FileInfoKey(book_id);
  SavedPage page;
  page.row = ReadDwordWithDefault(*registry_, key, "LastPage", 0);
  page.offset = ReadDwordWithDefault(*registry_, key, "LastPageOffset", 0);
  page.height = ReadDwordWithDefault(*registry_, key, "LastPageLength", 0);
  if (page.height == 0) return std::nullopt;
  return page;
}

uint32_t RestoredScrollOffset(uint32_t offset, uint32_t saved_height, uint32_t current_height) {
  if (saved_height == 0) return 0;
  const uint32_t product = offset * current_height;  // wraps as 32-bit arithmetic does
  return product / saved_height;
}

uint32_t History::Add(std::string_view title, uint32_t subject, uint32_t offset, uint32_t height,
                      uint8_t flag) {
  if (!entries_.empty() && entries_[cursor_].subject == subject) return entries_[cursor_].serial;
  if (!entries_.empty()) entries_.erase(entries_.begin() + static_cast<long>(cursor_) + 1, entries_.end());
  HistoryEntry entry;
  entry.flag = flag;
  entry.subject = subject;
  entry.offset = offset;
  entry.height = height;
  entry.title = std::string(title);
  entry.serial = next_serial_++;
  entries_.push_back(std::move(entry));
  if (entries_.size() > kMaxEntries) entries_.pop_front();
  cursor_ = entries_.size() - 1;
  return entries_[cursor_].serial;
}

bool History::UpdateScroll(uint32_t serial, uint32_t subject, uint32_t offset, uint32_t height) {
  for (HistoryEntry& entry : entries_) {
    if (entry.serial == serial && entry.subject == subject) {
      entry.offset = offset;
      entry.height = height;
      return true;
    }
  }
  return false;
}

std::optional<HistoryEntry> History::Back() {
  if (!CanGoBack()) return std::nullopt;
  --cursor_;
  return entries_[cursor_];
}

std::optional<HistoryEntry> History::Forward() {
  if (!CanGoForward()) return std::nullopt;
  ++cursor_;
  return entries_[cursor_];
}

}  // namespace fvx::reader
