#include "bookformat/fv_book.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "bookformat/coding.h"

namespace fvx::format {
namespace {

using Subjects = std::vector<std::pair<std::string, std::string>>;

std::string Build(const Subjects& subjects, bool compress) {
  FvBookBuilder builder({"Old Atlas", 0x01020304, compress});
  for (const auto& [heading, text] : subjects) EXPECT_TRUE(builder.Add(heading, text));
  std::optional<std::string> bytes = builder.Finish();
  EXPECT_TRUE(bytes.has_value());
  return bytes.value_or("");
}

bool Opens(std::string bytes, std::string* error = nullptr) {
  CFvwBook book;
  bool ok = book.Open(std::make_unique<MemoryByteSource>(std::move(bytes)));
  if (error) *error = book.error();
  return ok;
}

Subjects ReadAll(std::string bytes) {
  CFvwBook book;
  EXPECT_TRUE(book.Open(std::make_unique<MemoryByteSource>(std::move(bytes)))) << book.error();
  Subjects out;
  for (uint32_t i = 0; i < book.RecordCount(); ++i) {
    std::string heading, text;
    EXPECT_TRUE(book.Read(i, &heading, &text));
    out.emplace_back(heading, text);
  }
  return out;
}

void PatchU32(std::string& bytes, size_t at, uint32_t value) {
  StoreU32(reinterpret_cast<uint8_t*>(&bytes[at]), value);
}

TEST(FvBookTest, PlainBookHasTheDocumentedBytes) {
  const std::string bytes = Build({{"Ab", "x\ty"}}, false);
  std::string expected("Old Atlas", 9);
  expected.resize(32, '\0');
  expected += std::string("\0\0\0\1", 4);                   // attributes, version
  expected += std::string("\1\2\3\4\1\2\3\4\1\2\3\4", 12);  // the three times
  expected += std::string(12, '\0');                        // modification, app info, sort info
  expected += "FVWDFVWC" + std::string(8, '\0') + std::string("\0\2", 2);  // R = 2
  expected += std::string("\0\0\0\x5E\0\0\0\0", 8);                        // info at 78 + 16 = 94
  expected += std::string("\0\0\0\x6A\0\0\0\0", 8);           // subject at 94 + 12 = 106
  expected += std::string("\0\1\0\0\0\0\0\1\0\0\0\x71", 12);  // format 1, plain, N 1, 113 bytes
  expected += std::string("\0\2Abx\ty", 7);
  EXPECT_EQ(bytes, expected);
}

TEST(FvBookTest, SubjectsRoundTripPlainAndCompressed) {
  const Subjects subjects = {{"First", "text\t\x01with codes\t\x11target>x"},
                             {"", ""},
                             {std::string("nul\0in", 6), std::string("zero\0after", 10)},
                             {"Last", std::string(70000, 'z') + "\xFF\xFE"}};
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress ? "compressed" : "plain");
    const std::string bytes = Build(subjects, compress);
    EXPECT_EQ(ReadAll(bytes), subjects);
    CFvwBook book;
    ASSERT_TRUE(book.Open(std::make_unique<MemoryByteSource>(bytes)));
    EXPECT_EQ(book.compressed(), compress);
    EXPECT_EQ(book.RecordCount(), 4u);
  }
  // The long repeated text really was compressed.
  EXPECT_LT(Build(subjects, true).size(), 2000u);
  EXPECT_EQ(ReadAll(Build({}, false)), Subjects{});
}

TEST(FvBookTest, BuilderRefusesWhatTheFormatCannotHold) {
  FvBookBuilder builder({"b", 0, false});
  EXPECT_FALSE(builder.Add(std::string(kMaxFvHeadingBytes + 1, 'h'), ""));
  EXPECT_NE(builder.error().find("heading"), std::string::npos);
  EXPECT_FALSE(builder.Add("fine", "later adds fail too"));
  EXPECT_FALSE(builder.Finish().has_value());

  FvBookBuilder large({"b", 0, true});
  EXPECT_FALSE(large.Add("h", std::string(kMaxFvSubjectBytes, 't')));

  FvBookBuilder many({"b", 0, false});
  for (uint32_t i = 0; i < kMaxFvSubjects; ++i) ASSERT_TRUE(many.Add("", ""));
  EXPECT_FALSE(many.Add("", ""));
}

