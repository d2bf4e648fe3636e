// The reader's fvx commands, run as a user runs them, against the engine.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "bookformat/blockstore/block_cache.h"
#include "bookformat/book_id.h"
#include "bookformat/book_layout.h"
#include "compiler/app/testing/compile_for_test.h"
#include "platform/file.h"
#include "platform/testing/command_output.h"
#include "reader/book_document.h"
#include "reader/picture_files.h"

namespace fvx::reader {
namespace {

using Result = platform::testing::CommandOutput;

// With errors_too, stderr is appended to out.
Result Fvx(const std::string& arguments, bool errors_too = false) {
  return platform::testing::RunCommandLine(std::string(FVX_BINARY_DIR) + "/bin/fvx " + arguments +
                                           (errors_too ? " 2>&1" : " 2>/dev/null"));
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

class FvxCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    compiled_ = compiler::testing::CompileSource(
        "<catdef> name=\"Colour\" type=string multiple=yes values=red,green </catdef>\n"
        "<selection> name=\"Reds\" query=Colour=red </selection>\n"
        "<new>Earth\nBlue and green, with <b>life</b>.\n<catset> Colour=green </catset>\n"
        "<new>Mars\nThe red planet.\n<catset> Colour=red </catset>\n"
        "<new>Mercury\nSmall and hot.\n<catset> Colour=red,green </catset>\n");
    ASSERT_TRUE(compiled_.ok);
    book_ = Quote(compiled_.book_path);
    OpenCode code;
    ASSERT_TRUE(document_.Open(compiled_.book_path, &code));
  }

