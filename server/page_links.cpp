#include "server/page_links.h"

#include <optional>

#include "server/request_target.h"

namespace fvx::server {
namespace {

constexpr std::string_view kScheme = "fvxapp://<";
constexpr std::string_view kCoverPicture = "src= \"file://";

bool IsHex(std::string_view text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return !text.empty();
}

// The server address for one app link (the text between "fvxapp://" and the
// closing quote); nullopt leaves it as it was.
std::optional<std::string> Rewrite(std::string_view link, std::string_view base) {
  // link: "<a:b:c>text"
  const size_t close = link.find('>');
  if (link.empty() || link[0] != '<' || close == std::string_view::npos) return std::nullopt;
  const std::string_view fields = link.substr(1, close - 1);
  const std::string_view text = link.substr(close + 1);
  const size_t first = fields.find(':');
  const size_t second = first == std::string_view::npos ? first : fields.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::optional<uint32_t> a = ParseUint32(fields.substr(0, first));
  const std::optional<uint32_t> b = ParseUint32(fields.substr(first + 1, second - first - 1));
  const std::optional<uint32_t> c = ParseUint32(fields.substr(second + 1));
  if (!a || !b || !c) return std::nullopt;
  switch (*a) {
    case 0:
      return std::string(base) + "s/" + std::to_string(*b) +
             (*c != 0 ? "?at=" + std::to_string(*c) : std::string());
    case 4:
      return std::string(text);
    case 5:
      if (!IsHex(text)) return std::nullopt;
      return std::string(base) + "list?expr=" + std::string(text);
    case 6:
      return std::string(base) + "children/" + std::to_string(*b);
    default:
      return std::nullopt;
  }
}

}  // namespace

std::string RewriteAppLinks(std::string_view html, std::string_view base) {
  std::string out;
  out.reserve(html.size() + 64);
  size_t at = 0;
  while (at < html.size()) {
    const size_t link = html.find(kScheme, at);
    const size_t cover = html.find(kCoverPicture, at);
    if (link == std::string_view::npos && cover == std::string_view::npos) break;
    if (cover < link) {
      out.append(html.substr(at, cover - at));
      out.append("src= \"");
      at = cover + kCoverPicture.size();
      continue;
    }
    // The value runs to the closing quote of the attribute.
    const size_t start = link + std::string_view("fvxapp://").size();
    const size_t quote = html.find('"', start);
    const size_t end = quote == std::string_view::npos ? html.size() : quote;
    const std::optional<std::string> address = Rewrite(html.substr(start, end - start), base);
    out.append(html.substr(at, link - at));
    if (address) {
      out.append(*address);
    } else {
      out.append(html.substr(link, end - link));
    }
    at = end;
  }
  out.append(html.substr(std::min(at, html.size())));
  return out;
}

}  // namespace fvx::server
