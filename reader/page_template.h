// The page template: HTML text with tags of its own, "<fvxdoc_NAME>" and
// "</fvxdoc_NAME>", split once into pieces that every page build walks.
//
//   template := (literal | tag | comment)*
//   tag      := "<" blank* ["/" blank*] "fvxdoc_" NAME ... ">"
//   comment  := "<" blank* "!--" ... "--" ... ">"     -- kept as literal text
//
// The three highlight blocks do not belong to the page: the text between
// "<fvxdoc_highlightN>" and its closing tag is taken out into list N, which
// keeps only literal text (trimmed, empty pieces dropped) and the opening
// "<fvxdoc_highlightword>" tag. Search hits are wrapped in it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fvx::reader {

// The tag kinds; the numbers are those of the tag table.
enum class TemplateTag : int {
  kAutoJumpAnchor = 0,
  kHeading = 1,
  kHighlight1 = 2,
  kHighlight2 = 3,
  kHighlight3 = 4,
  kHighlightWord = 5,
  kPara = 6,
  kReadProgressImg = 7,
  kReadProgressVal = 8,
  kCatInfo = 9,
  kCat = 10,
  kCatId = 11,
  kCatName = 12,
  kCatValInfo = 13,
  kCatVal = 14,
  kCatValId = 15,
  kCatValName = 16,
  kParaBody = 17,
  kCharset = 18,
  kTextColor = 19,
  kBkColor = 20,
  kVLinkColor = 21,
  kLinkColor = 22,
  kBkPicture = 23,
  kNumCatVals = 25,
  kSingleVal = 26,
  kMultiVal = 27,
  kJmpPos = 28,
  kPgLen = 29,
  kBreadcrumb = 30,
};

inline constexpr std::string_view kTemplateTagPrefix = "fvxdoc_";

// The tag named exactly so (after the prefix), if any.
std::optional<TemplateTag> TemplateTagNamed(std::string_view name);

struct TemplatePiece {
  bool is_tag = false;
  std::string text;  // literal pieces
  TemplateTag tag = TemplateTag::kAutoJumpAnchor;
  bool closing = false;

  static TemplatePiece Literal(std::string text) { return {false, std::move(text), {}, false}; }
  static TemplatePiece Tag(TemplateTag tag, bool closing) { return {true, {}, tag, closing}; }
  bool operator==(const TemplatePiece&) const = default;
};

using PieceList = std::vector<TemplatePiece>;

struct PageTemplate {
  PieceList main;
  std::array<PieceList, 3> highlight;  // blocks 1, 2 and 3
};

PageTemplate ParseTemplate(std::string_view text);

// The built-in template, "PAGE_TEMPLATE.HTM", embedded in the library.
std::string_view BuiltInPageTemplate();

}  // namespace fvx::reader