  compiler::testing::CompiledBook compiled_;
  std::string book_;
  BookDocument document_;
};

TEST_F(FvxCommands, ListingCommands) {
  EXPECT_EQ(Fvx("headings " + book_).out, "0\tEarth\n1\tMars\n2\tMercury\n");
  EXPECT_EQ(Fvx("headings " + book_ + " m").out, "1\tMars\n2\tMercury\n");
  EXPECT_EQ(Fvx("headings " + book_ + " x").status, 1);
  EXPECT_EQ(Fvx("search " + book_ + " and --all").out, "0\tEarth\n2\tMercury\n");
  EXPECT_EQ(Fvx("search " + book_ + " red green --or2 --all").out, "0\tEarth\n1\tMars\n");
  EXPECT_EQ(Fvx("search " + book_ + " MARS --headings --all").out, "1\tMars\n");
  EXPECT_EQ(Fvx("search " + book_ + " MARS --headings --case --all").status, 1);
  EXPECT_EQ(Fvx("search " + book_ + " plan --substring").out, "1\tMars\n\t8\t12\t1\n");
  EXPECT_EQ(Fvx("search " + book_ + " zebra").status, 1);
  EXPECT_EQ(Fvx("filter " + book_ + " 'Colour = red<AND>Colour = green'").out, "2\tMercury\n");
  EXPECT_EQ(Fvx("filter " + book_ + " 'Colour = blue'").status, 1);
  EXPECT_EQ(Fvx("selections " + book_).out, "0\tReds\t2\n");
  EXPECT_EQ(Fvx("selections " + book_ + " reds").out, "1\tMars\n2\tMercury\n");
  EXPECT_EQ(Fvx("categories " + book_).out,
            "0\tColour\ttext, multiple\t2 values\n\t0\tgreen\t2 subjects\n\t1\tred\t2 subjects\n");
  EXPECT_EQ(Fvx("show " + book_ + " 9").status, 1);
  EXPECT_EQ(Fvx("show " + book_).status, 2);
}

TEST_F(FvxCommands, ShowPrintsExactlyThePageTheEngineBuilds) {
  PictureMap pictures(nullptr);
  std::string page;
  ASSERT_TRUE(document_.RenderPage(1, 0, 0, 0, false, &pictures, &page));
  EXPECT_EQ(Fvx("show " + book_ + " 1 --html").out, page);
  EXPECT_EQ(Fvx("show " + book_ + " --heading MA --html").out, page);
  const Result text = Fvx("show " + book_ + " 0");
  EXPECT_NE(text.out.find("Earth\n=====\n\nBlue and green, with life.\n"), std::string::npos);
  EXPECT_NE(text.out.find("Colour: green\n"), std::string::npos);
}

TEST_F(FvxCommands, ShowHighlightsJumpsAndCovers) {
  // The highlighted page is the one the window shows after a search.
  SearchQuery query;
  query.words[0] = "green";
  query.words[1] = "life";
  uint64_t candidates = 0;
  ASSERT_TRUE(document_.BeginSearch(query, 0, &candidates));
  uint32_t found = 9;
  while (document_.SearchStep(SearchDirection::kForwards, 1, &found) == SearchStepResult::kContinue) {
  }
  ASSERT_EQ(found, 0u);
  PictureMap pictures(nullptr);
  std::string page;
  ASSERT_TRUE(document_.RenderPage(0, 0, 0, 0, true, &pictures, &page));
  EXPECT_NE(page.find("findloc"), std::string::npos);
  EXPECT_EQ(Fvx("show " + book_ + " 0 --highlight green life --html").out, page);
  EXPECT_NE(Fvx("show " + book_ + " 0 --highlight GREEN").out.find("Blue and [[green]], with life."),
            std::string::npos);

  std::string jumped;
  ASSERT_TRUE(document_.RenderPage(1, 4, 4, 0, false, &pictures, &jumped));
  EXPECT_NE(jumped.find("<a name=\"FvxAutoJumpAnchor_4\">"), std::string::npos);
  EXPECT_EQ(Fvx("show " + book_ + " 1 --jump 4 --html").out, jumped);
  EXPECT_NE(Fvx("show " + book_ + " 1 --jump 4").out.find("The {jump}red planet."), std::string::npos);

  // This book has no covers; asking for one fails cleanly.
  EXPECT_EQ(Fvx("show " + book_ + " --cover back").status, 1);
  EXPECT_EQ(Fvx("show " + book_ + " --cover side").status, Fvx("show").status);
}

TEST_F(FvxCommands, BookmarksGiveTheBookASlotTableAndKeepItsId) {
  const std::optional<std::string> id = format::BookIdOfFile(compiled_.book_path);
  EXPECT_EQ(Fvx("bookmarks " + book_ + " list").out, "");
  EXPECT_EQ(Fvx("bookmarks " + book_ + " add 1 'Red one' 4").out, "0\t1\t4\tRed one\n");
  EXPECT_EQ(Fvx("bookmarks " + book_ + " add 2 Hot").out, "0\t1\t4\tRed one\n1\t2\t0\tHot\n");
  EXPECT_EQ(Fvx("bookmarks " + book_ + " rename 1 Small").out, "0\t1\t4\tRed one\n1\t2\t0\tSmall\n");
  EXPECT_EQ(Fvx("bookmarks " + book_ + " delete 0").out, "0\t2\t0\tSmall\n");  // renumbered
  EXPECT_EQ(Fvx("bookmarks " + book_ + " delete 5").status, 1);
  EXPECT_EQ(Fvx("bookmarks " + book_ + " add 9 Nothing").status, 1);
  EXPECT_EQ(format::BookIdOfFile(compiled_.book_path), id);
  // Every part of the suite still reads the book.
  EXPECT_EQ(Fvx("verify " + book_).status, 0);
  EXPECT_EQ(Fvx("info " + book_).status, 0);
  EXPECT_EQ(Fvx("headings " + book_).out, "0\tEarth\n1\tMars\n2\tMercury\n");
  BookDocument again;
  OpenCode code;
  ASSERT_TRUE(again.Open(compiled_.book_path, &code));
  ASSERT_EQ(again.BookmarkCount(), 1u);
  EXPECT_EQ(again.BookmarkName(0), "Small");
}

// A copy of the book with one byte changed, in the same folder.
std::string WithByte(const std::string& path, uint64_t file_offset, uint8_t xor_mask,
                     const std::string& name) {
  platform::File in = platform::File::Open(path, platform::File::Mode::kRead);
  std::string bytes(in.Size().value_or(0), '\0');
  EXPECT_TRUE(in.ReadAt(0, bytes.data(), bytes.size()));
  bytes[file_offset] = static_cast<char>(bytes[file_offset] ^ xor_mask);
  const std::string out_path = path.substr(0, path.rfind('/') + 1) + name;
  platform::File out = platform::File::Open(out_path, platform::File::Mode::kCreateTruncate);
  EXPECT_TRUE(out.Write(bytes.data(), bytes.size()));
  return out_path;
}

// The file offset of the middle of block k of a store.
uint64_t MiddleOfBlock(const std::string& path, const char* store_name, size_t k) {
  format::BookFile file;
  format::BookLayout layout;
  format::FormatError error;
  EXPECT_TRUE(format::OpenBook(path, &file, &layout, &error));
  for (const format::StoreRef& store : layout.Stores()) {
    if (std::string(store.name) != store_name) continue;
    std::vector<format::BlockDescriptor> blocks;
    EXPECT_TRUE(format::ReadBlockTable(file, layout.width(), store.table_position,
                                       store.section.position, store.section.next, &blocks,
                                       &error));
    EXPECT_LT(k, blocks.size());
    if (k >= blocks.size()) return 0;
    const uint64_t end = k + 1 < blocks.size() ? blocks[k + 1].position : store.table_position;
    return file.container().stream_start + (blocks[k].position + end) / 2;
  }
  ADD_FAILURE() << store_name;
  return 0;
}

// Books big enough that their texts and headings take several blocks.
class FvxOnDamagedBooks : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string source = "<catdef> name=\"Kind\" type=string values=rock,gas </catdef>\n";
    for (int s = 0; s < 400; ++s) {
      source += "<new>Body " + std::to_string(1000 + s) + " with a longer heading to fill blocks\n";
      for (int w = 0; w < 12; ++w) {
        source += "planet " + std::to_string(s * 31 + w) + " orbit moon dust ring. ";
      }
      source += "\n<catset> Kind=" + std::string(s % 2 ? "rock" : "gas") + " </catset>\n";
    }
    compiled_ = compiler::testing::CompileSource(source);
    ASSERT_TRUE(compiled_.ok);
  }

  compiler::testing::CompiledBook compiled_;
};

