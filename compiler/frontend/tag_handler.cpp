// The tag handler: every tag of a body that is not a compiler tag becomes
// one element of the recorded text.
//
// Recorded tag element (little-endian numbers):
//   element     := 0xFF length:u32 code:u8 own-payload pass-through*
//   pass-through:= name 0x00 value 0x00        (properties not consumed)
//   own-payload by code:
//     1  internal link   link-row:u32 0:u32
//     34 external link   target 0x00
//     35 filter link     filter-text 0x00
//     15 ul              type-char ('c' | 'd' | 's')
//     17 ol              type-char ('A' 'a' 'I' 'i' 'l') start:u32
//     19 li              flags-char [value:u32 if flags & 1] [type-char if flags & 2]
//     20 font            size:u32 colour:u32 face 0x00
//     22 img             picture-row:u32 width:u32 height:u32 border:u32 align:u32 alt 0x00
//     23 unknown tag     name 0x00
//     24 unknown closing name                   (the whole payload)
//     31 numeric entity  value:u32
//     32 named entity    name                   (the whole payload)
//     others             (none)
#include <cstring>

#include "compiler/frontend/char_class.h"
#include "compiler/frontend/colour.h"
#include "compiler/frontend/parser.h"

namespace fvx::compiler {
namespace {

struct KnownTag {
  const char* name;
  uint8_t opening;
  uint8_t closing;  // 3: the tag has no closing form
};

constexpr KnownTag kKnownTags[] = {
    {"a", 1, 2},        {"b", 4, 5},       {"img", 22, 3}, {"i", 6, 7},   {"u", 8, 9},
    {"center", 10, 11}, {"p", 12, 3},      {"br", 13, 3},  {"hr", 14, 3}, {"ul", 15, 16},
    {"ol", 17, 18},     {"li", 19, 3},     {"font", 20, 21}, {"pre", 25, 26},
};

const KnownTag* FindKnownTag(std::string_view name) {
  for (const KnownTag& tag : kKnownTags) {
    if (CompareFolded(name, tag.name) == 0) return &tag;
  }
  return nullptr;
}

constexpr const char* kAlignments = "center,left,right,top,absmiddle,absbottom,texttop,baseline,bottom";
constexpr const char* kListTypes = "A,a,I,i,l";

// A target with a scheme: a run without white space, then ":/".
bool IsExternalTarget(std::string_view target) {
  size_t colon = target.find(":/");
  if (colon == std::string_view::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    if (IsSourceSpace(static_cast<unsigned char>(target[i]))) return false;
  }
  return true;
}

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseDigits(std::string_view digits, int base, uint64_t& value) {
  if (digits.empty()) return false;
  value = 0;
  for (char ch : digits) {
    int d = HexValue(static_cast<unsigned char>(ch));
    if (d < 0 || d >= base) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFull) return false;
  }
  return true;
}

}  // namespace

