// Where the library keeps its state: registry keys under the programs' base
// key, the data home's "Library" folder and catalogue files, and the two
// addresses that are settings rather than constants.
//
//   "\LibInfo"  "CatalogueUrl"  where the catalogue book is fetched from
//               "MakerUrl"      a book link in the catalogue contains it
// The environment variables FVX_CATALOGUE_URL and FVX_MAKER_URL override both
// (tests point them at 127.0.0.1).
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace fvx::library {

inline constexpr std::string_view kBaseKey = "Software\\Calderwick Ltd.\\Folivox\\Fvx";
inline constexpr char kDefaultCatalogueUrl[] = "http://library.calderwick.example/Fvx_Lib.fvx";
inline constexpr char kDefaultMakerUrl[] = "http://library.calderwick.example/";

inline constexpr char kCatalogueFile[] = "Fvx_Lib.fvx";
inline constexpr char kCatalogueDownloadingFile[] = "Fvx_Lib.fvx.downloading";
inline constexpr char kCatalogueFinishedFile[] = "Fvx_Lib.finished";

std::string BaseKey();
std::string FileInfoKey();                          // base\FileInfo
std::string FileInfoKey(std::string_view book_id);  // base\FileInfo\<book id>
std::string LibInfoKey();                           // base\LibInfo
std::string DownloadsKey();                         // base\LibInfo\Downloads
std::string LocalKey();                             // base\LibInfo\Local

std::string CatalogueUrl(platform::Registry& registry);
std::string MakerUrl(platform::Registry& registry);

// The data home's "Library" folder (not created here).
std::string LibraryFolder();

// True for "http://" and "https://" addresses, the only ones fetched.
bool IsWebAddress(std::string_view url);

// A file name that stays inside the folder it is joined to: not empty, not
// absolute, no "." or ".." part (either separator). Names from the registry
// and from links are checked with it before any file is opened.
bool IsPlainRelativeName(std::string_view name);

}  // namespace fvx::library