TEST_F(FvxOnDamagedBooks, AnUnreadableTextBlockIsReportedNotDropped) {
  const std::string& intact = compiled_.book_path;
  const Result all = Fvx("search " + Quote(intact) + " planet --all");
  ASSERT_EQ(all.status, 0);
  const std::string book =
      Quote(WithByte(intact, MiddleOfBlock(intact, "text table", 1), 0x10, "text.fvx"));
  const Result partial = Fvx("search " + book + " planet --all", true);
  EXPECT_EQ(partial.status, 1);
  EXPECT_NE(partial.out.find("damaged"), std::string::npos) << partial.out;
  EXPECT_NE(partial.out.find("the text of subject"), std::string::npos) << partial.out;
  EXPECT_NE(partial.out.find("incomplete"), std::string::npos) << partial.out;
  // What could be read is still listed.
  EXPECT_EQ(partial.out.substr(0, 20), all.out.substr(0, 20));
  // show of a subject in that block fails, one elsewhere does not.
  const Result shown = Fvx("show " + book + " 399");
  EXPECT_EQ(shown.status, 0);
}

TEST_F(FvxOnDamagedBooks, UnreadableHeadingsAndValuesAreReported) {
  const std::string& intact = compiled_.book_path;
  const std::string headings =
      Quote(WithByte(intact, MiddleOfBlock(intact, "heading table", 2), 0x01, "headings.fvx"));
  const Result listed = Fvx("headings " + headings, true);
  EXPECT_EQ(listed.status, 1);
  EXPECT_NE(listed.out.find("the heading of subject"), std::string::npos) << listed.out.substr(0, 300);
  const std::string values = Quote(
      WithByte(intact, MiddleOfBlock(intact, "subject-to-values table", 0), 0x01, "values.fvx"));
  EXPECT_EQ(Fvx("show " + values + " 3").status, 1);
  EXPECT_EQ(Fvx("categories " + values).status, 0);  // the other table serves the counts
  EXPECT_EQ(Fvx("filter " + values + " 'Kind = rock'").status, 0);
}

TEST_F(FvxOnDamagedBooks, VerifyFindsChangesThatStillDecode) {
  const std::string& intact = compiled_.book_path;
  format::BookFile file;
  format::BookLayout layout;
  format::FormatError error;
  ASSERT_TRUE(format::OpenBook(intact, &file, &layout, &error));
  // A letter of the title, inside the sealed information section.
  const uint64_t title = file.container().stream_start + layout.info.place.position + 2 + 4;
  file.Close();
  const std::string book = Quote(WithByte(intact, title, 0x01, "title.fvx"));
  const std::vector<std::pair<std::string, std::string>> commands = {
      {"headings", ""}, {"show", " 1"}, {"search", " planet"}, {"categories", ""},
      {"filter", " 'Kind = gas'"}, {"selections", ""}, {"bookmarks", " list"}};
  for (const auto& [verb, rest] : commands) {
    EXPECT_EQ(Fvx(verb + " " + book + rest).status, 0) << verb;
    const Result verified = Fvx(verb + " " + book + rest + " --verify", true);
    EXPECT_EQ(verified.status, 1) << verb;
    EXPECT_NE(verified.out.find("digest does not match"), std::string::npos) << verb;
    EXPECT_EQ(Fvx(verb + " " + Quote(intact) + rest + " --verify").status, 0) << verb;
  }
  EXPECT_EQ(Fvx("info " + book).status, 1);
  EXPECT_EQ(Fvx("info " + Quote(intact)).status, 0);
}

}  // namespace
}  // namespace fvx::reader
