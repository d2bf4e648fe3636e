// fvx search BOOK WORD [WORD2 [WORD3]] [--or2] [--or3] [--headings] [--case]
//            [--substring] [--all] [--stats] [--explain]
// The reader's text search: candidates through the book's search index,
// then the matcher over each candidate. Without --all the first match is
// printed ("index<TAB>heading") with its hits ("<TAB>start<TAB>end<TAB>word");
// with --all every matching subject. Exit 1 when nothing matches.
// --explain tells on stderr whether the local word index answered, the
// candidates, the subjects inflated and the engine time.
#include <chrono>
#include <cstdio>

#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: fvx search BOOK WORD [WORD2 [WORD3]] [--or2] [--or3] [--headings] [--case]\n"
               "                  [--substring] [--all] [--stats] [--explain]\n");
  return kExitUsage;
}

int RunSearch(const std::vector<std::string>& args) {
  std::string path;
  std::vector<std::string> words;
  reader::SearchQuery query;
  bool stats = false;
  bool explain = false;
  for (const std::string& a : args) {
    if (a == "--or2") {
      query.operator2 = reader::SearchOperator::kOr;
    } else if (a == "--or3") {
      query.operator3 = reader::SearchOperator::kOr;
    } else if (a == "--headings") {
      query.headings_only = true;
    } else if (a == "--case") {
      query.match_case = true;
    } else if (a == "--substring") {
      query.whole_words = false;
    } else if (a == "--all") {
      query.find_all = true;
    } else if (a == "--stats") {
      stats = true;
    } else if (a == "--explain") {
      explain = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return Usage();
    } else if (path.empty()) {
      path = a;
    } else {
      words.push_back(a);
    }
  }
  if (path.empty() || words.empty() || words.size() > 3 || words[0].empty()) return Usage();
  for (size_t w = 0; w < words.size(); ++w) query.words[w] = words[w];
  query.from_beginning = true;

  auto document = OpenForCommand("search", path);
  if (!document) return kExitFailed;
  document->LeaveTree();  // search every subject
  uint64_t candidates = 0;
  const auto started = std::chrono::steady_clock::now();
  if (!document->BeginSearch(query, 0, &candidates)) return Usage();
  uint32_t current = 0;
  uint64_t tested = 0;
  reader::SearchStepResult result = reader::SearchStepResult::kContinue;
  while ((result = document->SearchStep(reader::SearchDirection::kForwards, 5, &current)) ==
         reader::SearchStepResult::kContinue) {
  }
  tested = document->SubjectsTested();
  if (query.find_all) document->EndSearch();
  const double engine_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  int status = kExitFailed;
  if (query.find_all) {
    if (document->HasResults()) {
      PrintSubjectLines(*document, document->Results());
      status = kExitOk;
    }
  } else if (result == reader::SearchStepResult::kFound) {
    PrintSubjectLine(*document, current);
    for (const reader::Hit& hit : document->Hits()) {
      std::printf("\t%u\t%u\t%d\n", hit.start, hit.end, hit.word + 1);
    }
    status = kExitOk;
  }
  if (stats) {
    std::fprintf(stderr, "%llu candidate subjects of %u, %llu tested\n",
                 static_cast<unsigned long long>(candidates), document->SubjectCount(),
                 static_cast<unsigned long long>(tested));
  }
  if (explain) {
    const reader::SearchExplanation& how = document->LastSearch();
    if (how.word_index_used) {
      std::fprintf(stderr, "word index: used (%s)\n",
                   how.exact ? "exact subjects" : "candidates, confirmed by the matcher");
    } else {
      std::fprintf(stderr, "word index: not used: %s; the book's own index was used\n",
                   how.word_index_note.c_str());
    }
    std::fprintf(stderr, "candidates: %llu of %u subjects\nsubjects inflated: %llu\ntime: %.3f ms\n",
                 static_cast<unsigned long long>(how.candidates), document->SubjectCount(),
                 static_cast<unsigned long long>(how.inflated), engine_ms);
  }
  return status;
}

}  // namespace

FVX_COMMAND(search,
            "search BOOK WORD [WORD2 [WORD3]] [--or2] [--or3] [--headings] [--case] [--substring] "
            "[--all] [--stats] [--explain]",
            "search subject texts (or headings) for up to three words", RunSearch);

}  // namespace fvx::tool
