// Writes small valid books of every shape into a folder, as the fuzzer's
// starting corpus: make_seeds OUTPUT-FOLDER
#include <cstdio>
#include <string>

#include "bookformat/testing/sample_book.h"
#include "platform/file.h"

using namespace fvx::format::testing;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
    return 2;
  }
  struct Seed {
    const char* name;
    SampleBookOptions options;
  };
  auto with = [](auto change) {
    SampleBookOptions options;
    options.subject_count = 4;
    options.text_repeat = 1;
    change(options);
    return options;
  };
  const Seed seeds[] = {
      {"v1", with([](SampleBookOptions&) {})},
      {"v2", with([](SampleBookOptions& o) { o.version = 2; })},
      {"v1_lookup_bookmarks", with([](SampleBookOptions& o) {
         o.stored_sorted = false;
         o.with_bookmarks = true;
       })},
      {"v2_lookup_bookmarks", with([](SampleBookOptions& o) {
         o.version = 2;
         o.stored_sorted = false;
         o.with_bookmarks = true;
       })},
      {"bare", with([](SampleBookOptions& o) {
         o.subject_count = 1;
         o.category_count = 0;
         o.selection_count = 0;
         o.picture_count = 0;
       })},
      {"multi_block", with([](SampleBookOptions& o) {
         o.subject_count = 30;
         o.text_repeat = 40;
       })},
  };
  for (const Seed& seed : seeds) {
    const SampleBook book = BuildSampleBook(seed.options);
    const std::string path = std::string(argv[1]) + "/" + seed.name + ".fvx";
    fvx::platform::File file =
        fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
    if (!file.IsOpen() || !file.Write(book.container.data(), book.container.size())) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
