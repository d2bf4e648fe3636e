#include "reader/book_charset.h"

#include <algorithm>

#include "reader/book_document.h"

namespace fvx::reader {
namespace {

constexpr uint32_t kSampledHeadings = 400;

}  // namespace

bool LooksLikeUtf8(std::string_view bytes, bool* has_multibyte) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    int extra = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(extra) >= bytes.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    *has_multibyte = true;
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

std::string CharsetFromHeadings(BookDocument& document) {
  const uint32_t count = document.SubjectCount();
  const uint32_t step = std::max<uint32_t>(1, count / kSampledHeadings);
  bool multibyte = false;
  for (uint32_t subject = 0; subject < count; subject += step) {
    if (!LooksLikeUtf8(document.Heading(subject), &multibyte)) return "windows-1252";
  }
  return multibyte ? "UTF-8" : "windows-1252";
}

}  // namespace fvx::reader
