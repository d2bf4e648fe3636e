// fvx catalogue BOOKS-FOLDER BASE-URL -o Fvx_Lib.fvx: the catalogue book a
// publisher serves beside the books, so that readers list and fetch them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "library/catalogue_source.h"
#include "library/library_settings.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

int Usage() {
  std::fprintf(stderr, "usage: fvx catalogue BOOKS-FOLDER BASE-URL -o Fvx_Lib.fvx\n");
  return kExitUsage;
}

int RunCatalogue(const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::string output;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage();
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.size() != 2 || output.empty()) return Usage();
  const std::string& folder = words[0];
  const std::string& base_url = words[1];
  if (!library::IsWebAddress(base_url)) {
    std::fprintf(stderr, "fvx catalogue: %s is not an http or https address\n", base_url.c_str());
    return kExitUsage;
  }
  std::vector<std::string> skipped;
  std::vector<library::CatalogueBook> books = library::ScanBookFolder(folder, &skipped);
  for (const std::string& name : skipped) {
    std::fprintf(stderr, "fvx catalogue: %s is not a book, left out\n", name.c_str());
  }
  if (books.empty()) {
    std::fprintf(stderr, "fvx catalogue: no book in %s\n", folder.c_str());
    return kExitFailed;
  }

  // The source goes through the compiler as any author's would.
  char source_path[] = "/tmp/fvx-catalogue-XXXXXX.txt";
  int fd = ::mkstemps(source_path, 4);
  if (fd < 0) {
    std::fprintf(stderr, "fvx catalogue: cannot make a scratch file\n");
    return kExitFailed;
  }
  ::close(fd);
  {
    std::ofstream source(source_path, std::ios::binary | std::ios::trunc);
    source << library::BuildCatalogueSource(books, base_url);
  }
  // The compiler's progress is of no interest unless it fails.
  std::string log_path = std::string(source_path) + ".log";
  std::fflush(stdout);
  int saved_stdout = ::dup(STDOUT_FILENO);
  int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log >= 0) {
    ::dup2(log, STDOUT_FILENO);
    ::close(log);
  }
  int result = kExitFailed;
  for (const Command& command : Commands()) {
    if (std::string(command.name) == "compile") {
      result = command.run({source_path, "-o", output, "--no-log", "--sort=no"});
    }
  }
  std::fflush(stdout);
  if (saved_stdout >= 0) {
    ::dup2(saved_stdout, STDOUT_FILENO);
    ::close(saved_stdout);
  }
  ::unlink(source_path);
  if (result != kExitOk) {
    std::ifstream messages(log_path);
    for (std::string line; std::getline(messages, line);)
      std::fprintf(stderr, "%s\n", line.c_str());
    ::unlink(log_path.c_str());
    std::fprintf(stderr, "fvx catalogue: the catalogue could not be compiled\n");
    return kExitFailed;
  }
  ::unlink(log_path.c_str());
  std::printf("%s: catalogue of %zu book(s) served from %s\n", output.c_str(), books.size(),
              base_url.c_str());
  return kExitOk;
}

}  // namespace

FVX_COMMAND(catalogue, "catalogue BOOKS-FOLDER BASE-URL -o Fvx_Lib.fvx",
            "build the net library catalogue of a folder of books served at BASE-URL",
            RunCatalogue);

}  // namespace fvx::tool