TEST(FvBookTest, EveryTruncationAndAnyAppendedByteFailToOpen) {
  for (bool compress : {false, true}) {
    const std::string bytes = Build({{"One", "first text"}, {"Two", "second"}}, compress);
    for (size_t length = 0; length < bytes.size(); ++length) {
      EXPECT_FALSE(Opens(bytes.substr(0, length))) << "length " << length;
    }
    EXPECT_FALSE(Opens(bytes + '\0'));
    EXPECT_TRUE(Opens(bytes));
  }
}

TEST(FvBookTest, DamagedLayoutsAreRefusedWithAReason) {
  const std::string good = Build({{"One", "first"}, {"Two", "second"}}, false);
  // Offsets: info 78+24 = 102, subjects at 114 and 124; the file has 135 bytes.
  ASSERT_EQ(good.size(), 135u);
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    bool u16;
    const char* reason;
  } cases[] = {
      {"type", 60, 0x46565844, false, "not an older-generation book"},
      {"no records", 76, 0, true, "no information record"},
      {"record list past the end", 76, 0xFFFF, true, "record list"},
      {"info overlapping the list", 78, 90, false, "overlaps"},
      {"offsets out of order", 86 + 8, 113, false, "ends before it starts"},
      {"offset past the end", 86 + 8, 136, false, "ends before it starts"},
      {"format", 102, 0x00020000, false, "unknown format"},
      {"flags", 102, 0x00010002, false, "unknown flags"},
      {"count", 106, 3, false, "counts 3 subjects"},
      {"heading past its record", 114, 0x00090000, false, "heading passes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = good;
    if (c.u16) {
      StoreU16(reinterpret_cast<uint8_t*>(&bytes[c.at]), static_cast<uint16_t>(c.value));
    } else {
      PatchU32(bytes, c.at, c.value);
    }
    std::string error;
    EXPECT_FALSE(Opens(bytes, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(FvBookTest, DamagedCompressedSubjectsAreRefused) {
  const std::string good = Build({{"One", std::string(500, 'a')}}, true);
  const size_t subject = 78 + 16 + 12;
  std::string error;
  // A claimed size beyond what its bytes can inflate to, or beyond the cap.
  std::string bytes = good;
  PatchU32(bytes, subject,
           static_cast<uint32_t>((good.size() - subject - 4) * kMaxFvInflateRatio + 1));
  EXPECT_FALSE(Opens(bytes, &error));
  EXPECT_NE(error.find("more than it can hold"), std::string::npos) << error;
  // A size one off is caught by inflating to exactly L bytes.
  bytes = good;
  PatchU32(bytes, subject, 2 + 3 + 499);
  EXPECT_FALSE(Opens(bytes, &error));
  EXPECT_NE(error.find("damaged compressed data"), std::string::npos) << error;
  // A flipped byte of the zlib stream is refused, except where deflate
  // ignores the bits (padding after the last block), and then the subject
  // is still the same: Adler-32 vouches for it.
  const Subjects original = ReadAll(good);
  int refused = 0;
  for (size_t at = subject + 4; at < good.size(); ++at) {
    bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    if (!Opens(bytes)) {
      ++refused;
    } else {
      EXPECT_EQ(ReadAll(bytes), original) << "byte " << at;
    }
  }
  EXPECT_GE(refused, static_cast<int>(good.size() - subject - 4) - 2);
  // The zlib header and the Adler-32 are always checked.
  for (size_t at : {subject + 4, subject + 5, good.size() - 4, good.size() - 1}) {
    bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    EXPECT_FALSE(Opens(bytes)) << "byte " << at;
  }
}

TEST(FvBookTest, FileThatCannotBeOpenedSaysWhy) {
  CFvwBook book;
  EXPECT_FALSE(book.Open(::testing::TempDir() + "no_such_book.fv"));
  EXPECT_NE(book.error().find("cannot open"), std::string::npos);
  EXPECT_EQ(book.RecordCount(), 0u);
}

}  // namespace
}  // namespace fvx::format
