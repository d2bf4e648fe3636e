#include "reader/page_renderer.h"

#include <algorithm>
#include <cstdio>

namespace fvx::reader {
namespace {

void AppendUnsigned(uint32_t value, std::string* out) { out->append(std::to_string(value)); }

// The pieces of a highlight block before and after its word tag.
void AppendBlockPart(const PieceList* block, bool opening, std::string* out) {
  if (block == nullptr) return;
  bool before_word = true;
  for (const TemplatePiece& piece : *block) {
    if (piece.is_tag) {
      before_word = false;
      continue;
    }
    if (before_word == opening) out->append(piece.text);
  }
}

const PieceList* BlockForWord(const BodyOptions& options, int word) {
  if (options.page_template == nullptr) return nullptr;
  for (int block = 0; block < 3; ++block) {
    if (options.highlight_words[block] == word) return &options.page_template->highlight[block];
  }
  return nullptr;
}

bool CountsAsVisible(uint8_t byte) { return byte != '\t' && byte != '\r' && byte != ' '; }

// ---------------------------------------------------------------- template walk

enum class Level { kTop, kCatInfo, kCategory, kValue };

struct WalkContext {
  Level level = Level::kTop;
  uint32_t category = 0;  // visible category
  const ValueList* values = nullptr;
  uint32_t value = 0;
};

bool IsBlockTag(TemplateTag tag) {
  switch (tag) {
    case TemplateTag::kCatInfo:
    case TemplateTag::kCat:
    case TemplateTag::kSingleVal:
    case TemplateTag::kMultiVal:
    case TemplateTag::kCatValInfo:
    case TemplateTag::kCatVal:
      return true;
    default:
      return false;
  }
}

class TemplateWalker {
 public:
  TemplateWalker(const PieceList& pieces, SubjectPageSource& source, const PageNumbers& numbers)
      : pieces_(pieces), source_(source), numbers_(numbers), close_(pieces.size(), pieces.size()) {
    // Each block's closing tag: the nearest unmatched one of its kind.
    std::vector<std::vector<size_t>> open(32);
    for (size_t i = 0; i < pieces.size(); ++i) {
      const TemplatePiece& piece = pieces[i];
      if (!piece.is_tag || !IsBlockTag(piece.tag)) continue;
      std::vector<size_t>& stack = open[static_cast<size_t>(piece.tag)];
      if (!piece.closing) {
        stack.push_back(i);
      } else if (!stack.empty()) {
        close_[stack.back()] = i;
        stack.pop_back();
      }
    }
  }

  bool Walk(size_t begin, size_t end, const WalkContext& context, std::string* out) {
    for (size_t i = begin; i < end; ++i) {
      const TemplatePiece& piece = pieces_[i];
      if (!piece.is_tag) {
        out->append(piece.text);
        continue;
      }
      if (piece.closing) continue;
      const size_t close = std::min(close_[i], end);
      bool skip_block = false;
      if (!Tag(piece.tag, i, close, context, out, &skip_block)) return false;
      if (skip_block) i = close;
    }
    return true;
  }

