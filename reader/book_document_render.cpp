// The document's pages: subject pages through the template, cover pages,
// and the pictures they show.
#include <algorithm>

#include "platform/file.h"
#include "reader/book_document.h"
#include "reader/page_renderer.h"
#include "reader/picture_files.h"

namespace fvx::reader {

// Names the files of the pictures a page shows; the bytes come later.
class BookDocument::PictureAdapter final : public ElementPictures {
 public:
  PictureAdapter(BookDocument* document, PictureMap* map) : document_(document), map_(map) {}

  std::optional<std::string> PicturePath(uint32_t picture) override {
    if (map_ == nullptr || picture >= document_->PictureCount()) return std::nullopt;
    if (std::optional<std::string> known = map_->Find(picture)) return known;
    return map_->PathFor(picture, document_->PictureKind(picture));
  }

 private:
  BookDocument* document_;
  PictureMap* map_;
};

class BookDocument::PageSourceAdapter final : public SubjectPageSource {
 public:
  PageSourceAdapter(BookDocument* document, uint32_t subject, uint32_t jump, bool highlight,
                    PictureMap* pictures)
      : document_(document), subject_(subject), jump_(jump), highlight_(highlight),
        pictures_(pictures) {}

  std::string Heading() override { return std::string(document_->Heading(subject_)); }

  bool AppendBody(std::string* out) override {
    return document_->RenderBody(subject_, jump_, highlight_, std::nullopt, pictures_, out, nullptr);
  }

  void AppendBreadcrumb(std::string* out) override {
    if (!document_->IsTreeMode()) return;
    std::vector<BreadcrumbEntry> path;
    for (uint32_t subject : document_->TreePath()) {
      path.push_back({subject, std::string(document_->Heading(subject))});
    }
    reader::AppendBreadcrumb(path, out);
  }

  uint32_t VisibleCategoryCount() override { return document_->VisibleCategoryCount(); }

  std::string CategoryName(uint32_t k) override {
    return std::string(document_->CategoryName(document_->VisibleCategory(k)));
  }

  ValueList SubjectValues(uint32_t k) override {
    ValueList values;
    if (!document_->ValuesOfSubject(document_->VisibleCategory(k), subject_, &values)) values.clear();
    return values;
  }

  std::string ValueName(uint32_t k, uint32_t value) override {
    return std::string(document_->ValueName(document_->VisibleCategory(k), value));
  }

 private:
  BookDocument* document_;
  uint32_t subject_;
  uint32_t jump_;
  bool highlight_;
  PictureMap* pictures_;
};

void BookDocument::SetTemplate(std::string_view text) { template_ = ParseTemplate(text); }

bool BookDocument::RenderBody(uint32_t subject, uint32_t jump_position, bool highlight,
                              std::optional<uint32_t> visible_limit, PictureMap* pictures,
                              std::string* out, uint32_t* limit_position) {
  if (!open_ || subject >= subject_count_) return false;
  if (!LoadSubject(subject)) return false;
  PictureAdapter adapter(this, pictures);
  BodyOptions options;
  options.jump_position = jump_position;
  options.page_template = &template_;
  options.visible_limit = visible_limit;
  options.pictures = &adapter;
  if (highlight && hits_subject_ == subject) options.hits = &hits_;
  std::string body;
  const uint32_t reached = RenderBodyText(text_, options, &body);
  if (limit_position != nullptr) *limit_position = reached;
  out->append(body);
  return true;
}

std::optional<uint32_t> BookDocument::PositionOfVisibleCount(uint32_t subject, uint32_t count) {
  std::string body;
  uint32_t position = 0;
  if (!RenderBody(subject, 0, false, count, nullptr, &body, &position)) return std::nullopt;
  return count == 0 ? 0 : position;
}

bool BookDocument::RenderSubjectPage(uint32_t subject, uint32_t jump_position, uint32_t jmppos,
                                     uint32_t pglen, bool highlight, PictureMap* pictures,
                                     std::string* out) {
  if (!open_ || subject >= subject_count_) return false;
  std::string page;
  page.reserve(4096);
  PageSourceAdapter source(this, subject, jump_position, highlight, pictures);
  if (!RenderTemplatePage(template_.main, source, {jump_position, jmppos, pglen}, &page)) {
    return false;
  }
  out->append(page);
  return true;
}

bool BookDocument::RenderPage(uint32_t row, uint32_t jump_position, uint32_t jmppos,
                              uint32_t pglen, bool highlight, PictureMap* pictures,
                              std::string* out) {
  if (!open_) return false;
  if (std::optional<uint32_t> subject = SubjectOfRow(row)) {
    return RenderSubjectPage(*subject, jump_position, jmppos, pglen, highlight, pictures, out);
  }
  std::string page;
  page.reserve(4096);
  if (has_results_) return false;
  const bool front = HasFrontCover() && row == 0;
  const bool back = HasBackCover() && row == PageCount() - 1;
  if (!front && !back) return false;

  PictureAdapter adapter(this, pictures);
  StyleSheetInputs inputs;
  inputs.book_open = true;
  inputs.style = style_;
  const format::HeaderSection& header = layout_.header;
  if (header.background_tile_picture != format::kNone32) {
    inputs.book_background_picture = adapter.PicturePath(header.background_tile_picture);
  }
  if (header.background_colour != format::kNone32) {
    inputs.book_background_colour = header.background_colour;
  }
  if (header.text_colour != format::kNone32) inputs.book_text_colour = header.text_colour;
  std::string style_sheet;
  AppendPageStyleSheet(inputs, &style_sheet);
  const std::optional<std::string> path =
      adapter.PicturePath(front ? header.front_cover_picture : header.back_cover_picture);
  AppendCoverPage(style_sheet, path.value_or(std::string()), &page);
  out->append(page);
  return true;
}

bool BookDocument::WritePictures(const PictureMap& pictures) {
  bool all = true;
  for (const auto& [picture, path] : pictures.entries()) {
    platform::File file = platform::File::Open(path, platform::File::Mode::kCreateTruncate);
    if (!file.IsOpen()) {
      all = false;
      continue;
    }
    bool written = true;
    const bool read = ForEachPicturePiece(picture, false, [&](const uint8_t* bytes, size_t size) {
      written = file.Write(bytes, size);
      return written;
    });
    if (!read || !written) all = false;
  }
  return all;
}

}  // namespace fvx::reader
