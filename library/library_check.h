// The reader's start-up check of the local library: entries whose file is
// gone, is another book, or was replaced since it was recorded are removed;
// an entry recorded without a time gets the file's time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "platform/registry.h"

namespace fvx::library {

// The time recorded as a book's "CreatedTime": its modification time in
// seconds since 1970 (Linux keeps no creation time, and the change time
// moves on every rename or chmod, which would drop good entries). nullopt
// when the file cannot be examined.
std::optional<uint32_t> FileCreatedTime(const std::string& path);

// Runs the check on the calling thread; returns how many entries it removed.
int CheckLibraryEntries(platform::Registry& registry);

// Starts the check on a thread of its own and returns once that thread has
// begun. The caller joins it (at exit at the latest).
std::thread StartLibraryCheck(platform::Registry& registry);

}  // namespace fvx::library
