// "\LibInfo\Local": catalogue addresses mapped to files in the library
// folder, listed on the catalogue's home page. Nothing here writes it.
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"

namespace fvx::library {

// "<UL>" and one "<LI><A href="<100:1:0>FilePath">Heading</A>" per key, in
// registry order, then "</UL>"; "" when there is no key. File paths and
// headings are HTML-escaped, entries whose file path would leave the
// library folder are left out.
std::string BuildLocalListHtml(platform::Registry& registry);

// The full path of the local copy of url, when "\LibInfo\Local\<url key>"
// names a file inside library_folder that can be opened for reading.
std::optional<std::string> FindLocalCopy(platform::Registry& registry, const std::string& url,
                                         const std::string& library_folder);

}  // namespace fvx::library
