// fvx info BOOK: the header, the counts, every section with its place and
// size, the book id and whether the integrity digest checks.
#include <cstdio>
#include <string>
#include <vector>

#include "bookformat/book_layout.h"
#include "bookformat/book_verifier.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

std::string Colour(uint32_t value) {
  if (value == 0xFFFFFFFF) return "none";
  char text[16];
  std::snprintf(text, sizeof text, "#%06X", value);
  return text;
}

std::string Index(uint32_t value) { return value == 0xFFFFFFFF ? "none" : std::to_string(value); }

int RunInfo(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fprintf(stderr, "usage: fvx info BOOK\n");
    return kExitUsage;
  }
  format::BookCheck check;
  if (!format::InspectBook(args[0], &check)) {
    std::fprintf(stderr, "%s: cannot be read: %s\n", args[0].c_str(), check.problem.c_str());
    return kExitFailed;
  }
  const format::BookLayout& book = check.layout;
  const format::HeaderSection& h = book.header;
  std::printf("book          %s\n", args[0].c_str());
  std::printf("book id       %s\n", check.book_id.c_str());
  std::printf("digest        %s\n", check.digest_ok ? "matches" : "DOES NOT MATCH");
  std::printf("version       %u (%s offsets)\n", h.version, h.version == 2 ? "8-byte" : "4-byte");
  std::printf("blocks        table %u, content %u bytes; %s characters; %s heading offsets\n",
              h.table_block_size, h.content_block_size,
              h.character_width == 0 ? "one-byte" : "two-byte",
              h.HeadingOffsetsWide() ? "8-byte" : "4-byte");
  std::printf("title         %s\n", book.info.title.c_str());
  std::printf("author        %s\n", book.info.author.c_str());
  if (!book.info.created_by.empty()) std::printf("created by    %s\n", book.info.created_by.c_str());
  if (!book.info.url.empty()) std::printf("url           %s\n", book.info.url.c_str());
  std::printf("subjects      %u (%s)\n", h.subject_count,
              h.stored_sorted ? "stored in heading order" : "source order, sorted lookup");
  std::printf("anchors       %u\n", h.anchor_count);
  std::printf("pictures      %u\n", h.picture_count);
  std::printf("categories    %u\n", h.category_count);
  for (const format::CategorySection& c : book.categories) {
    std::printf("              %s: %u values%s%s\n", c.name.c_str(), c.value_count,
                (c.flags & format::CategorySection::kNumeric) ? ", numeric" : "",
                (c.flags & format::CategorySection::kMultiple) ? ", multiple" : "");
  }
  std::printf("selections    %u\n", h.selection_count);
  for (const format::SelectionEntry& s : book.selections.selections) {
    std::printf("              %s: %u subjects\n", s.name.c_str(), s.member_count);
  }
  if (book.search_index) {
    std::printf("search index  %u keys, %u segments\n", book.search_index->key_count,
                book.search_index->segment_count);
  }
  std::printf("colours       background %s, text %s, link %s, visited %s\n",
              Colour(h.background_colour).c_str(), Colour(h.text_colour).c_str(),
              Colour(h.link_colour).c_str(), Colour(h.visited_link_colour).c_str());
  std::printf("pictures      background tile %s, front cover %s, back cover %s\n",
              Index(h.background_tile_picture).c_str(), Index(h.front_cover_picture).c_str(),
              Index(h.back_cover_picture).c_str());
  if (!h.front_cover_title.empty()) {
    std::printf("front cover   %s\n", h.front_cover_title.c_str());
  }
  if (!h.back_cover_title.empty()) std::printf("back cover    %s\n", h.back_cover_title.c_str());
  if (!h.character_set.empty()) std::printf("charset       %s\n", h.character_set.c_str());
  std::printf("stream        %llu bytes at file offset %u, sealed up to %llu\n",
              static_cast<unsigned long long>(h.end_of_book), book.container.stream_start,
              static_cast<unsigned long long>(book.SealedEnd()));
  std::printf("\nsections      tag  position      size\n");
  for (const format::SectionPlace& place : book.Sections()) {
    std::printf("              %c   %10llu %10llu\n", place.tag,
                static_cast<unsigned long long>(place.position),
                static_cast<unsigned long long>(place.next - place.position));
  }
  std::printf("\nstores        section  blocks  stored bytes  name\n");
  for (const format::StoreSummary& store : check.stores) {
    std::printf("              %-7s %7llu %13llu  %s\n", store.section.c_str(),
                static_cast<unsigned long long>(store.blocks),
                static_cast<unsigned long long>(store.stored_bytes), store.name.c_str());
  }
  return check.ok() ? kExitOk : kExitFailed;
}

}  // namespace

FVX_COMMAND(info, "info BOOK", "show a book's header, counts, sections and book id", RunInfo);

}  // namespace fvx::tool
