#include "reader/app/hand_over.h"

#include <cstdio>

namespace fvx::reader::app {

std::string PidText(int64_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(pid));
  return text;
}

std::optional<HandOver> ParseHandOver(uint32_t data_id, std::string_view data, int64_t own_pid,
                                      int64_t sender_pid) {
  if (data_id != kHandOverDataId || sender_pid == own_pid) return std::nullopt;
  if (data.size() < 9 || data[8] != '\0') return std::nullopt;
  if (data.substr(0, 8) != PidText(own_pid)) return std::nullopt;
  const std::string_view rest = data.substr(9);
  const size_t path_end = rest.find('\0');
  if (path_end == std::string_view::npos || path_end == 0) return std::nullopt;
  if (data.size() <= 10 + path_end) return std::nullopt;
  HandOver hand_over;
  hand_over.path = std::string(rest.substr(0, path_end));
  const std::string_view after = rest.substr(path_end + 1);
  hand_over.heading = std::string(after.substr(0, after.find('\0')));
  return hand_over;
}

std::string BuildHandOver(int64_t reader_pid, std::string_view path, std::string_view heading) {
  std::string data = PidText(reader_pid);
  data.push_back('\0');
  data += path;
  data.push_back('\0');
  data += heading;
  data.push_back('\0');
  return data;
}

}  // namespace fvx::reader::app