bool CParser::ParsePropertyNumber(std::string_view text, int64_t& value, char& sign) {
  sign = 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    sign = text[0];
    text.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  bool ok = !text.empty() && text[0] == '#' ? ParseDigits(text.substr(1), 16, magnitude)
                                            : ParseDigits(text, 10, magnitude);
  if (!ok) return false;
  value = sign == '-' ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool CParser::ParseEntityNumber(std::string_view text, uint32_t& value) {
  uint64_t v = 0;
  bool ok = false;
  if (!text.empty() && text[0] == '#') {
    std::string_view digits = text.substr(1);
    if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
      ok = ParseDigits(digits.substr(1), 16, v);
    } else {
      // Decimal when every digit is decimal, as HTML means "&#169;";
      // hexadecimal when a letter shows it must be.
      ok = ParseDigits(digits, 10, v) || ParseDigits(digits, 16, v);
    }
  } else {
    ok = ParseDigits(text, 10, v);
  }
  if (!ok) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

// --- Tag records ------------------------------------------------------------------

void CParser::OpenTag(const Token& token) {
  tag_ = TagRecord();
  tag_.name = token.text;
  tag_.line = token.line;
  tag_.column = token.column;
  ignore_next_value_ = false;
}

void CParser::AddPropertyName(const std::string& name, int& next) {
  ignore_next_value_ = false;
  for (const TagRecord::Property& p : tag_.properties) {
    if (CompareFolded(p.name, name) == 0) {
      context_.Report(true, Level::kWarning, MessageId::kPropertyRedefined, "%s:%s:%s",
                      {tag_.name, name, p.value});
      ignore_next_value_ = true;
      return;
    }
  }
  if (tag_.properties.size() >= TagRecord::kMaxProperties) {
    // An eighth property: most likely a "<" meant as text. The tag stays as
    // body text.
    context_.Report(true, Level::kWarning, MessageId::kTooManyProperties, "%s:%d",
                    {tag_.name, 6});
    next = 202;
    return;
  }
  tag_.properties.push_back({name, std::string(), false});
}

void CParser::SetPropertyValue(const std::string& value) {
  if (ignore_next_value_ || tag_.properties.empty()) {
    ignore_next_value_ = false;
    return;
  }
  tag_.properties.back().value = value;
  tag_.properties.back().has_value = true;
}

void CParser::MalformedTag() {
  context_.Report(true, Level::kWarning, MessageId::kMalformedTag);
}

void CParser::CloseTag(int& next) {
  static constexpr std::pair<const char*, int> kSkipped[] = {
      {"head", 6000}, {"script", 6100}, {"title", 6200}, {"style", 6300}};
  for (const auto& [name, state] : kSkipped) {
    if (CompareFolded(tag_.name, name) == 0) {
      recorder_.CutToTagStart();
      recorder_.SetRecording(false);
      next = state;
      return;
    }
  }
  for (const char* name : {"body", "html", "meta"}) {
    if (CompareFolded(tag_.name, name) == 0) {
      recorder_.CutToTagStart();
      recorder_.SetRecording(false);
      return;
    }
  }
  if (!HandleTag(tag_) && !context_.parse_failed()) MalformedTag();
  recorder_.SetRecording(false);
}

void CParser::ClosingTag(const std::string& name) {
  recorder_.CutToTagStart();
  // The ">" that follows is no text either.
  recorder_.SetRecording(false);
  if (CompareFolded(name, "body") == 0 || CompareFolded(name, "html") == 0) return;
  const KnownTag* known = FindKnownTag(name);
  ElementBuilder element(known != nullptr ? known->closing : uint8_t{kElementUnknownClosing});
  if (known == nullptr) element.Text(name);
  recorder_.AppendElement(element.Finish());
}

// --- Entities -------------------------------------------------------------------------

void CParser::EntityStart() {
  if (!recorder_.recording()) {
    recorder_.SetRecording(true);
    recorder_.SetTagStart(recorder_.size());
    recorder_.AppendByte('&');
  }
}

void CParser::Entity(const std::string& name) {
  recorder_.CutToTagStart();
  uint32_t number = 0;
  std::string folded = name;
  for (char& c : folded) c = static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(c)));
  uint8_t code = kElementNamedEntity;
  if (folded == "lt") {
    code = kElementLessThan;
  } else if (folded == "gt") {
    code = kElementGreaterThan;
  } else if (folded == "nbsp") {
    code = kElementNbsp;
  } else if (folded == "amp" || folded.empty()) {
    // A lone "&" in running text means the character itself.
    code = kElementAmpersand;
  } else if (ParseEntityNumber(name, number)) {
    code = kElementCharacter;
  }
  ElementBuilder element(code);
  if (code == kElementCharacter) element.U32(number);
  if (code == kElementNamedEntity) element.Text(name);
  recorder_.AppendElement(element.Finish());
}

// --- Property checks ------------------------------------------------------------------

