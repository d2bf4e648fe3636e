// fvx selections BOOK [NAME]: the author's selections ("index<TAB>name<TAB>
// members"), or the subjects of one of them as the reader lists them.
#include <cstdio>

#include "reader/filter.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int RunSelections(const std::vector<std::string>& words) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(words, &verify);
  if (args.empty() || args.size() > 2) {
    std::fprintf(stderr, "usage: fvx selections BOOK [NAME] [--verify]\n");
    return kExitUsage;
  }
  auto document = OpenForCommand("selections", args[0], verify);
  if (!document) return kExitFailed;
  if (args.size() == 1) {
    for (uint32_t k = 0; k < document->SelectionCount(); ++k) {
      const std::string name(document->SelectionName(k));
      std::printf("%u\t%s\t%u\n", k, name.c_str(), document->SelectionMemberCount(k));
    }
    return FinishCommand("selections", *document, kExitOk);
  }
  for (uint32_t k = 0; k < document->SelectionCount(); ++k) {
    if (!reader::EqualNoCase(document->SelectionName(k), args[1])) continue;
    // The selections row of the category list comes first.
    if (!document->ApplyListRow(0, k, reader::FilterMode::kReplace)) {
      std::fprintf(stderr, "fvx selections: the members of \"%s\" cannot be read\n", args[1].c_str());
      return FinishCommand("selections", *document, kExitFailed);
    }
    PrintSubjectLines(*document, document->Results());
    return FinishCommand("selections", *document, kExitOk);
  }
  std::fprintf(stderr, "fvx selections: the book has no selection \"%s\"\n", args[1].c_str());
  return FinishCommand("selections", *document, kExitFailed);
}

}  // namespace

FVX_COMMAND(selections, "selections BOOK [NAME] [--verify]",
            "list the selections, or the subjects of one (index, tab, heading)", RunSelections);

}  // namespace fvx::tool
