#include "library/file_copy.h"

#include <vector>

namespace fvx::library {

bool CopyFileContents(const std::string& source, platform::File& target) {
  platform::File in = platform::File::OpenForReading(source);
  if (!in.IsOpen() || !target.IsOpen()) return false;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    std::optional<size_t> count = in.ReadSome(buffer.data(), buffer.size());
    if (!count) return false;
    if (*count == 0) return true;
    if (!target.Write(buffer.data(), *count)) return false;
  }
}

}  // namespace fvx::library
