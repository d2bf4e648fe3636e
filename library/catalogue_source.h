// The publisher's side of the net library: a catalogue book's source text,
// made from the books of a folder (one subject per book with its title,
// author and information fields and a link to where it is served), with a
// home page that carries the reader's "<fvxhomelocaldata>" placeholder.
#pragma once

#include <string>
#include <vector>

namespace fvx::library {

struct CatalogueBook {
  std::string fileName;  // in the served folder
  std::string title;     // empty: the file name, "_" as spaces
  std::string author;
  std::string createdBy;
  std::string url;  // the book's own web address, when it names one
  unsigned publicationYear = 0;
  unsigned majorVersion = 0;
  unsigned minorVersion = 0;
  unsigned long long size = 0;
};

// Reads the information section of every ".fvx" file of folder (not
// below it), in file-name order. Files that are not books are skipped and
// named in *skipped.
std::vector<CatalogueBook> ScanBookFolder(const std::string& folder,
                                          std::vector<std::string>* skipped);

// base_url + file name, the name percent-encoded where a URL needs it.
std::string BookAddress(const std::string& base_url, const std::string& file_name);

// The source text of the catalogue, to be compiled as it stands.
std::string BuildCatalogueSource(const std::vector<CatalogueBook>& books,
                                 const std::string& base_url);

}  // namespace fvx::library
