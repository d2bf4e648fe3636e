// fvx filter BOOK 'EXPRESSION': the subjects a filter expression selects, as
// a filter link of a page applies it ("Colour = red<AND>Price <= 20").
#include <cstdio>

#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int RunFilter(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: fvx filter BOOK 'EXPRESSION'\n");
    return kExitUsage;
  }
  auto document = OpenForCommand("filter", args[0]);
  if (!document) return kExitFailed;
  if (!document->RunFilterExpression(args[1])) {
    std::fprintf(stderr,
                 "fvx filter: the expression is malformed or names a category or value the book "
                 "does not have\n");
    return kExitFailed;
  }
  PrintSubjectLines(*document, document->Results());
  return kExitOk;
}

}  // namespace

FVX_COMMAND(filter, "filter BOOK 'EXPRESSION'",
            "list the subjects a filter expression selects (index, tab, heading)", RunFilter);

}  // namespace fvx::tool
