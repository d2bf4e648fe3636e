#include "compiler/frontend/converting_source_reader.h"

#include <algorithm>
#include <array>

namespace fvx::compiler {
namespace {

constexpr unsigned char kTab = 9;
constexpr unsigned char kLinkCode = 17;

// What each formatting code becomes; the empty entries vanish. The link
// (17) is built by the caller around its target.
constexpr std::array<std::string_view, 25> kCodeTags = {
    "",                                      // 0
    "<b>",                                   // 1
    "</b>",                                  // 2
    "<i>",                                   // 3
    "</i>",                                  // 4
    "<u>",                                   // 5
    "</u>",                                  // 6
    "<HR ALIGN=\"center\" WIDTH=\"100%\">",  // 7
    "<br>",                                  // 8
    "<p>",                                   // 9
    "<li>",                                  // 10
    "<ol>",                                  // 11
    "</ol>",                                 // 12
    "<ul>",                                  // 13
    "</ul>",                                 // 14
    "<center>",                              // 15
    "</center>",                             // 16
    "",                                      // 17: see AppendConvertedText
    "</a>",                                  // 18
    "<strike>",                              // 19
    "</strike>",                             // 20
    "<sup>",                                 // 21
    "</sup>",                                // 22
    "<sub>",                                 // 23
    "</sub>",                                // 24
};

std::string_view UpToZero(std::string_view bytes) {
  return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

}  // namespace

void AppendConvertedText(std::string_view text, std::string& out) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t tab = std::min(text.find(static_cast<char>(kTab), i), text.size());
    out.append(text, i, tab - i);
    if (tab + 1 >= text.size()) break;  // no TAB, or one without a code
    const auto code = static_cast<unsigned char>(text[tab + 1]);
    i = tab + 2;
    if (code == kLinkCode) {
      const size_t end = std::min(text.find_first_of(">\t", i), text.size());
      out += "<a href=\"";
      out.append(text, i, end - i);
      out += "\">";
      i = end < text.size() && text[end] == '>' ? end + 1 : end;
    } else if (code < kCodeTags.size()) {
      out += kCodeTags[code];
    }
  }
}

void AppendRecordSource(bool first, std::string_view heading, std::string_view text,
                        std::string& out) {
  if (first) out += kFvPreamble;
  out += "<new>";
  out += UpToZero(heading);
  out += '\n';
  AppendConvertedText(UpToZero(text), out);
  out += '\n';
}

bool CConvertingSourceReader::Open(const std::string& path) {
  Close();
  return book_.Open(path);
}

bool CConvertingSourceReader::Open(std::unique_ptr<format::ByteSource> source) {
  Close();
  return book_.Open(std::move(source));
}

void CConvertingSourceReader::Close() {
  book_.Close();
  failed_ = false;
  ResetPosition();
}

bool CConvertingSourceReader::Rewind() {
  if (!book_.IsOpen()) return false;
  failed_ = false;
  ResetPosition();
  return true;
}

void CConvertingSourceReader::ResetPosition() {
  generated_ = 0;
  text_.clear();
  next_ = 0;
  have_pushed_ = can_push_ = false;
}

bool CConvertingSourceReader::Generate() {
  if (!HasNextRecord()) return false;
  std::string_view heading, text;
  if (!book_.Read(generated_, &heading, &text)) {
    failed_ = true;
    return false;
  }
  text_.clear();
  AppendRecordSource(generated_ == 0, heading, text, text_);
  ++generated_;
  next_ = 0;
  return true;
}

uint32_t CConvertingSourceReader::Line() const {
  // Between records the next character is the next record's first.
  if (next_ >= text_.size() && HasNextRecord()) return generated_ + 1;
  return generated_;
}

uint32_t CConvertingSourceReader::Column() const {
  if (next_ >= text_.size() && HasNextRecord()) return 0;
  return static_cast<uint32_t>(next_);
}

bool CConvertingSourceReader::AtEnd() {
  if (have_pushed_ || next_ < text_.size()) return false;
  // Records generate no empty text, so one more record means more input.
  return !Generate();
}

bool CConvertingSourceReader::Read(unsigned char& c, bool& pushed_back) {
  pushed_back = have_pushed_;
  have_pushed_ = false;
  if (next_ >= text_.size() && !Generate()) return false;
  c = static_cast<unsigned char>(text_[next_++]);
  can_push_ = true;
  return true;
}

void CConvertingSourceReader::PushBack() {
  if (!can_push_) return;
  can_push_ = false;
  have_pushed_ = true;
  --next_;
}

size_t CConvertingSourceReader::ReadRun(const std::array<bool, 256>& stop, size_t max,
                                        std::string& out) {
  if (have_pushed_) return 0;
  size_t total = 0;
  while (total < max) {
    if (next_ >= text_.size() && !Generate()) break;
    const size_t end = next_ + std::min(text_.size() - next_, max - total);
    size_t i = next_;
    while (i < end && !stop[static_cast<unsigned char>(text_[i])]) ++i;
    out.append(text_, next_, i - next_);
    total += i - next_;
    next_ = i;
    if (i < end) break;  // at a stop character
  }
  can_push_ = false;
  return total;
}

}  // namespace fvx::compiler
