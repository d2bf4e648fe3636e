// Writes small books of every shape the reader meets into a folder, as the
// document fuzzer's starting corpus: fvx_reader_seeds OUTPUT-FOLDER
#include <cstdio>
#include <string>

#include "bookformat/testing/test_book.h"
#include "platform/file.h"

using namespace fvx::format::testing;

namespace {

std::string Elements() {
  std::string text = "the ab ice " + Element(4) + "bold" + Element(5) + "\n" + Element(25) + "a\nb" +
                     Element(26) + Element(1, U32(1) + U32(3)) + "link" + Element(2) +
                     Element(20, U32(0x0F000002) + U32(0xFF0000) + std::string("Arial\0", 6)) +
                     Element(22, U32(0) + U32(4) + U32(4) + U32(0) + U32(2) + std::string("alt\0", 4)) +
                     Element(35, std::string("Colour = red\0", 13)) + Element(31, U32(65)) +
                     Element(23, std::string("table\0border\0" "1\0", 15)) + Element(255);
  return text;
}

TestBookSpec Rich(uint8_t version) {
  TestBookSpec spec = SimpleBook({Elements(), "ice and the rest", "", "ab ab ab"});
  spec.version = version;
  TestCategory colour;
  colour.name = "Colour";
  colour.flags = 0x2;
  colour.names = {"blue", "red"};
  colour.values_of_subject = {{0, 1}, {1}, {}, {0}};
  TestCategory size;
  size.name = "Size";
  size.flags = 0x1;
  size.numbers = {1, 2.5};
  size.precision = 2;
  size.values_of_subject = {{0}, {1}, {1}, {}};
  spec.categories = {colour, size};
  spec.selections = {{"Some", {1, 3}}};
  spec.pictures = {{"\x89PNG..", "sm", 2, 2}, {"\xFF\xD8..", "", 1, 1}};
  spec.front_cover = 0;
  spec.back_cover = 1;
  spec.background_tile = 1;
  return spec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
    return 2;
  }
  TestBookSpec lookup = Rich(1);
  lookup.sort_order = {3, 2, 1, 0};
  TestBookSpec tree = SimpleBook({"root child", "child"});
  TestCategory childof;
  childof.name = "fvxchildof";
  childof.flags = 0x8;
  childof.names = {"Subject 000", "root"};
  childof.values_of_subject = {{1}, {0}};
  tree.categories = {childof};
  TestBookSpec slots = Rich(2);
  slots.slot_table_slots = 4;
  slots.slots.resize(2);
  slots.slots[0].kind = 1;
  slots.slots[1].kind = 3;
  const std::pair<const char*, TestBookSpec> seeds[] = {
      {"rich_v1", Rich(1)}, {"rich_v2", Rich(2)}, {"lookup", lookup}, {"tree", tree},
      {"slots", slots}};
  for (const auto& [name, spec] : seeds) {
    const std::string bytes = BuildTestBook(spec);
    const std::string path = std::string(argv[1]) + "/" + name + ".fvx";
    fvx::platform::File file = fvx::platform::File::Open(path, fvx::platform::File::Mode::kCreateTruncate);
    if (!file.IsOpen() || !file.Write(bytes.data(), bytes.size())) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
