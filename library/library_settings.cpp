#include "library/library_settings.h"

#include <cstdlib>

#include "platform/paths.h"

namespace fvx::library {
namespace {

std::string Setting(platform::Registry& registry, const char* environment, const char* value,
                    const char* fallback) {
  if (const char* text = std::getenv(environment); text != nullptr && *text != '\0') return text;
  std::string stored =
      registry.ReadString(platform::RegistryRoot::kLocalMachine, LibInfoKey(), value);
  return stored.empty() ? fallback : stored;
}

}  // namespace

std::string BaseKey() {
  return std::string(kBaseKey);
}
std::string FileInfoKey() {
  return BaseKey() + "\\FileInfo";
}
std::string FileInfoKey(std::string_view book_id) {
  return FileInfoKey() + "\\" + std::string(book_id);
}
std::string LibInfoKey() {
  return BaseKey() + "\\LibInfo";
}
std::string DownloadsKey() {
  return LibInfoKey() + "\\Downloads";
}
std::string LocalKey() {
  return LibInfoKey() + "\\Local";
}

std::string CatalogueUrl(platform::Registry& registry) {
  return Setting(registry, "FVX_CATALOGUE_URL", "CatalogueUrl", kDefaultCatalogueUrl);
}

std::string MakerUrl(platform::Registry& registry) {
  return Setting(registry, "FVX_MAKER_URL", "MakerUrl", kDefaultMakerUrl);
}

std::string LibraryFolder() {
  return platform::JoinPath(platform::DataHome(), "Library");
}

bool IsWebAddress(std::string_view url) {
  auto starts = [url](std::string_view prefix) {
    if (url.size() <= prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
      char c = url[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != prefix[i]) return false;
    }
    return true;
  };
  return starts("http://") || starts("https://");
}

bool IsPlainRelativeName(std::string_view name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // "C:..."
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return name.find('\0') == std::string_view::npos;
}

}  // namespace fvx::library
