#include "reader/element_html.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "bookformat/coding.h"
#include "platform/ascii.h"

namespace fvx::reader {
namespace {

// Elements whose HTML is a fixed text. with_attributes: followed by the
// attribute pairs and ">" (tags), else written alone (entities).
struct FixedElement {
  uint8_t code;
  const char* html;
  bool with_attributes;
};

constexpr FixedElement kFixedElements[] = {
    {2, "</a", true},       {4, "<b", true},      {5, "</b", true},
    {6, "<i", true},        {7, "</i", true},     {8, "<u", true},
    {9, "</u", true},       {10, "<center", true}, {11, "</center", true},
    {12, "<p", true},       {13, "<br", true},    {14, "<hr", true},
    {16, "</ul", true},     {18, "</ol", true},   {21, "</font", true},
    {25, "<pre", true},     {26, "</pre", true},  {27, "&lt;", false},
    {28, "&gt;", false},    {29, "&nbsp;", false}, {30, "&amp;", false},
    {255, "&#255;", false},
};

constexpr const char* kAlignNames[] = {"center",   "left",     "right",   "top",   "absmiddle",
                                       "absbottom", "texttop", "baseline", "bottom"};

const FixedElement* FindFixed(uint8_t code) {
  for (const FixedElement& fixed : kFixedElements) {
    if (fixed.code == code) return &fixed;
  }
  return nullptr;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return text;
}

// Appends a formatted fragment unless it is too long for the page builder.
bool AppendFragment(std::string* out, const std::string& fragment) {
  if (fragment.size() > kMaxFragmentLength) return false;
  out->append(fragment);
  return true;
}

// Fixed fields of a payload, read front to back; a field that passes the
// payload's end fails and the element is not written.
class PayloadReader {
 public:
  explicit PayloadReader(std::string_view payload) : payload_(payload) {}

  bool U8(uint8_t* value) {
    if (payload_.size() - at_ < 1) return false;
    *value = static_cast<uint8_t>(payload_[at_++]);
    return true;
  }
  bool U32(uint32_t* value) {
    if (payload_.size() - at_ < 4) return false;
    *value = format::LoadU32(reinterpret_cast<const uint8_t*>(payload_.data() + at_));
    at_ += 4;
    return true;
  }
  // Up to the next NUL (consumed) or the payload's end.
  std::string CString() {
    const size_t nul = payload_.find('\0', at_);
    const size_t end = nul == std::string_view::npos ? payload_.size() : nul;
    std::string text(payload_.substr(at_, end - at_));
    at_ = nul == std::string_view::npos ? payload_.size() : nul + 1;
    return text;
  }
  std::string_view Rest() const { return payload_.substr(at_); }

