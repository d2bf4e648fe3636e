// Pieces shared by the server's own pages (not the book's rendered pages).
#pragma once

#include <string>
#include <string_view>

#include "server/http_types.h"
#include "server/served_book.h"

namespace fvx::server {

// "<!DOCTYPE html>...<main>": title in UTF-8; book, when given, adds its
// link to the bar.
std::string PageStart(std::string_view title, const ServedBook* book);
std::string PageEnd();
HttpResponse HtmlPage(std::string html);

// A book's text (headings, titles) escaped for the UTF-8 page.
std::string BookText(const ServedBook& book, std::string_view bytes);
// The book's address with its closing slash.
std::string BookBase(const ServedBook& book);

}  // namespace fvx::server
