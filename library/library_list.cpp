#include "library/library_list.h"

#include <algorithm>
#include <cstdio>

#include "library/library_settings.h"
#include "platform/paths.h"

namespace fvx::library {
namespace {

using platform::RegistryRoot;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string TitleFromPath(std::string_view path) {
  size_t separator = platform::LastPathSeparator(path);
  std::string name(separator == std::string_view::npos ? path : path.substr(separator + 1));
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::replace(name.begin(), name.end(), '_', ' ');
  return name;
}

}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = static_cast<unsigned char>(Lower(a[i]));
    unsigned char y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string FormatLibraryDate(uint32_t createdTime) {
  if (createdTime == 0) return "  --  ";
  std::time_t time = static_cast<std::time_t>(createdTime);
  std::tm local{};
  if (::localtime_r(&time, &local) == nullptr) return "  --  ";
  char text[64];
  std::strftime(text, sizeof(text), "%m/%d/%Y %I:%M %p", &local);
  return text;
}

bool IsToday(uint32_t createdTime, std::time_t now) {
  std::time_t time = static_cast<std::time_t>(createdTime);
  std::tm then{}, today{};
  if (::localtime_r(&time, &then) == nullptr || ::localtime_r(&now, &today) == nullptr)
    return false;
  return then.tm_year == today.tm_year && then.tm_mon == today.tm_mon &&
         then.tm_mday == today.tm_mday;
}

void LibraryList::Load() {
  entries_.clear();
  std::string root = FileInfoKey();
  if (!registry_.KeyExists(RegistryRoot::kLocalMachine, root)) return;
  for (const std::string& key : registry_.SubKeys(RegistryRoot::kLocalMachine, root)) {
    std::string entry_key = root + "\\" + key;
    LibraryEntry entry;
    entry.key = key;
    entry.path = registry_.ReadString(RegistryRoot::kLocalMachine, entry_key, "Path");
    if (entry.path.empty()) continue;
    entry.heading = registry_.ReadString(RegistryRoot::kLocalMachine, entry_key, "Heading");
    if (entry.heading.empty()) entry.heading = TitleFromPath(entry.path);
    entry.createdTime = registry_.ReadDword(RegistryRoot::kLocalMachine, entry_key, "CreatedTime");
    entries_.push_back(std::move(entry));
  }

  Sort(LibraryColumn::kPath, true);
  auto same_path = [](const LibraryEntry& a, const LibraryEntry& b) {
    return CompareNoCase(a.path, b.path) == 0;
  };
  entries_.erase(std::unique(entries_.begin(), entries_.end(), same_path), entries_.end());

  Sort(LibraryColumn::kHeading, true);
  size_t run_start = 0;
  for (size_t i = 1; i <= entries_.size(); ++i) {
    if (i < entries_.size() &&
        CompareNoCase(entries_[i].heading, entries_[run_start].heading) == 0) {
      continue;
    }
    if (i - run_start > 1) {
      for (size_t j = run_start; j < i; ++j) {
        entries_[j].heading += " - " + std::to_string(j - run_start + 1);
      }
    }
    run_start = i;
  }
}

void LibraryList::Sort(LibraryColumn column, bool ascending) {
  auto less = [column](const LibraryEntry& a, const LibraryEntry& b) {
    switch (column) {
      case LibraryColumn::kPath:
        return CompareNoCase(a.path, b.path) < 0;
      case LibraryColumn::kHeading:
        return CompareNoCase(a.heading, b.heading) < 0;
      case LibraryColumn::kCreatedTime:
        return a.createdTime < b.createdTime;
    }
    return false;
  };
  if (column == LibraryColumn::kPath || ascending) {
    std::stable_sort(entries_.begin(), entries_.end(), less);
  } else {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [&less](const LibraryEntry& a, const LibraryEntry& b) { return less(b, a); });
  }
}

std::optional<size_t> LibraryList::FindPrefix(std::string_view text) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string& heading = entries_[i].heading;
    if (heading.size() >= text.size() && CompareNoCase(heading.substr(0, text.size()), text) == 0) {
      return i;
    }
  }
  return std::nullopt;
}

bool LibraryList::Rename(size_t index, const std::string& text) {
  if (index >= entries_.size()) return false;
  size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  if (first == last) return false;
  LibraryEntry& entry = entries_[index];
  entry.heading = text;
  registry_.WriteString(RegistryRoot::kLocalMachine, FileInfoKey(entry.key), "Heading", text);
  Sort(LibraryColumn::kHeading, true);
  return true;
}

void LibraryList::Delete(std::vector<size_t> indices) {
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
    if (*it >= entries_.size()) continue;
    entries_[*it].marked = true;
    registry_.DeleteKey(RegistryRoot::kLocalMachine, FileInfoKey(entries_[*it].key));
    entries_.erase(entries_.begin() + static_cast<long>(*it));
  }
}

std::string LibraryList::Heading(size_t index) const {
  return index < entries_.size() ? entries_[index].heading : std::string();
}
std::string LibraryList::Path(size_t index) const {
  return index < entries_.size() ? entries_[index].path : std::string();
}
uint32_t LibraryList::CreatedTime(size_t index) const {
  return index < entries_.size() ? entries_[index].createdTime : 0;
}
std::string LibraryList::DateText(size_t index) const {
  return FormatLibraryDate(CreatedTime(index));
}

}  // namespace fvx::library
