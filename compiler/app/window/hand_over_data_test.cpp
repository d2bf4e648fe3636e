#include "compiler/app/window/hand_over_data.h"

#include <gtest/gtest.h>

#include "compiler/app/window/message_lines.h"

namespace fvx::compiler::window {
namespace {

TEST(CommandLine, TakesTheFileAndTheIdentifierAfterTheFirstColon) {
  CommandLine line = ParseCommandLine({"/insid:0000ABCD", "/home/me/atlas.txt"});
  EXPECT_EQ(line.file, "/home/me/atlas.txt");
  EXPECT_EQ(line.insid, "0000ABCD");
  EXPECT_EQ(ParseCommandLine({"atlas.txt", "-insid:a:b"}).insid, "a:b");
  EXPECT_EQ(ParseCommandLine({"/insidious"}).insid, "");
  EXPECT_EQ(ParseCommandLine({"/nologo", "a.txt", "b.txt"}).file, "a.txt");
  EXPECT_EQ(ParseCommandLine({}).file, "");
  EXPECT_EQ(ParseCommandLine({"/no-such-flag-file", "-x", "/tmp"}).file, "/tmp");
}

TEST(CompilerHandOver, OnlyAnEightCharacterIdentifierNamesAFile) {
  const std::string buffer = CompilerHandOverBuffer("0000ABCD", "/a/b.txt");
  EXPECT_EQ(buffer, std::string("0000ABCD\0/a/b.txt\0", 18));
  auto full = ParseCompilerHandOver(kCompilerHandOver, buffer);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->insid, "0000ABCD");
  EXPECT_EQ(full->file, "/a/b.txt");

  auto short_id = ParseCompilerHandOver(kCompilerHandOver, CompilerHandOverBuffer("ABC", "/a/b.txt"));
  ASSERT_TRUE(short_id);
  EXPECT_EQ(short_id->insid, "ABC");
  EXPECT_FALSE(short_id->file);
  // Eight characters and nothing after the zero: no file.
  auto bare = ParseCompilerHandOver(kCompilerHandOver, std::string("0000ABCD\0", 9));
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->file);
  // Without a terminating zero the rest is still read safely.
  auto unterminated = ParseCompilerHandOver(kCompilerHandOver, std::string("0000ABCD\0/x", 11));
  ASSERT_TRUE(unterminated);
  EXPECT_EQ(unterminated->file, "/x");
  auto no_zero = ParseCompilerHandOver(kCompilerHandOver, "0000ABCD");
  ASSERT_TRUE(no_zero);
  EXPECT_FALSE(no_zero->file);

  EXPECT_FALSE(ParseCompilerHandOver(kReaderHandOver, buffer));
  EXPECT_FALSE(ParseCompilerHandOver(kCompilerHandOver, ""));
  EXPECT_EQ(kCompilerHandOver, 0x43585646u);  // "FVXC" little-endian
}

TEST(ReaderHandOver, BufferAndArguments) {
  EXPECT_EQ(ProcessInsid(0xABCD), "0000ABCD");
  EXPECT_EQ(ReaderHandOverBuffer("0000ABCD", "/b.fvx"), std::string("0000ABCD\0/b.fvx\0\0", 17));
  EXPECT_EQ(ReaderArguments("/my books/b.fvx", "0000ABCD"),
            (std::vector<std::string>{"/my books/b.fvx", "/insid", "0000ABCD"}));
  EXPECT_EQ(ReaderArguments("b.fvx", "1", "Mars"),
            (std::vector<std::string>{"b.fvx", "/qf", "Mars", "/insid", "1"}));
}

TEST(SourceExtension, TxtAndFvInAnyCaseAfterTheLastSeparator) {
  EXPECT_EQ(SourceExtension("/a/BOOK.TXT"), ".txt");
  EXPECT_EQ(SourceExtension("C:\\books\\old.Fv"), ".fv");
  EXPECT_EQ(SourceExtension("c:old.fv"), ".fv");
  EXPECT_EQ(SourceExtension("/a/notes.doc"), "");
  EXPECT_EQ(SourceExtension("/a.txt/readme"), "");
  EXPECT_EQ(SourceExtension("/a/.txt.bak"), "");
  EXPECT_EQ(SourceExtension(""), "");
}

TEST(MessageLines, ColourPairsAndPrefixesByLevel) {
  EXPECT_EQ(AreaLine(Level::kWarning, "w"), "\x03" "03,00[ Warning ] w");
  EXPECT_EQ(AreaLine(Level::kError, "e"), "\x03" "13,00[  Error  ] e");
  EXPECT_EQ(AreaLine(Level::kFatal, "f"), "\x03" "07,00[  Fatal Error  ] f");
  EXPECT_EQ(AreaLine(Level::kInformation, "i"), "\x03" "01,00i");
  ParsedLine parsed = ParseAreaLine(AreaLine(Level::kError, "e"));
  EXPECT_EQ(parsed.foreground, 13);
  EXPECT_EQ(parsed.background, 0);
  EXPECT_EQ(parsed.text, "[  Error  ] e");
  EXPECT_EQ(ParseAreaLine("\x03" "x").text, "\x03" "x");
  EXPECT_EQ(ParseAreaLine("plain").foreground, 1);
  // Each level's colour stays readable on both themes.
  for (int index : {1, 3, 7, 13}) {
    EXPECT_GT(PaletteColour(index, true).lightness(), 120) << index;
    EXPECT_LT(PaletteColour(index, false).lightness(), 140) << index;
  }
}

TEST(MessageLines, SourceLineOfAMessage) {
  EXPECT_EQ(SourceLineOf("[ Warning ] Line 12 : Col 3 : Invalid link \" x\""), 12);
  EXPECT_EQ(SourceLineOf("Line 7 : Col 1 : Line 9 : Col 2 : x"), 7);
  EXPECT_FALSE(SourceLineOf("Number of subjects : 5"));
  EXPECT_FALSE(SourceLineOf("Line x : Col 1 :"));
  EXPECT_FALSE(SourceLineOf("Line 0 : Col 1 : zero"));
}

}  // namespace
}  // namespace fvx::compiler::window
