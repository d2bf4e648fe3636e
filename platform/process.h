// Starting a sibling program (the reader starts the compiler and the
// downloader, the compiler starts the reader).
#pragma once

#include <string>
#include <vector>

namespace fvx::platform {

// Starts program with arguments, detached from this process (its own session,
// no zombie left behind). A program without "/" is looked up in
// ProgramDirectory() first. True when the program was started.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace fvx::platform