 private:
  std::string_view payload_;
  size_t at_ = 0;
};

void AppendAttributes(std::string_view pairs, std::string* out) {
  PayloadReader reader(pairs);
  while (!reader.Rest().empty()) {
    const std::string name = reader.CString();
    out->push_back(' ');
    out->append(name);
    if (reader.Rest().empty()) break;
    const std::string value = reader.CString();
    if (!value.empty()) {
      out->append("=\"");
      out->append(value);
      out->push_back('"');
    }
  }
}

int Signed(uint32_t value) { return static_cast<int>(value); }

// Writes the opening fragment of a tag element into *html; false when the
// element writes nothing at all. *reader is left at the attribute pairs.
bool OpeningFragment(uint8_t code, PayloadReader* reader, ElementPictures* pictures,
                     std::string* html) {
  switch (code) {
    case element::kLinkStart: {
      uint32_t subject, position;
      if (!reader->U32(&subject) || !reader->U32(&position)) return false;
      return AppendFragment(html, Printf("<a href = \"fvxapp://<%d:%d:%d>\"", 0, Signed(subject),
                                         Signed(position)));
    }
    case 15: {
      uint8_t type;
      return reader->U8(&type) && AppendFragment(html, Printf("<ul type=\"%c\"", type));
    }
    case 17: {
      uint8_t type;
      uint32_t start;
      return reader->U8(&type) && reader->U32(&start) &&
             AppendFragment(html, Printf("<ol type=\"%c\" start=\"%d\"", type, Signed(start)));
    }
    case 19: {
      uint8_t flags;
      if (!reader->U8(&flags)) return false;
      uint32_t start = 0;
      uint8_t type = 0;
      if ((flags & 1) && !reader->U32(&start)) return false;
      if ((flags & 2) && !reader->U8(&type)) return false;
      html->append("<li");
      if (flags & 1) AppendFragment(html, Printf(" start=\"%d\"", Signed(start)));
      if (flags & 2) AppendFragment(html, Printf(" type=\"%c\"", type));
      return true;
    }
    case element::kFont: {
      uint32_t size, colour;
      if (!reader->U32(&size) || !reader->U32(&colour)) return false;
      const std::string face = reader->CString();
      html->append("<font");
      if (!face.empty()) AppendFragment(html, Printf(" face=\"%s\"", face.c_str()));
      const uint32_t value = size & 0xFFFFFF;
      if (value != 0) {
        if (size >= 0x10000000) {
          AppendFragment(html, Printf(" size=\"%d\"", Signed(value)));
        } else if (size & 0x0F000000) {
          AppendFragment(html, Printf(" size=\"-%d\"", Signed(value)));
        } else {
          AppendFragment(html, Printf(" size=\"+%d\"", Signed(value)));
        }
      }
      if (colour <= 0xFFFFFF) AppendFragment(html, Printf(" color=\"%06X\"", colour));
      return true;
    }
    case element::kPicture: {
      uint32_t picture, width, height, border, align;
      if (!reader->U32(&picture) || !reader->U32(&width) || !reader->U32(&height) ||
          !reader->U32(&border) || !reader->U32(&align)) {
        return false;
      }
      const std::string alt = reader->CString();
      html->append("<img");
      const std::optional<std::string> path =
          pictures != nullptr ? pictures->PicturePath(picture) : std::nullopt;
      if (path) {
        AppendFragment(html, Printf(" src= \"%s\"", path->c_str()));
      } else {
        AppendFragment(html, Printf(" alt= \"%s\"", alt.c_str()));
      }
      if (width != 0) AppendFragment(html, Printf(" width = \"%d\"", Signed(width)));
      if (height != 0) AppendFragment(html, Printf(" height = \"%d\"", Signed(height)));
      AppendFragment(html, Printf(" border = \"%d\"", Signed(border)));
      if (align < 9) AppendFragment(html, Printf(" align = \"%s\"", kAlignNames[align]));
      return true;
    }
    case element::kUnknownTag: {
      const std::string name = reader->CString();
      if (!AppendFragment(html, "<" + name)) return false;
      if (platform::EqualsIgnoringAsciiCase(name, "table")) html->append(" class=fvx_background_style ");
      return true;
    }
    case element::kUnknownClosingTag: {
      const std::string name = reader->CString();
      *reader = PayloadReader({});  // the whole payload is the name
      return AppendFragment(html, "</" + name);
    }
    case element::kExternalLink: {
      const std::string url = reader->CString();
      return !url.empty() &&
             AppendFragment(html, Printf("<a href = \"fvxapp://<%d:%d:%d>%s\"", 4, 0, 0, url.c_str()));
    }
    case element::kFilterLink: {
      const std::string text = reader->CString();
      return !text.empty() && AppendFragment(html, Printf("<a href = \"fvxapp://<%d:%d:%d>%s\"", 5,
                                                          0, 0, HexEncode(text).c_str()));
    }
    default:
      return true;  // unknown codes: only their attribute pairs and ">"
  }
}

}  // namespace

std::optional<ElementView> ReadElement(std::string_view text, size_t position) {
  if (position >= text.size() || text.size() - position < kElementHeaderSize) return std::nullopt;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + position);
  const uint32_t length = format::LoadU32(bytes + 1);
  const size_t available = text.size() - position - kElementHeaderSize;
  if (length > available) return std::nullopt;
  ElementView view;
  view.code = bytes[5];
  view.payload = text.substr(position + kElementHeaderSize, length);
  view.size = kElementHeaderSize + length;
  return view;
}

void AppendElementHtml(const ElementView& view, ElementPictures* pictures, std::string* out) {
  if (view.code == element::kUnresolvedLink) return;
  if (const FixedElement* fixed = FindFixed(view.code)) {
    out->append(fixed->html);
    if (fixed->with_attributes) {
      AppendAttributes(view.payload, out);
      out->push_back('>');
    }
    return;
  }
  PayloadReader reader(view.payload);
  switch (view.code) {
    case element::kCharacterCode: {
      uint32_t value;
      if (reader.U32(&value)) AppendFragment(out, Printf("&#%d;", Signed(value)));
      return;
    }
    case element::kEntityName:
      AppendFragment(out, "&" + reader.CString() + ";");
      return;
    default:
      break;
  }
  std::string html;
  if (!OpeningFragment(view.code, &reader, pictures, &html)) return;
  out->append(html);
  AppendAttributes(reader.Rest(), out);
  out->push_back('>');
}

bool ElementCountsAsCharacter(uint8_t code) {
  return code == 27 || code == 28 || code == 30 || code == element::kCharacterCode ||
         code == element::kEntityName;
}

std::string HexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 15]);
  }
  return hex;
}

}  // namespace fvx::reader
