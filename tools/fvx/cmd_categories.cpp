// fvx categories BOOK: every category in file order with its kind and its
// values as the reader shows them, each with the number of its subjects.
//
//   category := index TAB name TAB kind TAB values " values"
//   value    := TAB index TAB display-name TAB subjects " subjects"
#include <cstdio>

#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

std::string Kind(uint32_t flags) {
  std::string kind = flags & 0x1 ? "numeric" : "text";
  if (flags & 0x2) kind += ", multiple";
  if (flags & 0x8) kind += ", internal";
  if (flags & 0x40) kind += ", required";
  if (flags & 0x400) kind += ", first list";
  if (flags & 0x800) kind += ", second list";
  return kind;
}

int RunCategories(const std::vector<std::string>& words) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(words, &verify);
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: fvx categories BOOK [--verify]\n");
    return kExitUsage;
  }
  auto document = OpenForCommand("categories", args[0], verify);
  if (!document) return kExitFailed;
  for (uint32_t c = 0; c < document->CategoryCount(); ++c) {
    const std::string name(document->CategoryName(c));
    std::printf("%u\t%s\t%s\t%u values\n", c, name.c_str(), Kind(document->CategoryFlags(c)).c_str(),
                document->ValueCount(c));
    for (uint32_t v = 0; v < document->ValueCount(c); ++v) {
      const std::string value(document->ValueName(c, v));
      const bool counted = document->ApplyFilter(c, v, reader::FilterOperator::kEqual,
                                                 reader::FilterMode::kReplace);
      std::printf("\t%u\t%s\t%zu subjects\n", v, value.c_str(),
                  counted ? document->Results().size() : size_t{0});
    }
  }
  return FinishCommand("categories", *document, kExitOk);
}

}  // namespace

FVX_COMMAND(categories, "categories BOOK [--verify]", "list the categories and their values", RunCategories);

}  // namespace fvx::tool
