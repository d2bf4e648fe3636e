#include "server/book_site.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "server/file_response.h"
#include "server/html_text.h"
#include "server/site_html.h"

namespace fvx::server {

std::string PageStart(std::string_view title, const ServedBook* book) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>" + HtmlEscape(title) + "</title><link rel=\"stylesheet\" href=\"/style.css\">"
      "<link rel=\"alternate\" type=\"application/atom+xml;profile=opds-catalog;kind=acquisition\" "
      "href=\"/opds\" title=\"Books (OPDS)\"></head><body><header class=\"bar\"><a href=\"/\">Library</a>";
  if (book != nullptr) {
    html += "<a class=\"crumb\" href=\"" + BookBase(*book) + "\">" + BookText(*book, book->title()) + "</a>";
  }
  html += "</header><main>";
  return html;
}

std::string PageEnd() { return "</main></body></html>\n"; }

HttpResponse HtmlPage(std::string html) {
  HttpResponse response;
  response.body = std::move(html);
  response.AddHeader("Cache-Control", "no-cache");
  return response;
}

std::string BookText(const ServedBook& book, std::string_view bytes) {
  return HtmlEscape(ToUtf8(bytes, book.charset()));
}

std::string BookBase(const ServedBook& book) { return "/b/" + book.slug() + "/"; }

HttpResponse ErrorResponse(int status, std::string_view message) {
  HttpResponse response;
  response.status = status;
  response.content_type = "text/plain; charset=utf-8";
  response.body = std::string(message) + "\n";
  return response;
}

namespace {

std::string FormatSize(uint64_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(bytes) / 1024.0 + 0.5);
  }
  return text;
}

std::string AtomTime(int64_t nanoseconds) {
  const time_t seconds = static_cast<time_t>(nanoseconds / 1000000000);
  struct tm parts;
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string ETagOf(const FileSignature& signature) {
  char text[80];
  std::snprintf(text, sizeof text, "\"%llx-%llx-%llx\"",
                static_cast<unsigned long long>(signature.inode),
                static_cast<unsigned long long>(signature.size),
                static_cast<unsigned long long>(signature.modified_ns));
  return text;
}

// Content type from the first bytes; the book stores pictures as it got them.
std::string PictureType(const std::string& bytes) {
  auto starts = [&](std::string_view magic) { return bytes.compare(0, magic.size(), magic) == 0; };
  if (starts("\x89PNG")) return "image/png";
  if (starts("\xFF\xD8")) return "image/jpeg";
  if (starts("GIF8")) return "image/gif";
  if (starts("BM")) return "image/bmp";
  if (starts("\x8AMNG")) return "video/x-mng";
  if (starts("\x8BJNG")) return "image/x-jng";
  return "application/octet-stream";
}

}  // namespace

HttpResponse BookSite::Handle(const HttpRequest& request) const {
  if (request.method != "GET" && request.method != "HEAD") {
    HttpResponse response = ErrorResponse(405, "only GET and HEAD: the server is read-only");
    response.AddHeader("Allow", "GET, HEAD");
    return response;
  }
  RequestTarget target;
  if (!ParseTarget(request.target, &target)) return ErrorResponse(400, "malformed address");
  return Route(request, target);
}

HttpResponse BookSite::Route(const HttpRequest& request, const RequestTarget& target) const {
  const std::vector<std::string>& s = target.segments;
  if (s.empty()) return LibraryPage();
  if (s.size() == 1 && s[0] == "style.css" && !target.trailing_slash) {
    HttpResponse response;
    response.content_type = "text/css; charset=utf-8";
    response.body = kStyleSheet;
    response.AddHeader("Cache-Control", "max-age=3600");
    return response;
  }
  if (s.size() == 1 && s[0] == "opds" && !target.trailing_slash) return OpdsFeed();
  if (s.size() >= 2 && s[0] == "b") {
    const std::shared_ptr<ServedBook> book = shelf_->Find(s[1]);
    if (!book) return ErrorResponse(404, "no such book");
    return BookRoute(request, target, book);
  }
  return ErrorResponse(404, "no such page");
}

