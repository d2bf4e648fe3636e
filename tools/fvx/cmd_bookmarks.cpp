// fvx bookmarks BOOK list | add SUBJECT NAME [POSITION] | rename K NAME | delete K
// The bookmarks kept in the book's slot table. "add" first gives a book
// without a slot table one (a 'D' section after everything the book holds;
// the book id does not change). Bookmarks are numbered from 0 in slot order.
//
//   list line := k TAB subject TAB position TAB name
#include <cstdio>

#include "reader/slot_table.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: fvx bookmarks BOOK list [--verify]\n"
               "       fvx bookmarks BOOK add SUBJECT NAME [POSITION]\n"
               "       fvx bookmarks BOOK rename K NAME\n"
               "       fvx bookmarks BOOK delete K\n");
  return kExitUsage;
}

int List(reader::Document& document) {
  for (uint32_t k = 0; k < document.BookmarkCount(); ++k) {
    uint32_t subject = 0, position = 0;
    if (!document.Bookmark(k, &subject, &position)) continue;
    const std::string name(document.BookmarkName(k));
    std::printf("%u\t%u\t%u\t%s\n", k, subject, position, name.c_str());
  }
  return FinishCommand("bookmarks", document, kExitOk);
}

int EditFailed(reader::Document& document) {
  std::fprintf(stderr, "fvx bookmarks: %s: nothing was written: %s\n", document.FilePath().c_str(),
               document.BookmarkEditFailure().c_str());
  return kExitFailed;
}

int RunBookmarks(const std::vector<std::string>& words) {
  bool verify;
  const std::vector<std::string> args = TakeVerify(words, &verify);
  if (args.size() < 2) return Usage();
  const std::string& path = args[0];
  const std::string& action = args[1];
  if (action == "list") {
    if (args.size() != 2) return Usage();
    auto document = OpenForCommand("bookmarks", path, verify);
    return document ? List(*document) : kExitFailed;
  }
  if (action == "add") {
    if (args.size() < 4 || args.size() > 5) return Usage();
    const std::optional<uint32_t> subject = ParseIndex(args[2]);
    const std::optional<uint32_t> position = args.size() == 5 ? ParseIndex(args[4]) : 0u;
    if (!subject || !position || args[3].empty()) return Usage();
    {
      auto check = OpenForCommand("bookmarks", path, verify);
      if (!check) return kExitFailed;
      if (*subject >= check->SubjectCount()) {
        std::fprintf(stderr, "fvx bookmarks: the book has %u subjects\n", check->SubjectCount());
        return kExitFailed;
      }
      if (!check->HasSlotTable()) {
        check.reset();
        const reader::AddSlotTableResult added = reader::AddSlotTable(path);
        if (!added.ok) {
          std::fprintf(stderr, "fvx bookmarks: %s\n", added.message.c_str());
          return kExitFailed;
        }
      }
    }
    auto document = OpenForCommand("bookmarks", path);
    if (!document) return kExitFailed;
    if (!document->AddBookmark(*subject, *position, args[3])) return EditFailed(*document);
    return List(*document);
  }
  if (action == "rename" || action == "delete") {
    if (args.size() != (action == "rename" ? 4u : 3u)) return Usage();
    const std::optional<uint32_t> k = ParseIndex(args[2]);
    if (!k) return Usage();
    auto document = OpenForCommand("bookmarks", path, verify);
    if (!document) return kExitFailed;
    if (*k >= document->BookmarkCount()) {
      if (!document->DamageFound().empty()) return FinishCommand("bookmarks", *document, kExitFailed);
      std::fprintf(stderr, "fvx bookmarks: the book has %u bookmarks\n", document->BookmarkCount());
      return kExitFailed;
    }
    const bool ok = action == "rename" ? document->RenameBookmark(*k, args[3])
                                       : document->DeleteBookmark(*k);
    if (!ok) return EditFailed(*document);
    return List(*document);
  }
  return Usage();
}

}  // namespace

FVX_COMMAND(bookmarks, "bookmarks BOOK list | add SUBJECT NAME [POSITION] | rename K NAME | delete K",
            "list or edit the bookmarks kept inside a book", RunBookmarks);

}  // namespace fvx::tool
