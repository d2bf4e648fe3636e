#include "library/catalogue_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "reader/book_document.h"

namespace fvx::library {
namespace {

// Text as the source language shows it: no tag may start inside it.
std::string SourceText(const std::string& text) {
  std::string result;
  for (char c : text) {
    switch (c) {
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '&':
        result += "&amp;";
        break;
      case '\r':
      case '\n':
        result += ' ';
        break;
      default:
        result += c;
    }
  }
  return result;
}

// A quoted meta value: double quotes cannot be escaped there.
std::string MetaValue(const std::string& text) {
  std::string result = SourceText(text);
  std::replace(result.begin(), result.end(), '"', '\'');
  return "\"" + result + "\"";
}

}  // namespace

std::vector<CatalogueBook> ScanBookFolder(const std::string& folder,
                                          std::vector<std::string>* skipped) {
  std::vector<CatalogueBook> books;
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
    if (item.is_regular_file(error) && item.path().extension() == ".fvx")
      files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    reader::BookDocument document;
    reader::OpenCode code{};
    if (!document.Open(file.string(), &code)) {
      if (skipped != nullptr) skipped->push_back(file.filename().string());
      continue;
    }
    const format::InfoSection& info = document.layout().info;
    CatalogueBook book;
    book.fileName = file.filename().string();
    book.title = info.title;
    if (book.title.find_first_not_of(" \t") == std::string::npos) {
      book.title = file.stem().string();
      std::replace(book.title.begin(), book.title.end(), '_', ' ');
    }
    book.author = info.author;
    book.createdBy = info.created_by;
    book.url = info.url;
    book.publicationYear = info.publication_year;
    book.majorVersion = info.version_word >> 16;
    book.minorVersion = info.version_word & 0xFFFF;
    book.size = std::filesystem::file_size(file, error);
    books.push_back(std::move(book));
  }
  return books;
}

std::string BookAddress(const std::string& base_url, const std::string& file_name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string address = base_url;
  if (!address.empty() && address.back() != '/') address += '/';
  for (unsigned char c : file_name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      address += static_cast<char>(c);
    } else {
      address += '%';
      address += kHex[c >> 4];
      address += kHex[c & 15];
    }
  }
  return address;
}

std::string BuildCatalogueSource(const std::vector<CatalogueBook>& books,
                                 const std::string& base_url) {
  std::string source;
  source += "<meta>\n  title = \"Fvx Library\"\n  createdby = \"fvx catalogue\"\n";
  source += "  url = " + MetaValue(base_url) + "\n  sortfile = no\n</meta>\n\n";
  source += "<new>Fvx Library\n";
  source += "<p>" + std::to_string(books.size()) + (books.size() == 1 ? " book" : " books") +
            " can be downloaded from this library. Click a title to see the book and fetch "
            "it; books already fetched open at once.</p>\n";
  // Each title leads to its record, whose heading names the book when its
  // download link is followed (the reader files the book under the heading
  // on display). A title that cannot stand in a link target is listed
  // without a link: a download link here would file it as the home page.
  for (const CatalogueBook& book : books) {
    const std::string title = SourceText(book.title);
    if (book.title.find_first_of("\"<>&") == std::string::npos) {
      source += "<br><a href=\"" + title + "\">" + title + "</a>\n";
    } else {
      source += "<br>" + title + "\n";
    }
  }
  source += "<p>Books on this computer:</p>\n<fvxhomelocaldata>\n\n";
  for (const CatalogueBook& book : books) {
    source += "<new>" + SourceText(book.title) + "\n";
    if (!book.author.empty()) source += "<b>Author:</b> " + SourceText(book.author) + "<br>\n";
    if (!book.createdBy.empty())
      source += "<b>Created by:</b> " + SourceText(book.createdBy) + "<br>\n";
    if (book.publicationYear != 0) {
      source += "<b>Published:</b> " + std::to_string(book.publicationYear) + "<br>\n";
    }
    if (book.majorVersion != 0 || book.minorVersion != 0) {
      source += "<b>Version:</b> " + std::to_string(book.majorVersion) + "." +
                std::to_string(book.minorVersion) + "<br>\n";
    }
    if (!book.url.empty()) source += "<b>Web:</b> " + SourceText(book.url) + "<br>\n";
    source += "<b>Size:</b> " + std::to_string((book.size + 1023) / 1024) + " KB<br>\n";
    source += "<p><a href=\"" + BookAddress(base_url, book.fileName) + "\">Download " +
              SourceText(book.title) + "</a></p>\n\n";
  }
  return source;
}

}  // namespace fvx::library
