// Queues a book for installation on a Palm handheld at its next HotSync.
// A book file is already a handheld database: it only needs the ".pdb"
// name, which the aide takes from the file it is handed, so the book is
// staged under that name first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "library/palm_install_aide.h"

namespace fvx::library {

// The HotSync users' names in the aide's order. A name that does not fit the
// first 50-byte buffer is read again into one of the size the aide asks for.
std::vector<std::string> HotSyncUserNames(PalmInstallAide& aide);

// Stages book_path (a ".fvx" book, any case) as NAME.pdb in a private folder
// made inside staging_folder (empty: beside the book, never replacing a file
// there), queues it for the user's handheld, or for the first card slot when
// to_card and the handheld has one, and removes the staged copy. True when
// the aide answered 0 or -512.
bool InstallOnPalm(PalmInstallAide& aide, std::string_view book_path, std::string_view user_name,
                   bool to_card, const std::string& staging_folder);

// The same, staged in the system's temporary folder.
bool InstallOnPalm(PalmInstallAide& aide, std::string_view book_path, std::string_view user_name,
                   bool to_card);

}  // namespace fvx::library