bool CParser::NeedsValue(const TagRecord& tag, const TagRecord::Property& p) {
  if (p.has_value) return true;
  context_.Report(true, Level::kError, MessageId::kPropertyNeedsValue, "%s:%s", {tag.name, p.name});
  return false;
}

bool CParser::NumberProperty(const TagRecord& tag, const char* name, uint32_t& value,
                             bool& present, char* sign) {
  present = false;
  const TagRecord::Property* p = tag.Find(name);
  if (p == nullptr) return true;
  if (!NeedsValue(tag, *p)) return false;
  int64_t number = 0;
  char number_sign = 0;
  if (!ParsePropertyNumber(p->value, number, number_sign)) {
    context_.Report(true, Level::kError, MessageId::kPropertyNotNumeric, "%s:%s:%s",
                    {tag.name, p->name, p->value});
    return false;
  }
  if (sign != nullptr) *sign = number_sign;
  if (number < 0) number = -number;
  value = number > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(number);
  present = true;
  return true;
}

bool CParser::ChoiceProperty(const TagRecord& tag, const char* name, const char* choices,
                             bool case_sensitive, int& index) {
  index = -1;
  const TagRecord::Property* p = tag.Find(name);
  if (p == nullptr) return true;
  if (!NeedsValue(tag, *p)) return false;
  std::string_view list(choices);
  int position = 0;
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view choice = list.substr(0, comma);
    bool same = case_sensitive ? choice == p->value : CompareFolded(choice, p->value) == 0;
    if (same) {
      index = position;
      return true;
    }
    ++position;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  context_.Report(true, Level::kWarning, MessageId::kPropertyUnknownValue, "%s:%s:%s:%s",
                  {tag.name, p->name, p->value, choices});
  return false;
}

void CParser::AppendPassThrough(const TagRecord& tag, std::initializer_list<const char*> consumed,
                                ElementBuilder& element) {
  for (const TagRecord::Property& p : tag.properties) {
    bool used = false;
    for (const char* name : consumed) {
      if (CompareFolded(p.name, name) == 0) used = true;
    }
    if (used) continue;
    element.TextZ(p.name);
    element.TextZ(p.value);
  }
}

// --- The tag handler ----------------------------------------------------------------------

