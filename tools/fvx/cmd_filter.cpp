// fvx filter BOOK 'EXPRESSION': the subjects a filter expression selects, as
// a filter link of a page applies it ("Colour = red<AND>Price <= 20").
#include <cstdio>

#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int RunFilter(const std::vector<std::string>& words) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(words, &verify);
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: fvx filter BOOK 'EXPRESSION' [--verify]\n");
    return kExitUsage;
  }
  auto document = OpenForCommand("filter", args[0], verify);
  if (!document) return kExitFailed;
  if (!document->RunFilterExpression(args[1])) {
    if (!document->DamageFound().empty()) return FinishCommand("filter", *document, kExitFailed);
    std::fprintf(stderr,
                 "fvx filter: the expression is malformed or names a category or value the book "
                 "does not have\n");
    return kExitFailed;
  }
  PrintSubjectLines(*document, document->Results());
  return FinishCommand("filter", *document, kExitOk);
}

}  // namespace

FVX_COMMAND(filter, "filter BOOK 'EXPRESSION' [--verify]",
            "list the subjects a filter expression selects (index, tab, heading)", RunFilter);

}  // namespace fvx::tool
