// Draws the sample book's pictures into a folder:
//   fvx_make_sample_pictures <folder>
// scripts/make_sample_pictures.sh runs it for examples/pictures/.
#include <cstdio>
#include <string>

#include "imaging/tools/sample_pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  if (!fvx::imaging::samples::WriteSamplePictures(argv[1])) {
    std::fprintf(stderr, "cannot write the sample pictures into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
