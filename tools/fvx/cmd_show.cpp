// fvx show BOOK (SUBJECT-INDEX | --heading TEXT) [--html] [--keep-pictures]
//          [--highlight WORD [WORD [WORD]]] [--jump POSITION]
// fvx show BOOK --cover front|back [--keep-pictures]:
// a subject as the page view gets it (--html: exactly the page's bytes), or
// as plain text for the terminal; the window's search highlights ("[[hit]]"
// in text) and jump anchors ("{jump}" in text); a cover page (HTML). Pictures the page shows are written to
// their temporary files and removed again on exit unless kept.
#include <cstdio>
#include <string>

#include "bookformat/coding.h"
#include "reader/element_html.h"
#include "reader/picture_files.h"
#include "reader/subject_hits.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

// Stored text as terminal text: breaks and list items as lines, entities
// as characters, links in brackets, pictures by their alternative text.
// Hits are marked "[[" ... "]]", the jump position "{jump}".
// *complete is false when the text's element framing is broken.
std::string PlainText(std::string_view text, bool* complete,
                      const std::vector<reader::Hit>& hits = {}, uint32_t jump = 0) {
  *complete = true;
  std::string out;
  size_t at = 0;
  size_t next_hit = 0;
  bool in_hit = false;
  while (at < text.size()) {
    if (in_hit && at >= hits[next_hit].end) {
      out += "]]";
      in_hit = false;
      ++next_hit;
    }
    if (!in_hit && next_hit < hits.size() && at >= hits[next_hit].start) {
      out += "[[";
      in_hit = true;
    }
    if (jump != 0 && at == jump) out += "{jump}";
    const uint8_t byte = static_cast<uint8_t>(text[at]);
    if (byte != reader::kElementEscape) {
      if (byte != 0) out.push_back(static_cast<char>(byte));
      ++at;
      continue;
    }
    const std::optional<reader::ElementView> element = reader::ReadElement(text, at);
    if (!element) {
      *complete = false;
      break;
    }
    at += element->size;
    const std::string_view payload = element->payload;
    auto name = [&](size_t from) {
      const std::string_view rest = payload.substr(std::min(from, payload.size()));
      return std::string(rest.substr(0, rest.find('\0')));
    };
    switch (element->code) {
      case 1: case 34: case 35: out += '['; break;
      case 2: out += ']'; break;
      case 12: out += "\n\n"; break;
      case 13: out += '\n'; break;
      case 14: out += "\n----\n"; break;
      case 15: case 16: case 17: case 18: out += '\n'; break;
      case 19: out += "\n  * "; break;
      case 22: out += "[picture: " + name(20) + "]"; break;
      case 23: {
        const std::string tag = name(0);
        if (tag == "td" || tag == "th" || tag == "TD" || tag == "TH") out += '\t';
        if (tag == "tr" || tag == "TR") out += '\n';
        break;
      }
      case 27: out += '<'; break;
      case 28: out += '>'; break;
      case 29: out += ' '; break;
      case 30: out += '&'; break;
      case 31:
        if (payload.size() >= 4) {
          const uint32_t code = format::LoadU32(reinterpret_cast<const uint8_t*>(payload.data()));
          if (code < 256) {
            out.push_back(static_cast<char>(code));
          } else {
            out += "&#";
            out += std::to_string(code);
            out += ';';
          }
        }
        break;
      case 32:
        out += '&';
        out += name(0);
        out += ';';
        break;
      case 255: out.push_back('\xFF'); break;
      default: break;
    }
  }
  if (in_hit) out += "]]";
  return out;
}

int Usage() {
  std::fprintf(stderr,
               "usage: fvx show BOOK (SUBJECT-INDEX | --heading TEXT) [--html] [--keep-pictures]\n"
               "                [--highlight WORD [WORD [WORD]]] [--jump POSITION]\n"
               "       fvx show BOOK --cover front|back [--keep-pictures]\n"
               "       (every form also takes --verify)\n");
  return kExitUsage;
}

// The hits of the words in one subject, as the window's search finds them
// (whole words, any case); false when the subject holds no match.
bool FindHits(reader::BookDocument& document, uint32_t subject,
              const std::vector<std::string>& words) {
  reader::SearchQuery query;
  for (size_t w = 0; w < words.size() && w < 3; ++w) query.words[w] = words[w];
  return reader::FindHitsOfSubject(document, query, subject);
}

// Writes a page and its pictures; the pictures go again on exit unless kept.
int WritePage(reader::BookDocument& document, uint32_t row, uint32_t jump, bool highlight,
              bool keep, const char* what) {
  reader::PictureFiles files;
  reader::PictureMap pictures(&files);
  std::string page;
  if (!document.RenderPage(row, jump, jump, 0, highlight, &pictures, &page)) {
    std::fprintf(stderr, "fvx show: %s cannot be read\n", what);
    return kExitFailed;
  }
  std::fwrite(page.data(), 1, page.size(), stdout);
  std::fflush(stdout);
  const bool written = document.WritePictures(pictures);
  if (!written) std::fprintf(stderr, "fvx show: some pictures could not be written\n");
  if (keep) {
    for (const auto& [picture, file] : pictures.entries()) {
      std::fprintf(stderr, "picture %u: %s\n", picture, file.c_str());
    }
    files.Release();
  }
  return written ? kExitOk : kExitFailed;
}

