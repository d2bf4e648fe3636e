// fvx headings BOOK [PREFIX]: every subject as "index<TAB>heading" in stored
// order, or, with a prefix, those whose heading starts with it (any case)
// in heading order, found the way the reader's heading box finds them.
#include <cstdio>

#include "reader/filter.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int RunHeadings(const std::vector<std::string>& words) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(words, &verify);
  if (args.empty() || args.size() > 2) {
    std::fprintf(stderr, "usage: fvx headings BOOK [PREFIX] [--verify]\n");
    return kExitUsage;
  }
  auto document = OpenForCommand("headings", args[0], verify);
  if (!document) return kExitFailed;
  if (args.size() == 1) {
    for (uint32_t s = 0; s < document->SubjectCount(); ++s) PrintSubjectLine(*document, s);
    return FinishCommand("headings", *document, kExitOk);
  }
  const std::string& prefix = args[1];
  std::optional<uint32_t> position = document->LowerBoundSortPosition(prefix);
  int printed = 0;
  for (uint32_t at = position.value_or(document->SubjectCount()); at < document->SubjectCount();
       ++at) {
    const std::optional<uint32_t> subject = document->SubjectAtSortPosition(at);
    if (!subject || !reader::StartsWithNoCase(document->Heading(*subject), prefix)) break;
    PrintSubjectLine(*document, *subject);
    ++printed;
  }
  return FinishCommand("headings", *document, printed > 0 ? kExitOk : kExitFailed);
}

}  // namespace

FVX_COMMAND(headings, "headings BOOK [PREFIX] [--verify]",
            "list the subjects (index, tab, heading); with PREFIX those whose heading starts so",
            RunHeadings);

}  // namespace fvx::tool
