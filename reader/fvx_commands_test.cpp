// The reader's fvx commands, run as a user runs them, against the engine.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "bookformat/book_id.h"
#include "compiler/app/testing/compile_for_test.h"
#include "reader/book_document.h"
#include "reader/picture_files.h"

namespace fvx::reader {
namespace {

struct Result {
  int status = -1;
  std::string out;
};

Result Fvx(const std::string& arguments) {
  const std::string command = std::string(FVX_BINARY_DIR) + "/bin/fvx " + arguments + " 2>/dev/null";
  Result run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
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

}  // namespace
}  // namespace fvx::reader