int RunShow(const std::vector<std::string>& arguments) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(arguments, &verify);
  std::string path, heading, cover;
  std::optional<uint32_t> index;
  std::vector<std::string> words;
  uint32_t jump = 0;
  bool html = false, keep = false, by_heading = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--highlight") {
      while (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-' &&
             words.size() < 3) {
        words.push_back(args[++i]);
      }
      if (words.empty()) return Usage();
    } else if (a == "--jump") {
      if (i + 1 >= args.size()) return Usage();
      const std::optional<uint32_t> position = ParseIndex(args[++i]);
      if (!position) return Usage();
      jump = *position;
    } else if (a == "--cover") {
      if (i + 1 >= args.size()) return Usage();
      cover = args[++i];
      if (cover != "front" && cover != "back") return Usage();
    } else if (a == "--html") {
      html = true;
    } else if (a == "--keep-pictures") {
      keep = true;
    } else if (a == "--heading") {
      if (i + 1 >= args.size()) return Usage();
      heading = args[++i];
      by_heading = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else if (path.empty()) {
      path = a;
    } else if (!index) {
      index = ParseIndex(a);
      if (!index) return Usage();
    } else {
      return Usage();
    }
  }
  if (!cover.empty()) {
    if (path.empty() || index || by_heading || !words.empty() || jump != 0) return Usage();
    auto document = OpenForCommand("show", path, verify);
    if (!document) return kExitFailed;
    document->LeaveTree();
    const bool front = cover == "front";
    if (front ? !document->HasFrontCover() : !document->HasBackCover()) {
      std::fprintf(stderr, "fvx show: the book has no %s cover\n", cover.c_str());
      return FinishCommand("show", *document, kExitFailed);
    }
    return FinishCommand("show", *document,
                         WritePage(*document, front ? 0 : document->PageCount() - 1, 0, false,
                                   keep, "the cover"));
  }
  if (path.empty() || index.has_value() == by_heading) return Usage();
  auto document = OpenForCommand("show", path, verify);
  if (!document) return kExitFailed;
  document->LeaveTree();  // rows are the subjects, not a tree level
  if (by_heading) {
    const std::optional<uint32_t> row = document->HeadingLookup(heading);
    if (row) index = document->SubjectOfRow(*row);
    if (!index) {
      std::fprintf(stderr, "fvx show: no heading at or after \"%s\"\n", heading.c_str());
      return FinishCommand("show", *document, kExitFailed);
    }
  }
  if (*index >= document->SubjectCount()) {
    std::fprintf(stderr, "fvx show: the book has %u subjects\n", document->SubjectCount());
    return FinishCommand("show", *document, kExitFailed);
  }
  const bool highlight = !words.empty() && FindHits(*document, *index, words);
  if (!words.empty() && !highlight) {
    std::fprintf(stderr, "fvx show: the words do not occur in subject %u\n", *index);
  }
  if (html) {
    const std::string what = "subject " + std::to_string(*index);
    return FinishCommand(
        "show", *document,
        WritePage(*document, *document->RowOfSubject(*index), jump, highlight, keep, what.c_str()));
  }
  if (!document->LoadSubject(*index)) {
    std::fprintf(stderr, "fvx show: subject %u cannot be read\n", *index);
    return FinishCommand("show", *document, kExitFailed);
  }
  const std::string title(document->Heading(*index));
  std::printf("%s\n%s\n\n", title.c_str(), std::string(title.size(), '=').c_str());
  static const std::vector<reader::Hit> kNoHits;
  bool complete;
  const std::string text =
      PlainText(document->CurrentText(), &complete, highlight ? document->Hits() : kNoHits, jump);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
  bool first = true;
  for (uint32_t k = 0; k < document->VisibleCategoryCount(); ++k) {
    const uint32_t category = document->VisibleCategory(k);
    reader::ValueList values;
    if (!document->ValuesOfSubject(category, *index, &values) || values.empty()) continue;
    if (first) std::printf("\n");
    first = false;
    std::string line = std::string(document->CategoryName(category)) + ":";
    for (size_t v = 0; v < values.size(); ++v) {
      line += (v == 0 ? " " : ", ") + std::string(document->ValueName(category, values[v]));
    }
    std::printf("%s\n", line.c_str());
  }
  std::printf("\n(reading progress %d%%)\n", document->ReadingProgress());
  if (!complete) {
    std::fprintf(stderr, "fvx show: %s: the book is damaged: the text of subject %u breaks off\n",
                 path.c_str(), *index);
    return FinishCommand("show", *document, kExitFailed);
  }
  return FinishCommand("show", *document, kExitOk);
}

}  // namespace

FVX_COMMAND(show,
            "show BOOK (SUBJECT-INDEX | --heading TEXT | --cover front|back) [--html] "
            "[--keep-pictures] [--highlight WORD...] [--jump POSITION] [--verify]",
            "show a subject as text, or exactly the HTML page the reader builds", RunShow);

}  // namespace fvx::tool
