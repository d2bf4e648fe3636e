// Scratch files that delete themselves: created anew with mkstemp and
// unlinked at once, so the data vanishes when the last descriptor closes,
// even when the program is killed.
#pragma once

#include <string>
#include <vector>

#include "platform/file.h"

namespace fvx::platform {

// The candidate folders in the order they are considered: $TMPDIR (when set),
// /tmp, /var/tmp.
std::vector<std::string> TemporaryFolderCandidates();

// The candidate with the most space available to this user (statvfs); books
// can pass 4 GiB, so the roomiest disk matters. Empty when none is usable.
std::string TemporaryFolderWithMostSpace();

// A new, already unlinked file in TemporaryFolderWithMostSpace(), named from
// prefix; a closed File when it cannot be made (LastError() tells why,
// ENOENT when no candidate folder is writable).
File CreateScratchFile(const std::string& prefix = "fvx");

// The same in a given folder (tests, and files that must share a disk).
File CreateScratchFileIn(const std::string& folder, const std::string& prefix = "fvx");

// The folder an open scratch file was made in (from /proc/self/fd); empty
// when the system cannot tell.
std::string ScratchFileFolder(const File& file);

}  // namespace fvx::platform
