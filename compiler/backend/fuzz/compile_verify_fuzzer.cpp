// Any source that compiles must give a book that the verifier accepts:
// whatever the front end lets through, the writer may not produce a book
// that a reader would misread.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bookformat/book_verifier.h"
#include "compiler/app/testing/compile_for_test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  fvx::compiler::testing::TestCompile how;
  how.options.fixed_segmentation = (size % 2) == 0;  // both ways of choosing segments
  how.options.segmentation = 16;
  how.writer.worker_threads = 1;
  const fvx::compiler::testing::CompiledBook book = fvx::compiler::testing::CompileSource(
      std::string(reinterpret_cast<const char*>(data), size), how);
  if (!book.ok) return 0;
  fvx::format::BookCheck check;
  if (!fvx::format::VerifyBook(book.book_path, &check)) {
    std::fprintf(stderr, "compiled book fails verification: %s\n", check.problem.c_str());
    std::abort();
  }
  return 0;
}