 private:
  bool Tag(TemplateTag tag, size_t at, size_t close, const WalkContext& context, std::string* out,
           bool* skip_block) {
    switch (context.level) {
      case Level::kTop:
        switch (tag) {
          case TemplateTag::kAutoJumpAnchor:
            out->append("FvxAutoJumpAnchor_");
            AppendUnsigned(numbers_.jump_position, out);
            return true;
          case TemplateTag::kHeading: out->append(source_.Heading()); return true;
          case TemplateTag::kPara: return source_.AppendBody(out);
          case TemplateTag::kJmpPos: AppendUnsigned(numbers_.jmppos, out); return true;
          case TemplateTag::kPgLen: AppendUnsigned(numbers_.pglen, out); return true;
          case TemplateTag::kBreadcrumb: source_.AppendBreadcrumb(out); return true;
          case TemplateTag::kCatInfo: {
            *skip_block = true;
            const uint32_t count = source_.VisibleCategoryCount();
            for (uint32_t k = 0; k < count; ++k) {
              const ValueList values = source_.SubjectValues(k);
              if (values.empty()) continue;
              WalkContext inner{Level::kCatInfo, k, &values, 0};
              if (!Walk(at + 1, close, inner, out)) return false;
            }
            return true;
          }
          default: return true;
        }
      case Level::kCatInfo:
        if (tag == TemplateTag::kCat) {
          *skip_block = true;
          WalkContext inner = context;
          inner.level = Level::kCategory;
          std::string category;
          if (!Walk(at + 1, close, inner, &category)) return false;
          out->append(category);
        }
        return true;
      case Level::kCategory:
      case Level::kValue:
        return CategoryTag(tag, at, close, context, out, skip_block);
    }
    return true;
  }

  bool CategoryTag(TemplateTag tag, size_t at, size_t close, const WalkContext& context,
                   std::string* out, bool* skip_block) {
    const size_t value_count = context.values->size();
    switch (tag) {
      case TemplateTag::kCatId: AppendUnsigned(context.category, out); return true;
      case TemplateTag::kNumCatVals: AppendUnsigned(static_cast<uint32_t>(value_count), out); return true;
      default: break;
    }
    if (context.level == Level::kCategory) {
      switch (tag) {
        case TemplateTag::kCatName: out->append(source_.CategoryName(context.category)); return true;
        case TemplateTag::kSingleVal:
        case TemplateTag::kMultiVal: {
          *skip_block = true;
          const bool keep = tag == TemplateTag::kSingleVal ? value_count < 2 : value_count >= 2;
          return !keep || Walk(at + 1, close, context, out);
        }
        case TemplateTag::kCatValInfo: {
          *skip_block = true;
          for (uint32_t value : *context.values) {
            WalkContext inner = context;
            inner.level = Level::kValue;
            inner.value = value;
            if (!Walk(at + 1, close, inner, out)) return false;
          }
          return true;
        }
        default: return true;
      }
    }
    switch (tag) {
      case TemplateTag::kCatVal: {
        *skip_block = true;
        std::string value;
        if (!Walk(at + 1, close, context, &value)) return false;
        out->append(value);
        return true;
      }
      case TemplateTag::kCatValId: AppendUnsigned(context.value, out); return true;
      case TemplateTag::kCatValName:
        out->append(source_.ValueName(context.category, context.value));
        return true;
      default: return true;
    }
  }

  const PieceList& pieces_;
  SubjectPageSource& source_;
  const PageNumbers& numbers_;
  std::vector<size_t> close_;
};

std::string HexColour(uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "#%06x", colour & 0xFFFFFF);
  return text;
}

}  // namespace

