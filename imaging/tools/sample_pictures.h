// The sample book's pictures: a cover, a background tile, a dozen
// illustrations of the solar system and one animation, drawn with QPainter.
//
// Everything is computed from fixed numbers (a small seeded generator, no
// fonts, no clock), so the same Qt, libjpeg and zlib write the same bytes;
// examples/pictures/ holds the output and a test checks that it still
// matches.
#pragma once

#include <string>
#include <vector>

namespace fvx::imaging::samples {

struct SamplePicture {
  std::string file_name;  // "earth.png"
  std::string bytes;      // the encoded file
};

// Draws and encodes every picture; empty when an encoder fails.
std::vector<SamplePicture> MakeSamplePictures();

// Writes them into folder (which must exist); false on the first failure.
bool WriteSamplePictures(const std::string& folder);

}  // namespace fvx::imaging::samples
