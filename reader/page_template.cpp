#include "reader/page_template.h"

namespace fvx::reader {
namespace resources {
extern const unsigned char page_template[];
extern const size_t page_template_size;
}  // namespace resources

namespace {

struct TagName {
  std::string_view name;
  TemplateTag tag;
};

constexpr TagName kTagNames[] = {
    {"autojmpanch", TemplateTag::kAutoJumpAnchor},
    {"heading", TemplateTag::kHeading},
    {"highlight1", TemplateTag::kHighlight1},
    {"highlight2", TemplateTag::kHighlight2},
    {"highlight3", TemplateTag::kHighlight3},
    {"highlightword", TemplateTag::kHighlightWord},
    {"para", TemplateTag::kPara},
    {"readprogressimg", TemplateTag::kReadProgressImg},
    {"readprogressval", TemplateTag::kReadProgressVal},
    {"catinfo", TemplateTag::kCatInfo},
    {"cat", TemplateTag::kCat},
    {"catid", TemplateTag::kCatId},
    {"catname", TemplateTag::kCatName},
    {"catvalinfo", TemplateTag::kCatValInfo},
    {"catval", TemplateTag::kCatVal},
    {"catvalid", TemplateTag::kCatValId},
    {"catvalname", TemplateTag::kCatValName},
    {"parabody", TemplateTag::kParaBody},
    {"charset", TemplateTag::kCharset},
    {"textcolor", TemplateTag::kTextColor},
    {"bkcolor", TemplateTag::kBkColor},
    {"vlinkcolor", TemplateTag::kVLinkColor},
    {"linkcolor", TemplateTag::kLinkColor},
    {"bkpicture", TemplateTag::kBkPicture},
    {"numcatvals", TemplateTag::kNumCatVals},
    {"singleval", TemplateTag::kSingleVal},
    {"multival", TemplateTag::kMultiVal},
    {"jmppos", TemplateTag::kJmpPos},
    {"pglen", TemplateTag::kPgLen},
    {"breadcrumb", TemplateTag::kBreadcrumb},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int> HighlightBlock(TemplateTag tag) {
  switch (tag) {
    case TemplateTag::kHighlight1: return 0;
    case TemplateTag::kHighlight2: return 1;
    case TemplateTag::kHighlight3: return 2;
    default: return std::nullopt;
  }
}

class TemplateParser {
 public:
  explicit TemplateParser(PageTemplate* out) : out_(out) {}

  void Literal(std::string_view text) {
    if (block_) {
      text = Trim(text);
      if (!text.empty()) out_->highlight[*block_].push_back(TemplatePiece::Literal(std::string(text)));
    } else if (!text.empty()) {
      out_->main.push_back(TemplatePiece::Literal(std::string(text)));
    }
  }

  void Tag(TemplateTag tag, bool closing) {
    const std::optional<int> block = HighlightBlock(tag);
    if (block && !closing) {
      out_->highlight[*block].clear();
      block_ = block;
      return;
    }
    if (block_) {
      if (block && *block == *block_) {
        block_.reset();
      } else if (tag == TemplateTag::kHighlightWord && !closing) {
        out_->highlight[*block_].push_back(TemplatePiece::Tag(tag, false));
      }
      return;
    }
    if (block) return;  // a closing highlight tag outside its block
    out_->main.push_back(TemplatePiece::Tag(tag, closing));
  }

 private:
  PageTemplate* out_;
  std::optional<int> block_;
};

}  // namespace

std::optional<TemplateTag> TemplateTagNamed(std::string_view name) {
  for (const TagName& entry : kTagNames) {
    if (entry.name == name) return entry.tag;
  }
  return std::nullopt;
}

std::string_view BuiltInPageTemplate() {
  return std::string_view(reinterpret_cast<const char*>(resources::page_template),
                          resources::page_template_size);
}

PageTemplate ParseTemplate(std::string_view text) {
  PageTemplate result;
  TemplateParser parser(&result);
  size_t literal_start = 0;
  size_t scan = 0;
  while ((scan = text.find('<', scan)) != std::string_view::npos) {
    const size_t open = scan;
    size_t at = open + 1;
    while (at < text.size() && IsBlank(text[at])) ++at;
    bool closing = false;
    if (at < text.size() && text[at] == '/') {
      closing = true;
      ++at;
      while (at < text.size() && IsBlank(text[at])) ++at;
    }
    const std::string_view rest = text.substr(at);
    if (!closing && rest.starts_with("!--")) {
      // Tags inside a comment stay inert; the comment stays in the text.
      const size_t dashes = text.find("--", at + 3);
      const size_t end = dashes == std::string_view::npos ? dashes : text.find('>', dashes + 2);
      if (end == std::string_view::npos) break;
      scan = end + 1;
      continue;
    }
    if (rest.starts_with(kTemplateTagPrefix)) {
      const size_t name_start = at + kTemplateTagPrefix.size();
      size_t name_end = name_start;
      while (name_end < text.size() && text[name_end] != '>' && text[name_end] != '/' &&
             !IsBlank(text[name_end])) {
        ++name_end;
      }
      const std::optional<TemplateTag> tag =
          TemplateTagNamed(text.substr(name_start, name_end - name_start));
      const size_t end = text.find('>', name_end);
      if (tag && end != std::string_view::npos) {
        parser.Literal(text.substr(literal_start, open - literal_start));
        parser.Tag(*tag, closing);
        literal_start = end + 1;
        scan = end + 1;
        continue;
      }
    }
    scan = open + 1;
  }
  parser.Literal(text.substr(literal_start));
  return result;
}

}  // namespace fvx::reader