bool CParser::HandleTag(const TagRecord& tag) {
  if (CompareFolded(tag.name, "base") == 0) {
    recorder_.CutToTagStart();
    return true;
  }
  if (CompareFolded(tag.name, "a") == 0) {
    std::string element;
    if (!HandleLink(tag, element)) return false;
    recorder_.CutToTagStart();
    recorder_.AppendElement(element);
    return true;
  }
  if (CompareFolded(tag.name, "img") == 0) return HandlePicture(tag);

  const KnownTag* known = FindKnownTag(tag.name);
  if (known == nullptr) {
    ElementBuilder element(kElementUnknownTag);
    element.TextZ(tag.name);
    AppendPassThrough(tag, {}, element);
    recorder_.CutToTagStart();
    recorder_.AppendElement(element.Finish());
    return true;
  }
  ElementBuilder element(known->opening);
  switch (known->opening) {
    case 15: {  // ul
      int type = -1;
      if (!ChoiceProperty(tag, "type", "circle,disc,square", false, type)) return false;
      element.Byte(type == 0 ? 'c' : type == 2 ? 's' : 'd');
      AppendPassThrough(tag, {"type"}, element);
      break;
    }
    case 17: {  // ol
      int type = -1;
      uint32_t start = 1;
      bool has_start = false;
      if (!ChoiceProperty(tag, "type", kListTypes, true, type)) return false;
      if (!NumberProperty(tag, "start", start, has_start)) return false;
      element.Byte(type >= 0 ? static_cast<uint8_t>(kListTypes[type * 2]) : 'l');
      element.U32(has_start ? start : 1);
      AppendPassThrough(tag, {"start", "type"}, element);
      break;
    }
    case 19: {  // li
      int type = -1;
      uint32_t value = 0;
      bool has_value = false;
      if (!NumberProperty(tag, "value", value, has_value)) return false;
      if (!ChoiceProperty(tag, "type", kListTypes, true, type)) return false;
      uint8_t flags = (has_value ? 1 : 0) | (type >= 0 ? 2 : 0);
      element.Byte(flags);
      if (has_value) element.U32(value);
      if (type >= 0) element.Byte(static_cast<uint8_t>(kListTypes[type * 2]));
      AppendPassThrough(tag, {"value", "type"}, element);
      break;
    }
    case 20: {  // font
      uint32_t size = 0;
      bool has_size = false;
      char sign = 0;
      if (!NumberProperty(tag, "size", size, has_size, &sign)) return false;
      uint32_t colour = 0xFF000000u;
      if (const TagRecord::Property* p = tag.Find("color")) {
        if (!NeedsValue(tag, *p)) return false;
        if (!ParseColour(p->value, colour)) {
          context_.Report(true, Level::kError, MessageId::kBadColorValue, "%s", {p->value});
          return false;
        }
      }
      std::string face;
      if (const TagRecord::Property* p = tag.Find("face")) {
        if (!NeedsValue(tag, *p)) return false;
        face = p->value;
      }
      uint32_t size_code = 0xF0000000u;
      if (has_size) {
        size &= 0xFFFFFF;
        size_code = sign == '+' ? size : sign == '-' ? 0x0F000000u + size : 0xF0000000u + size;
      }
      element.U32(size_code);
      element.U32(colour);
      element.TextZ(face);
      AppendPassThrough(tag, {"size", "color", "face"}, element);
      break;
    }
    default:
      AppendPassThrough(tag, {}, element);
      break;
  }
  recorder_.CutToTagStart();
  recorder_.AppendElement(element.Finish());
  return true;
}

bool CParser::HandlePicture(const TagRecord& tag) {
  const TagRecord::Property* src = tag.Find("src");
  if (src != nullptr && !NeedsValue(tag, *src)) return false;
  std::string alt;
  if (const TagRecord::Property* p = tag.Find("alt")) {
    if (!NeedsValue(tag, *p)) return false;
    alt = p->value;
  }
  uint32_t width = 0, height = 0, border = 0, resize_width = 0, resize_height = 0;
  bool present = false;
  if (!NumberProperty(tag, "width", width, present)) return false;
  if (!NumberProperty(tag, "height", height, present)) return false;
  if (!NumberProperty(tag, "border", border, present)) return false;
  int align = -1;
  if (!ChoiceProperty(tag, "align", kAlignments, false, align)) return false;
  if (!NumberProperty(tag, "resizewidth", resize_width, present)) return false;
  if (!NumberProperty(tag, "resizeheight", resize_height, present)) return false;
  int sketch = -1;
  if (!ChoiceProperty(tag, "sketch", "yes,no", false, sketch)) return false;

  uint32_t row = 0xFFFFFFFFu;
  if (src != nullptr) {
    if (!insert_image_.Prepare(db_.handle(),
                               "INSERT INTO tbl_Images(Src,Flags,ResizeWidth,ResizeHeight,Line,"
                               "Column) VALUES(?,?,?,?,?,?)")) {
      Fail();
      return false;
    }
    insert_image_.BindText(1, src->value);
    insert_image_.BindInt(2, sketch == 0 ? 3 : 2);
    insert_image_.BindInt(3, resize_width);
    insert_image_.BindInt(4, resize_height);
    insert_image_.BindInt(5, tag.line);
    insert_image_.BindInt(6, tag.column);
    if (insert_image_.Run() != SQLITE_DONE) {
      Fail();
      return false;
    }
    row = static_cast<uint32_t>(sqlite3_last_insert_rowid(db_.handle()));
  }
  ElementBuilder element(kElementPicture);
  element.U32(row);
  element.U32(width);
  element.U32(height);
  element.U32(border);
  element.U32(align < 0 ? 0 : static_cast<uint32_t>(align));
  element.TextZ(alt);
  AppendPassThrough(tag,
                    {"src", "alt", "quality", "width", "height", "border", "align", "resizewidth",
                     "resizeheight", "smallversion"},
                    element);
  recorder_.CutToTagStart();
  recorder_.AppendElement(element.Finish());
  return true;
}

