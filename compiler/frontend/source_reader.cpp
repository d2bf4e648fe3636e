#include "compiler/frontend/source_reader.h"

namespace fvx::compiler {

size_t CSourceReader::ReadRun(const std::array<bool, 256>& stop, size_t max, std::string& out) {
  size_t count = 0;
  while (count < max) {
    unsigned char c = 0;
    bool pushed_back = false;
    if (!Read(c, pushed_back)) break;
    if (pushed_back || stop[c]) {
      PushBack();
      break;
    }
    out.push_back(static_cast<char>(c));
    ++count;
  }
  return count;
}

}  // namespace fvx::compiler
