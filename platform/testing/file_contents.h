#pragma once

// Whole files in and out, for tests that prepare inputs and check outputs.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fvx::platform::testing {

// Empty when the file cannot be read.
inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Creates the folders on the way; replaces what the file held.
inline void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace fvx::platform::testing
