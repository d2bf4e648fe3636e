// fvx index BOOK | fvx index --drop BOOK | fvx index --list
// The reader's local word index of a book, kept in the data home under the
// book's id: built (a progress bar on a terminal; Ctrl-C cancels and keeps
// nothing), dropped, or listed with sizes.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "reader/word_index.h"
#include "reader/word_index_build.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  g_interrupted = true;
}

int Usage() {
  std::fprintf(stderr, "usage: fvx index BOOK | fvx index --drop BOOK | fvx index --list\n");
  return kExitUsage;
}

int List() {
  const std::vector<reader::WordIndexFile> files = reader::ListWordIndexes();
  uint64_t total = 0;
  for (const reader::WordIndexFile& file : files) {
    std::printf("%s\t%llu\n", file.book_id.c_str(), static_cast<unsigned long long>(file.bytes));
    total += file.bytes;
  }
  std::fprintf(stderr, "%zu word indexes, %llu bytes in %s\n", files.size(),
               static_cast<unsigned long long>(total), reader::WordIndexFolder().c_str());
  return kExitOk;
}

int Drop(const std::string& path) {
  auto document = OpenForCommand("index", path);
  if (!document) return kExitFailed;
  if (!reader::DropWordIndex(document->BookId())) {
    std::fprintf(stderr, "fvx index: %s: the word index could not be removed\n", path.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int Build(const std::string& path) {
  auto document = OpenForCommand("index", path);
  if (!document) return kExitFailed;
  const std::string index_path = reader::WordIndexPath(document->BookId());
  const bool terminal = isatty(STDERR_FILENO) != 0;
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);
  reader::WordIndexBuildOptions options;
  int shown = -1;
  options.progress = [&](uint32_t done, uint32_t total) {
    const int percent = total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total);
    if (terminal && percent != shown) {
      shown = percent;
      const int width = 40;
      std::string bar(static_cast<size_t>(percent * width / 100), '#');
      bar.resize(width, '.');
      std::fprintf(stderr, "\rindexing [%s] %3d%% %u/%u subjects", bar.c_str(), percent, done,
                   total);
      std::fflush(stderr);
    }
    return !g_interrupted.load();
  };
  std::string error;
  const reader::WordIndexBuildStatus status =
      reader::BuildWordIndex(*document, index_path, options, &error);
  sigaction(SIGINT, &previous, nullptr);
  if (terminal) std::fprintf(stderr, "\n");
  switch (status) {
    case reader::WordIndexBuildStatus::kBuilt:
    case reader::WordIndexBuildStatus::kUpToDate:
      std::printf("%s\n", index_path.c_str());
      return kExitOk;
    case reader::WordIndexBuildStatus::kCancelled:
      std::fprintf(stderr, "fvx index: %s: cancelled; nothing was kept\n", path.c_str());
      return kExitFailed;
    case reader::WordIndexBuildStatus::kBusy:
    case reader::WordIndexBuildStatus::kFailed:
      break;
  }
  std::fprintf(stderr, "fvx index: %s: %s\n", path.c_str(), error.c_str());
  return kExitFailed;
}

int RunIndex(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--list") return List();
  if (args.size() == 2 && args[0] == "--drop") return Drop(args[1]);
  if (args.size() == 1 && !args[0].starts_with("--")) return Build(args[0]);
  return Usage();
}

}  // namespace

FVX_COMMAND(index, "index BOOK | index --drop BOOK | index --list",
            "build, drop or list the local word indexes that make searches instant", RunIndex);

}  // namespace fvx::tool
