#include "library/local_list.h"

#include <sys/stat.h>

#include <cstdio>

#include "bookformat/book_id.h"
#include "library/library_settings.h"
#include "platform/html_escape.h"
#include "platform/paths.h"

namespace fvx::library {

using platform::RegistryRoot;

std::string BuildLocalListHtml(platform::Registry& registry) {
  std::string root = LocalKey();
  std::vector<std::string> keys = registry.SubKeys(RegistryRoot::kLocalMachine, root);
  if (keys.empty()) return {};
  std::string html = "<UL>";
  for (const std::string& key : keys) {
    std::string entry_key = root + "\\" + key;
    std::string file = registry.ReadString(RegistryRoot::kLocalMachine, entry_key, "FilePath");
    if (!file.empty() && !IsPlainRelativeName(file)) continue;
    std::string heading = registry.ReadString(RegistryRoot::kLocalMachine, entry_key, "Heading");
    html += "<LI><A href=\"<100:1:0>" + platform::HtmlEscaped(file) + "\">" + platform::HtmlEscaped(heading) + "</A>";
  }
  html += "</UL>";
  return html;
}

std::optional<std::string> FindLocalCopy(platform::Registry& registry, const std::string& url,
                                         const std::string& library_folder) {
  std::string key = LocalKey() + "\\" + format::UrlKey(url);
  std::string file = registry.ReadString(RegistryRoot::kLocalMachine, key, "FilePath");
  if (!IsPlainRelativeName(file)) return std::nullopt;
  std::string path = platform::JoinPath(library_folder, file);
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  FILE* opened = std::fopen(path.c_str(), "rb");
  if (opened == nullptr) return std::nullopt;
  std::fclose(opened);
  return path;
}

}  // namespace fvx::library
