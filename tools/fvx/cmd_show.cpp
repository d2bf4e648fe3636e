// fvx show BOOK (SUBJECT-INDEX | --heading TEXT) [--html] [--keep-pictures]:
// a subject as the page view gets it (--html: exactly the page's bytes), or
// as plain text for the terminal. Pictures the page shows are written to
// their temporary files and removed again on exit unless kept.
#include <cstdio>
#include <string>

#include "bookformat/coding.h"
#include "reader/element_html.h"
#include "reader/picture_files.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

// Stored text as terminal text: breaks and list items as lines, entities
// as characters, links in brackets, pictures by their alternative text.
// *complete is false when the text's element framing is broken.
std::string PlainText(std::string_view text, bool* complete) {
  std::string out;
  *complete = true;
  size_t at = 0;
  while (at < text.size()) {
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
  return out;
}

int Usage() {
  std::fprintf(stderr,
               "usage: fvx show BOOK (SUBJECT-INDEX | --heading TEXT) [--html] [--keep-pictures]\n"
               "                [--verify]\n");
  return kExitUsage;
}

int RunShow(const std::vector<std::string>& words) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(words, &verify);
  std::string path, heading;
  std::optional<uint32_t> index;
  bool html = false, keep = false, by_heading = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--html") {
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
    return kExitFailed;
  }
  if (html) {
    reader::PictureFiles files;
    reader::PictureMap pictures(&files);
    std::string page;
    if (!document->RenderPage(*document->RowOfSubject(*index), 0, 0, 0, false, &pictures, &page)) {
      std::fprintf(stderr, "fvx show: subject %u cannot be read\n", *index);
      return FinishCommand("show", *document, kExitFailed);
    }
    std::fwrite(page.data(), 1, page.size(), stdout);
    std::fflush(stdout);
    const bool written = document->WritePictures(pictures);
    if (!written) std::fprintf(stderr, "fvx show: some pictures could not be written\n");
    if (keep) {
      for (const auto& [picture, file] : pictures.entries()) {
        std::fprintf(stderr, "picture %u: %s\n", picture, file.c_str());
      }
      files.Release();
    }
    return FinishCommand("show", *document, written ? kExitOk : kExitFailed);
  }
  if (!document->LoadSubject(*index)) {
    std::fprintf(stderr, "fvx show: subject %u cannot be read\n", *index);
    return FinishCommand("show", *document, kExitFailed);
  }
  const std::string title(document->Heading(*index));
  std::printf("%s\n%s\n\n", title.c_str(), std::string(title.size(), '=').c_str());
  bool complete;
  const std::string text = PlainText(document->CurrentText(), &complete);
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

FVX_COMMAND(show, "show BOOK (SUBJECT-INDEX | --heading TEXT) [--html] [--keep-pictures] [--verify]",
            "show a subject as text, or exactly the HTML page the reader builds", RunShow);

}  // namespace fvx::tool