uint32_t RenderBodyText(std::string_view text, const BodyOptions& options, std::string* out) {
  out->append(kBodyStartComment);
  std::vector<Hit> hits;
  if (options.hits != nullptr) {
    hits = *options.hits;
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
      return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
  }
  size_t next_hit = 0;
  bool in_hit = false;
  bool findloc_written = false;
  Hit current;
  const PieceList* block = nullptr;
  uint32_t counted = 0;
  const uint32_t size = static_cast<uint32_t>(std::min<size_t>(text.size(), UINT32_MAX));
  bool pre = false;

  uint32_t position = 0;
  while (position < size) {
    if (in_hit && position >= current.end) {
      AppendBlockPart(block, false, out);
      in_hit = false;
    }
    if (!in_hit) {
      while (next_hit < hits.size() && hits[next_hit].start < position) ++next_hit;
      if (next_hit < hits.size() && hits[next_hit].start == position &&
          hits[next_hit].end > position) {
        current = hits[next_hit++];
        if (!findloc_written) {
          out->append("<a name=\"findloc\"></a>");
          findloc_written = true;
        }
        block = BlockForWord(options, current.word);
        AppendBlockPart(block, true, out);
        in_hit = true;
      }
    }
    if (options.jump_position != 0 && position == options.jump_position) {
      out->append("<a name=\"FvxAutoJumpAnchor_");
      AppendUnsigned(position, out);
      out->append("\">");
    }
    const uint8_t byte = static_cast<uint8_t>(text[position]);
    if (byte == 0) {
      ++position;
      continue;
    }
    if (byte == kElementEscape) {
      const std::optional<ElementView> element = ReadElement(text, position);
      if (!element) break;  // cut short: nothing after it is text
      if (options.visible_limit && ElementCountsAsCharacter(element->code)) {
        if (counted >= *options.visible_limit) return position;
        ++counted;
      }
      if (element->code == element::kPreOpen) pre = true;
      if (element->code == element::kPreClose) pre = false;
      AppendElementHtml(*element, options.pictures, out);
      position += static_cast<uint32_t>(element->size);
      continue;
    }
    if (options.visible_limit && CountsAsVisible(byte)) {
      if (counted >= *options.visible_limit) return position;
      ++counted;
    }
    if (byte == '\n' && !pre) {
      out->append("<br>");
    } else {
      out->push_back(static_cast<char>(byte));
    }
    ++position;
  }
  if (in_hit) AppendBlockPart(block, false, out);
  return size;
}

bool RenderTemplatePage(const PieceList& main, SubjectPageSource& source,
                        const PageNumbers& numbers, std::string* out) {
  TemplateWalker walker(main, source, numbers);
  return walker.Walk(0, main.size(), WalkContext{}, out);
}

void AppendBreadcrumb(const std::vector<BreadcrumbEntry>& path, std::string* out) {
  if (path.empty()) return;
  out->append("<div class=\"bg\">");
  bool first = true;
  for (const BreadcrumbEntry& entry : path) {
    if (entry.title.empty()) continue;
    if (!first) out->append("<span class=\"seperator\">\xBB</span>");
    first = false;
    std::string link = "<a href=\"fvxapp://<6:" + std::to_string(entry.subject) + ":0>\">" +
                       entry.title + "</a>";
    if (link.size() <= kMaxFragmentLength) out->append(link);
  }
  out->append("</div>");
}

void AppendPageStyleSheet(const StyleSheetInputs& inputs, std::string* out) {
  out->append("<style title=\"fvx_background_style_sheet\">");
  out->append(".fvx_background_style{");
  if (inputs.book_open && inputs.book_background_picture) {
    out->append("background-image: url(" + *inputs.book_background_picture + ");");
  } else if (inputs.book_open && inputs.book_background_colour) {
    out->append("background-color: " + HexColour(*inputs.book_background_colour) + ";");
  } else if (!inputs.style.background_picture.empty()) {
    out->append("background-image: url(" + inputs.style.background_picture + ");");
  } else {
    out->append("background-color: " + HexColour(inputs.style.background_colour) + ";");
  }
  const uint32_t text_colour = inputs.book_open && inputs.book_text_colour
                                   ? *inputs.book_text_colour
                                   : inputs.style.text_colour;
  out->append("color: " + HexColour(text_colour) + ";");
  if (!inputs.style.font_face.empty()) {
    out->append("font-family: \"" + inputs.style.font_face + "\";");
  }
  out->append("font-size: " + std::to_string(inputs.style.font_size) + "pt;");
  out->append("}");
  out->append("</style>");
}

void AppendCoverPage(std::string_view style_sheet, std::string_view picture_path, std::string* out) {
  out->append("<html><head>");
  out->append(style_sheet);
  out->append(
      "</head><body class=fvx_background_style><table border = \"0\" width = \"100%\" height "
      "=\"100%\"><tr><td valign = middle align = center><img align=\"center\" src= \"file://");
  out->append(picture_path);
  out->append("\"></td></tr></table></body></html>");
}

}  // namespace fvx::reader