HttpResponse BookSite::BookRoute(const HttpRequest& request, const RequestTarget& target,
                                 const std::shared_ptr<ServedBook>& book) const {
  const std::vector<std::string>& s = target.segments;
  if (s.size() == 2) {
    if (!target.trailing_slash) {
      HttpResponse response = ErrorResponse(301, "moved");
      response.AddHeader("Location", BookBase(*book));
      return response;
    }
    return SubjectList(*book, target);
  }
  if (target.trailing_slash) return ErrorResponse(404, "no such page");
  const std::string& what = s[2];
  if (s.size() == 3) {
    if (what == "lookup") return Lookup(*book, target);
    if (what == "search") return Search(*book, target);
    if (what == "categories") return Categories(*book);
    if (what == "list") return FilteredList(*book, target);
    if (what == "file") return Download(request, book);
  } else if (s.size() == 4) {
    if (what == "s") return SubjectFrame(*book, s[3], target);
    if (what == "page") return RenderedPage(*book, s[3], target);
    if (what == "p") return Picture(*book, s[3], target);
    if (what == "children") return Children(*book, s[3], target);
    if (what == "file" && s[3] == book->file_name()) return Download(request, book);
  }
  return ErrorResponse(404, "no such page");
}

HttpResponse BookSite::LibraryPage() const {
  const std::vector<std::shared_ptr<ServedBook>> books = shelf_->Books();
  std::string html = PageStart("Library", nullptr);
  html += "<h1>Library</h1><p class=\"muted\">" + std::to_string(books.size()) +
          (books.size() == 1 ? " book" : " books") +
          " &middot; <a href=\"/opds\">OPDS feed</a></p><ul class=\"books\">";
  for (const std::shared_ptr<ServedBook>& book : books) {
    const std::string base = BookBase(*book);
    html += "<li data-book=\"" + book->slug() + "\">";
    if (book->front_cover_picture()) {
      html += "<a href=\"" + base + "\"><img alt=\"\" src=\"" + base + "p/" +
              std::to_string(*book->front_cover_picture()) + "?small=1\"></a>";
    } else {
      html += "<span class=\"nocover\"></span>";
    }
    html += "<div><a class=\"title\" href=\"" + base + "\">" + BookText(*book, book->title()) +
            "</a>";
    if (!book->author().empty()) html += "<div>" + BookText(*book, book->author()) + "</div>";
    html += "<div class=\"muted\">" + std::to_string(book->subject_count()) + " subjects &middot; " +
            FormatSize(book->signature().size) + " &middot; <a href=\"" + base + "file/" +
            EncodeComponent(book->file_name()) + "\">download</a></div></div></li>";
  }
  html += "</ul>" + PageEnd();
  return HtmlPage(std::move(html));
}

