// Copies a whole file into an open one (the handhelds' queue and staging
// copies).
#pragma once

#include <string>

#include "platform/file.h"

namespace fvx::library {

// Appends the content of source to target; false on any read or write error.
[[nodiscard]] bool CopyFileContents(const std::string& source, platform::File& target);

}  // namespace fvx::library
