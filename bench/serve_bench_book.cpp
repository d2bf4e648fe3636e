// Writes the book that bench/serve_bench.sh serves: 177 000 subjects, each
// with a link to another subject and a few words to search for.
//   serve_bench_book OUT.fvx [SUBJECTS]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bookformat/testing/test_book.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: serve_bench_book OUT.fvx [SUBJECTS]\n");
    return 2;
  }
  const uint32_t count = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 177000;
  static const char* kWords[] = {"atlas", "river", "mountain", "valley", "coast", "island"};
  using fvx::format::testing::Element;
  using fvx::format::testing::U32;
  fvx::format::testing::TestBookSpec spec;
  spec.subjects.reserve(count);
  char heading[32];
  for (uint32_t i = 0; i < count; ++i) {
    std::snprintf(heading, sizeof heading, "%s %06u", kWords[static_cast<uint64_t>(i) * 6 / count], i);
    std::string text = "The ";
    text += kWords[i % 6];
    text += " of entry " + std::to_string(i) + " lies beside the ";
    text += kWords[(i / 7) % 6];
    text += ". See also " + Element(1, U32((i + 1) % count) + U32(0)) + "the next entry" +
            Element(2) + ", and a longer paragraph of ordinary words that makes the page about "
            "as long as a short dictionary entry would be in a reference book.";
    spec.subjects.push_back({heading, text, false});
  }
  spec.segments = 512;
  spec.title = "Benchmark book";
  const std::string bytes = fvx::format::testing::BuildTestBook(spec);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
