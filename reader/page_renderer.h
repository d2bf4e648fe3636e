// Turning a subject into the page the view shows: plain string building.
//
//   subject page := the template's main list, walked (tags filled in)
//   body         := "<!-- fvx_body_data_start -->" (character | element | mark)*
//   mark         := hit opening/closing pieces, <a name="findloc"></a> before
//                   the first hit, <a name="FvxAutoJumpAnchor_N"> at the jump
//                   position (never closed)
//   cover page   := "<html><head>" style-sheet "</head><body ...>" picture
//
// Category blocks of the template (catinfo > cat > singleval | multival |
// catvalinfo > catval) repeat once per visible category in which the subject
// holds a value, and once per value inside it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/document.h"
#include "reader/element_html.h"
#include "reader/page_template.h"

namespace fvx::reader {

inline constexpr std::string_view kBodyStartComment = "<!-- fvx_body_data_start -->";

struct BodyOptions {
  uint32_t jump_position = 0;  // 0: no jump anchor
  // The subject's hits (any order; overlapping ones are skipped) and the
  // blocks that wrap them; null: no highlighting.
  const std::vector<Hit>* hits = nullptr;
  const PageTemplate* page_template = nullptr;
  // The word shown with highlight 1, 2 and 3.
  std::array<int, 3> highlight_words = {0, 1, 2};
  // Stop at the first countable byte once this many have been written.
  std::optional<uint32_t> visible_limit;
  ElementPictures* pictures = nullptr;
};

// Appends the body of a stored text. Returns the byte position at which the
// visible limit was reached (the text's size when it never was).
uint32_t RenderBodyText(std::string_view text, const BodyOptions& options, std::string* out);

// What the template walk asks of the document for one subject page.
class SubjectPageSource {
 public:
  virtual ~SubjectPageSource() = default;
  virtual std::string Heading() = 0;
  [[nodiscard]] virtual bool AppendBody(std::string* out) = 0;
  virtual void AppendBreadcrumb(std::string* out) = 0;
  virtual uint32_t VisibleCategoryCount() = 0;
  virtual std::string CategoryName(uint32_t visible_category) = 0;
  // The subject's values in the category, in stored order.
  virtual ValueList SubjectValues(uint32_t visible_category) = 0;
  virtual std::string ValueName(uint32_t visible_category, uint32_t value) = 0;
};

struct PageNumbers {
  uint32_t jump_position = 0;
  uint32_t jmppos = 0;
  uint32_t pglen = 0;
};

// Walks the main list; false when the body could not be built.
[[nodiscard]] bool RenderTemplatePage(const PieceList& main, SubjectPageSource& source,
                                      const PageNumbers& numbers, std::string* out);

struct BreadcrumbEntry {
  uint32_t subject = 0;
  std::string title;
};

// Writes nothing for an empty path.
void AppendBreadcrumb(const std::vector<BreadcrumbEntry>& path, std::string* out);

// The page style sheet's inputs. A book value that is not set is nullopt.
struct StyleSheetInputs {
  bool book_open = false;
  std::optional<std::string> book_background_picture;  // its temporary file
  std::optional<uint32_t> book_background_colour;
  std::optional<uint32_t> book_text_colour;
  PageStyle style;
};

void AppendPageStyleSheet(const StyleSheetInputs& inputs, std::string* out);

void AppendCoverPage(std::string_view style_sheet, std::string_view picture_path, std::string* out);

}  // namespace fvx::reader
