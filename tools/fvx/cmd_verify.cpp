// fvx verify BOOK: everything a reader could trip over, checked through the
// readers' own code; exit 1 naming the first damage found.
#include <cstdio>
#include <string>
#include <vector>

#include "bookformat/book_verifier.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

int RunVerify(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fprintf(stderr, "usage: fvx verify BOOK\n");
    return kExitUsage;
  }
  format::BookCheck check;
  if (!format::VerifyBook(args[0], &check)) {
    std::fprintf(stderr, "%s: damaged: %s\n", args[0].c_str(), check.problem.c_str());
    return kExitFailed;
  }
  std::printf("%s: ok (book id %s, %zu stores, %llu blocks inflated, digest matches)\n",
              args[0].c_str(), check.book_id.c_str(), check.stores.size(),
              static_cast<unsigned long long>(check.blocks_inflated));
  return kExitOk;
}

}  // namespace

FVX_COMMAND(verify, "verify BOOK",
            "check a book's digest, every block and every table; exit 1 when damaged", RunVerify);

}  // namespace fvx::tool
