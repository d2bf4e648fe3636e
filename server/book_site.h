// What the server answers, address by address (all read-only, GET/HEAD):
//
//   /                        the library: every book with its cover
//   /style.css               the one style sheet of the server's pages
//   /opds                    an OPDS 1.2 acquisition feed (Atom)
//   /b/SLUG/                 a book: its subject list with a heading box
//   /b/SLUG/lookup?q=TEXT    JSON: the rows the heading box leads to
//   /b/SLUG/s/N              subject N (or "front"/"back") framed by the
//                            server's page; ?at=P jumps, search fields highlight
//   /b/SLUG/page/N           the renderer's page itself, links rewritten
//   /b/SLUG/p/N[?small=1]    a picture of the book
//   /b/SLUG/search?w1=...    search with the reader's fields
//   /b/SLUG/categories       category values and selections
//   /b/SLUG/list?row=R&value=V | selection=K | expr=HEX    a filtered list
//   /b/SLUG/children/N       a tree book's children of subject N
//   /b/SLUG/file/NAME        the book file (ETag, Last-Modified, ranges)
//
// Anything else is 404; a malformed target or parameter is 400.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/book_shelf.h"
#include "server/http_types.h"
#include "server/request_target.h"

namespace fvx::server {

class BookSite {
 public:
  // REQUIRES: shelf outlives the site.
  explicit BookSite(const BookShelf* shelf) : shelf_(shelf) {}

  // Safe to call from several threads at once.
  HttpResponse Handle(const HttpRequest& request) const;

 private:
  HttpResponse Route(const HttpRequest& request, const RequestTarget& target) const;
  HttpResponse LibraryPage() const;
  HttpResponse OpdsFeed() const;
  HttpResponse BookRoute(const HttpRequest& request, const RequestTarget& target,
                         const std::shared_ptr<ServedBook>& book) const;
  HttpResponse SubjectList(ServedBook& book, const RequestTarget& target) const;
  HttpResponse Lookup(ServedBook& book, const RequestTarget& target) const;
  HttpResponse SubjectFrame(ServedBook& book, const std::string& which,
                            const RequestTarget& target) const;
  HttpResponse RenderedPage(ServedBook& book, const std::string& which,
                            const RequestTarget& target) const;
  HttpResponse Picture(ServedBook& book, const std::string& which,
                       const RequestTarget& target) const;
  HttpResponse Search(ServedBook& book, const RequestTarget& target) const;
  HttpResponse Categories(ServedBook& book) const;
  HttpResponse FilteredList(ServedBook& book, const RequestTarget& target) const;
  HttpResponse Children(ServedBook& book, const std::string& which,
                        const RequestTarget& target) const;
  HttpResponse Download(const HttpRequest& request, const std::shared_ptr<ServedBook>& book) const;

  const BookShelf* shelf_;
};

HttpResponse ErrorResponse(int status, std::string_view message);

// The style sheet served at /style.css.
extern const char kStyleSheet[];

}  // namespace fvx::server
