// Book-wide settings from the source's meta tags, read by the book writer
// and the picture processing. Filled by the front end; plain data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fvx::compiler {

struct CDocumentProperties {
  static constexpr uint32_t kNoColour = 0xFFFFFFFF;
  static constexpr uint32_t kPictureTargetPalm = 0;
  static constexpr uint32_t kPictureTargetPpc = 1;
  static constexpr uint32_t kPictureTargetNotSet = 2;

  // Colours are 0x00RRGGBB, kNoColour when not given.
  uint32_t background_colour = kNoColour;  // "bkcolor"
  uint32_t text_colour = kNoColour;        // "text"
  uint32_t link_colour = kNoColour;        // "link"
  uint32_t visited_link_colour = kNoColour;  // "vlink"
  bool huge_file = false;                  // "hugefile" (also set by the huge-mode retry)

  // Picture row numbers in tbl_Images; 0 means none.
  uint32_t background_picture = 0;  // "bktile"
  uint32_t front_cover_picture = 0;  // "frontcover"
  uint32_t back_cover_picture = 0;   // "backcover"

  uint32_t max_picture_width = 0;   // "maximagewidth", 0 = no limit, else at least 50
  uint32_t max_picture_height = 0;  // "maximageheight"

  bool sort_file = false;        // "sortfile"
  bool sort_file_given = false;  // the source mentioned "sortfile" at all
  bool sort_categories = false;  // "sortcats"
  bool skip_new_lines = false;   // "skipnewlines"

  // Texts, one byte per character; nullopt when the source gave none.
  std::optional<std::string> charset;           // "charset"
  std::optional<std::string> back_cover_title;  // "backcovertitle"
  std::optional<std::string> front_cover_title;  // "frontcovertitle"
  std::optional<std::string> title;             // "title"
  std::optional<std::string> author;            // "author"
  std::optional<std::string> created_by;        // "createdby"
  std::optional<std::string> url;               // "url"

  uint32_t version = 0;            // major << 16 | minor ("majorversion", "minorversion")
  uint32_t creation_date = 0;      // year << 16 | month << 8 | day ("createddate")
  uint32_t publication_year = 0;   // "publicationyear"
  uint32_t library_category = 0;   // "foliolibcat"
  uint32_t picture_target = kPictureTargetNotSet;  // "optimizeimagesfor": palm 0, ppc 1
};

}  // namespace fvx::compiler