bool CParser::InsertLink(const std::string& href, const TagRecord::Property* anchor,
                         const TagRecord& tag, int64_t& row) {
  if (!insert_link_.Prepare(db_.handle(),
                            "INSERT INTO tbl_Links(HRef,Anchor,Line,Column) VALUES(?,?,?,?)")) {
    Fail();
    return false;
  }
  insert_link_.BindText(1, href);
  if (anchor != nullptr) {
    insert_link_.BindText(2, anchor->value);
  } else {
    insert_link_.BindNull(2);
  }
  insert_link_.BindInt(3, tag.line);
  insert_link_.BindInt(4, tag.column);
  if (insert_link_.Run() != SQLITE_DONE) {
    Fail();
    return false;
  }
  row = sqlite3_last_insert_rowid(db_.handle());
  return true;
}

bool CParser::InsertAnchor(const std::string& name, const TagRecord& tag) {
  if (!insert_anchor_.Prepare(db_.handle(),
                              "INSERT INTO tbl_Anchors(Name,ParaID,ParaHeading,Offset,Line,"
                              "Column) VALUES(?,?,?,?,?,?)")) {
    Fail();
    return false;
  }
  // The anchor stands where the tag began in the subject's text.
  size_t offset = recorder_.tag_start() < recorder_.size() ? recorder_.tag_start() : recorder_.size();
  insert_anchor_.BindText(1, name);
  insert_anchor_.BindInt(2, subject_count_);
  insert_anchor_.BindText(3, heading_);
  insert_anchor_.BindInt(4, static_cast<int64_t>(offset));
  insert_anchor_.BindInt(5, tag.line);
  insert_anchor_.BindInt(6, tag.column);
  if (insert_anchor_.Run() != SQLITE_DONE) {
    Fail();
    return false;
  }
  return true;
}

bool CParser::HandleLink(TagRecord tag, std::string& element) {
  element.clear();
  const TagRecord::Property* filter = tag.Find("filter");
  const TagRecord::Property* href = tag.Find("href");
  const TagRecord::Property* name = tag.Find("name");
  const TagRecord::Property* anchor = tag.Find("anch");
  for (const TagRecord::Property* p : {filter, href, name, anchor}) {
    if (p != nullptr && !NeedsValue(tag, *p)) return false;
  }
  std::initializer_list<const char*> consumed = {"name", "href", "anch", "filter"};
  if (filter != nullptr) {
    ElementBuilder builder(kElementFilterLink);
    builder.TextZ(filter->value);
    AppendPassThrough(tag, consumed, builder);
    element = builder.Finish();
    return true;
  }
  if (href != nullptr && IsExternalTarget(href->value)) {
    ElementBuilder builder(kElementExternalLink);
    builder.TextZ(href->value);
    AppendPassThrough(tag, consumed, builder);
    element = builder.Finish();
    return true;
  }
  if (href == nullptr && name != nullptr) return InsertAnchor(name->value, tag);

  // An internal link; without a target it links to its own subject.
  std::string target = href != nullptr ? href->value : heading_;
  int64_t row = 0;
  if (!InsertLink(target, anchor, tag, row)) return false;
  if (name != nullptr && !InsertAnchor(name->value, tag)) return false;
  ElementBuilder builder(kElementLink);
  builder.U32(static_cast<uint32_t>(row));
  builder.U32(0);
  AppendPassThrough(tag, consumed, builder);
  element = builder.Finish();
  return true;
}

}  // namespace fvx::compiler