HttpResponse BookSite::OpdsFeed() const {
  const std::vector<std::shared_ptr<ServedBook>> books = shelf_->Books();
  int64_t newest = 0;
  for (const auto& book : books) newest = std::max(newest, book->signature().modified_ns);
  const std::string kind = "application/atom+xml;profile=opds-catalog;kind=acquisition";
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:dc=\"http://purl.org/dc/terms/\" "
      "xmlns:opds=\"http://opds-spec.org/2010/catalog\">\n"
      "<id>urn:fvx:served-books</id>\n<title>Books</title>\n<updated>" + AtomTime(newest) +
      "</updated>\n<author><name>fvx serve</name></author>\n"
      "<link rel=\"self\" href=\"/opds\" type=\"" + kind + "\"/>\n"
      "<link rel=\"start\" href=\"/opds\" type=\"" + kind + "\"/>\n";
  for (const std::shared_ptr<ServedBook>& book : books) {
    const std::string base = BookBase(*book);
    const std::string id = book->book_id().empty() ? book->slug() : book->book_id();
    xml += "<entry>\n<title>" + HtmlEscape(ToUtf8(book->title(), book->charset())) +
           "</title>\n<id>urn:fvx:book:" + HtmlEscape(id) + "</id>\n<updated>" +
           AtomTime(book->signature().modified_ns) + "</updated>\n";
    if (!book->author().empty()) {
      xml += "<author><name>" + HtmlEscape(ToUtf8(book->author(), book->charset())) +
             "</name></author>\n";
    }
    xml += "<summary>" + std::to_string(book->subject_count()) + " subjects</summary>\n";
    xml += "<link rel=\"http://opds-spec.org/acquisition\" href=\"" + base + "file/" +
           EncodeComponent(book->file_name()) + "\" type=\"application/x-fvx\" length=\"" +
           std::to_string(book->signature().size) + "\"/>\n";
    if (book->front_cover_picture()) {
      const std::string picture = base + "p/" + std::to_string(*book->front_cover_picture());
      xml += "<link rel=\"http://opds-spec.org/image\" href=\"" + picture + "\"/>\n";
      xml += "<link rel=\"http://opds-spec.org/image/thumbnail\" href=\"" + picture + "?small=1\"/>\n";
    }
    xml += "<link rel=\"alternate\" href=\"" + base + "\" type=\"text/html\"/>\n</entry>\n";
  }
  xml += "</feed>\n";
  HttpResponse response;
  response.content_type = kind + ";charset=utf-8";
  response.body = std::move(xml);
  return response;
}

HttpResponse BookSite::Picture(ServedBook& book, const std::string& which,
                               const RequestTarget& target) const {
  const std::optional<uint32_t> picture = [&]() -> std::optional<uint32_t> {
    if (which.empty() || which.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (const char c : which) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= 0xFFFFFFFFu ? std::optional<uint32_t>(static_cast<uint32_t>(value)) : std::nullopt;
  }();
  if (!picture) return ErrorResponse(404, "no such picture");
  const std::optional<std::string_view> small = target.Param("small");
  if (small && *small != "0" && *small != "1") return ErrorResponse(400, "small is 0 or 1");
  const bool small_version = small && *small == "1";
  ServedBook::Lease document = book.Borrow();
  if (!document) return ErrorResponse(503, "the book cannot be read just now");
  if (*picture >= document->PictureCount()) return ErrorResponse(404, "no such picture");
  // A book may keep no small version: the full one stands in for it.
  const bool small_kept = small_version && document->PictureLength(*picture, true) != 0;
  const uint64_t length = document->PictureLength(*picture, small_kept);
  if (length == 0 || length > (256u << 20)) return ErrorResponse(404, "the picture cannot be read");
  std::string bytes(length, '\0');
  if (document->PictureData(*picture, small_kept, bytes.data(), length) != length) {
    return ErrorResponse(404, "the picture cannot be read");
  }
  HttpResponse response;
  response.content_type = PictureType(bytes);
  response.body = std::move(bytes);
  response.AddHeader("Cache-Control", "no-cache");
  response.AddHeader("ETag", ETagOf(book.signature()));
  return response;
}

HttpResponse BookSite::Download(const HttpRequest& request,
                                const std::shared_ptr<ServedBook>& book) const {
  FileFacts facts;
  facts.size = book->signature().size;
  facts.etag = ETagOf(book->signature());
  facts.modified = static_cast<time_t>(book->signature().modified_ns / 1000000000);
  ByteRange part;
  HttpResponse response = FileResponse(request, facts, "application/x-fvx", &part);
  response.AddHeader("Content-Disposition",
                     "attachment; filename*=UTF-8''" + EncodeComponent(book->file_name()));
  if (response.status == 200 || response.status == 206) {
    response.file = FileBody{book, book->descriptor(), part.first, part.length};
  }
  return response;
}

}  // namespace fvx::server
