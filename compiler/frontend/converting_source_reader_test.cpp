#include "compiler/frontend/converting_source_reader.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "compiler/frontend/frontend_test_util.h"
#include "compiler/frontend/source_reader_factory.h"

namespace fvx::compiler {
namespace {

using Subjects = std::vector<std::pair<std::string, std::string>>;

std::string FvBytes(const Subjects& subjects, bool compress = false) {
  format::FvBookBuilder builder({"t", 0, compress});
  for (const auto& [heading, text] : subjects) EXPECT_TRUE(builder.Add(heading, text));
  return builder.Finish().value_or("");
}

std::string WriteTempFv(const Subjects& subjects, bool compress = false) {
  std::string path = WriteTempSource(FvBytes(subjects, compress));
  std::string fv = path.substr(0, path.size() - 4) + ".fv";
  EXPECT_EQ(std::rename(path.c_str(), fv.c_str()), 0);
  return fv;
}

// Everything a reader yields, read one character at a time.
std::string ReadAll(CSourceReader& reader) {
  std::string out;
  unsigned char c;
  bool pushed_back;
  while (reader.Read(c, pushed_back)) out.push_back(static_cast<char>(c));
  return out;
}

std::string Converted(std::string_view text) {
  std::string out;
  AppendConvertedText(text, out);
  return out;
}

// The front end over an ".fv" book, as the compile driver runs it.
struct FvRun {
  explicit FvRun(const Subjects& subjects, ProgressSink* progress = nullptr)
      : context(&messages, progress, nullptr) {
    path = WriteTempFv(subjects);
    spill = platform::CreateScratchFile("fvxtest");
    EXPECT_TRUE(db.Open() && db.CreateTables() && db.Begin());
    context.SetRunning(true);
    parser = std::make_unique<CParser>(context, db, spill);
    EXPECT_TRUE(reader.Open(path)) << reader.error();
    parsed = parser->Parse(reader, false) && parser->FinishLastSubject();
    EXPECT_TRUE(db.End());
  }
  ~FvRun() { std::remove(path.c_str()); }

  std::string Text(int n) {
    CSqlQuery q(db);
    if (!q.Query("SELECT TextOffsetL,TextLength FROM tbl_Para WHERE ROWID = %d", n) || !q.Step()) {
      return "<no subject>";
    }
    uint64_t offset = 0, length = 0;
    EXPECT_TRUE(q.ColumnUInt(0, offset) && q.ColumnUInt(1, length));
    std::string text(length, '\0');
    if (length > 0) {
      EXPECT_TRUE(spill.ReadAt(offset, text.data(), length));
    }
    return text;
  }
  std::vector<std::string> Rows(const char* sql) {
    std::vector<std::string> rows;
    CSqlQuery q(db);
    if (!q.Query("%s", sql)) return {"<bad query>"};
    while (q.Step()) {
      std::string row;
      for (int i = 0; i < q.column_count(); ++i) {
        row += (i > 0 ? "|" : "") + std::string(q.ColumnText(i).value_or(""));
      }
      rows.push_back(row);
    }
    return rows;
  }
  std::vector<std::string> Problems() const {
    std::vector<std::string> out;
    for (const auto& [level, text] : messages.lines) {
      if (level != Level::kInformation) out.push_back(LogLine(level, text));
    }
    return out;
  }

  std::string path;
  RecordingMessageSink messages;
  CompileContext context;
  WorkDatabase db;
  platform::File spill;
  CConvertingSourceReader reader;
  std::unique_ptr<CParser> parser;
  bool parsed = false;
};

TEST(ConvertTest, EveryFormattingCodeBecomesItsTagAndOthersVanish) {
  const char* expected[] = {"<b>",
                            "</b>",
                            "<i>",
                            "</i>",
                            "<u>",
                            "</u>",
                            "<HR ALIGN=\"center\" WIDTH=\"100%\">",
                            "<br>",
                            "<p>",
                            "<li>",
                            "<ol>",
                            "</ol>",
                            "<ul>",
                            "</ul>",
                            "<center>",
                            "</center>",
                            "(link)",
                            "</a>",
                            "<strike>",
                            "</strike>",
                            "<sup>",
                            "</sup>",
                            "<sub>",
                            "</sub>"};
  for (int code = 1; code <= 24; ++code) {
    if (code == 17) continue;  // the link takes "b" as its target (below)
    EXPECT_EQ(Converted("a\t" + std::string(1, static_cast<char>(code)) + "b"),
              std::string("a") + expected[code - 1] + "b")
        << "code " << code;
  }
  for (int code : {25, 31, 127, 200, 255}) {
    EXPECT_EQ(Converted("a\t" + std::string(1, static_cast<char>(code)) + "b"), "ab") << code;
  }
  // A code is the byte after the TAB whatever it is (a TAB is code 9), and
  // a TAB at the very end has no code at all.
  EXPECT_EQ(Converted("x\t\t\t\x01y\t"), "x<p><b>y");
  EXPECT_EQ(Converted("plain < text & more"), "plain < text & more");
}

TEST(ConvertTest, LinkTargetEndsAtGreaterThanOrAtTheNextCode) {
  EXPECT_EQ(Converted("see \x09\x11Mars>the planet\x09\x12."),
            "see <a href=\"Mars\">the planet</a>.");
  // Up to a TAB the target stops and the TAB starts the next code.
  EXPECT_EQ(Converted("\x09\x11Mars\x09\x01"
                      "bold"),
            "<a href=\"Mars\"><b>bold");
  EXPECT_EQ(Converted("\x09\x11Mars"), "<a href=\"Mars\">");
  EXPECT_EQ(Converted("\x09\x11>x"), "<a href=\"\">x");
}

TEST(ConvertTest, RecordSourceHasThePreambleOnlyFirstAndEndsAtZeroBytes) {
  std::string out;
  AppendRecordSource(true, "One",
                     "a\t\x01"
                     "b",
                     out);
  AppendRecordSource(false, std::string("Two\0cut", 7), std::string("x\0\t\x01y", 5), out);
  EXPECT_EQ(out, "<meta> skipnewlines=yes </meta>\n<new>One\na<b>b\n<new>Two\nx\n");
  // A zero right after a TAB is the end of the text, not a code.
  out.clear();
  AppendRecordSource(false, "H", std::string("a\t\0b", 4), out);
  EXPECT_EQ(out, "<new>H\na\n");
}

TEST(ConvertingReaderTest, TwoRecordsGiveTheMetaLineOnceThenTwoSubjects) {
  const Subjects subjects = {{"Alpha",
                              "first\t\x01"
                              "bold\t\x02"},
                             {"Beta", "second"}};
  for (bool compress : {false, true}) {
    std::string path = WriteTempFv(subjects, compress);
    CConvertingSourceReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.error();
    EXPECT_EQ(reader.TotalSize(), 2u);
    EXPECT_EQ(ReadAll(reader),
              "<meta> skipnewlines=yes </meta>\n<new>Alpha\nfirst<b>bold</b>\n<new>Beta\nsecond\n");
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.Position(), 2u);
    // Rewind starts over, preamble included.
    ASSERT_TRUE(reader.Rewind());
    EXPECT_EQ(reader.Position(), 0u);
    EXPECT_EQ(ReadAll(reader).substr(0, 6), "<meta>");
    std::remove(path.c_str());
  }
}

TEST(ConvertingReaderTest, PositionsCountRecordsAndOffsetsAcrossPushBackAndRuns) {
  std::string path = WriteTempFv({{"A", "x<y"}, {"B", "z"}});
  CConvertingSourceReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_EQ(reader.Position(), 0u);
  EXPECT_EQ(reader.Line(), 1u);
  EXPECT_EQ(reader.Column(), 0u);
  const size_t preamble = kFvPreamble.size();
  unsigned char c = 0;
  bool pushed = false;
  for (size_t i = 0; i < preamble; ++i) ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_EQ(reader.Position(), 1u);
  std::array<bool, 256> stop{};
  stop['<'] = true;
  std::string run;
  EXPECT_EQ(reader.ReadRun(stop, 100, run), 0u);  // on "<new>"
  ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_EQ(reader.ReadRun(stop, 100, run), 7u);
  EXPECT_EQ(run, "new>A\nx");
  EXPECT_EQ(reader.Column(), preamble + 8);  // on the "<" of "x<y"
  ASSERT_TRUE(reader.Read(c, pushed));
  reader.PushBack();
  EXPECT_EQ(reader.Column(), preamble + 8);
  ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_TRUE(pushed);
  EXPECT_EQ(c, '<');
  // Past the end of record 1 the next character is record 2's first.
  run.clear();
  EXPECT_EQ(reader.ReadRun(stop, 2, run), 2u);  // "y\n"
  EXPECT_EQ(reader.Position(), 1u);
  EXPECT_EQ(reader.Line(), 2u);
  EXPECT_EQ(reader.Column(), 0u);
  // A run stops at record 2's "<new>", which generated it.
  run.clear();
  EXPECT_EQ(reader.ReadRun(stop, 100, run), 0u);
  EXPECT_EQ(reader.Position(), 2u);
  ASSERT_TRUE(reader.Read(c, pushed));
  EXPECT_EQ(reader.ReadRun(stop, 100, run), 8u);
  EXPECT_EQ(run, "new>B\nz\n");
  EXPECT_EQ(reader.Line(), 2u);
  EXPECT_EQ(reader.Column(), 9u);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.Read(c, pushed));
  std::remove(path.c_str());
}

TEST(ConvertingReaderTest, FrontEndStoresWhatTheEquivalentTextSourceGives) {
  std::string all_codes;
  for (int code = 0; code <= 30; ++code) {
    if (code == 17 || code == 0) continue;
    all_codes += "w\t" + std::string(1, static_cast<char>(code));
  }
  const Subjects subjects = {
      {"Codes", all_codes},
      {"Links",
       "go \t\x11"
       "Codes>there\t\x12 now \t\x11"
       "Codes\t\x01x\t\x12\nline two"},
      {"Stop", std::string("kept\0dropped <b>", 16)},
  };
  FvRun fv(subjects);
  ASSERT_TRUE(fv.parsed) << testing::PrintToString(fv.Problems());
  std::string source;
  for (size_t i = 0; i < subjects.size(); ++i) {
    AppendRecordSource(i == 0, subjects[i].first, subjects[i].second, source);
  }
  FrontEndRun txt(source);
  ASSERT_TRUE(txt.parsed);
  EXPECT_EQ(fv.Rows("SELECT ROWID,Heading FROM tbl_Para"),
            (std::vector<std::string>{"1|Codes", "2|Links", "3|Stop"}));
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(fv.Text(n), txt.Text(n)) << "subject " << n;
  EXPECT_EQ(fv.Problems(), std::vector<std::string>{});
  // The tags the front end does not know are kept as unknown tags; the
  // line break of the old text became a space.
  EXPECT_NE(fv.Text(1).find(Element(23, Z("strike")) + "w" + Element(24, "strike")),
            std::string::npos);
  EXPECT_NE(fv.Text(1).find(Element(23, Z("sup"))), std::string::npos);
  EXPECT_NE(fv.Text(1).find(Element(24, "sub")), std::string::npos);
  EXPECT_NE(fv.Text(2).find(Element(4) + "x" + Element(2) + " line two"), std::string::npos);
  EXPECT_EQ(fv.Text(3).find("dropped"), std::string::npos);
}

TEST(ConvertingReaderTest, MessagesGiveTheRecordAndTheOffsetInItsText) {
  // "<new>A < B\n" keeps "<" in the heading; "1 < 2" in a body is no tag.
  FvRun fv({{"A < B", "ok"}, {"Two", "1 < 2"}, {"", "first line\nrest"}});
  ASSERT_TRUE(fv.parsed);
  EXPECT_EQ(fv.Rows("SELECT Heading,Line,Column FROM tbl_Para"),
            (std::vector<std::string>{"A < B|1|" + std::to_string(kFvPreamble.size() + 1),
                                      "Two|2|1", "first line|3|1"}));
  // "<new>Two\n1 < 2": the tag would have started at the space after "<".
  EXPECT_EQ(fv.Problems(),
            std::vector<std::string>{
                "[ Warning ] Line 2 : Col 12 : Malformed tag syntax. Treated as raw text."});
  EXPECT_EQ(fv.Text(2), "1 < 2 ");  // the line break joins as a space
}

TEST(ConvertingReaderTest, ProgressIsCountedInRecords) {
  struct Percents : ProgressSink {
    void Progress(ProgressCode code, uint32_t value) override {
      if (code == ProgressCode::kPercent) values.push_back(value);
    }
    bool Pump() override { return true; }
    std::vector<uint32_t> values;
  } progress;
  Subjects subjects;
  for (int i = 0; i < 4; ++i) subjects.emplace_back("S" + std::to_string(i), "text");
  FvRun fv(subjects, &progress);
  ASSERT_TRUE(fv.parsed);
  ASSERT_FALSE(progress.values.empty());
  for (uint32_t value : progress.values) EXPECT_EQ(value % 25, 0u) << value;
  EXPECT_EQ(progress.values.back(), 100u);
}

TEST(ConvertingReaderTest, DamagedBooksFailToOpenAndYieldNothing) {
  const std::string bytes = FvBytes({{"One", "text"}});
  CConvertingSourceReader reader;
  EXPECT_FALSE(reader.Open(std::make_unique<format::MemoryByteSource>(bytes.substr(0, 90))));
  EXPECT_FALSE(reader.error().empty());
  EXPECT_EQ(reader.TotalSize(), 0u);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(ReadAll(reader), "");
  EXPECT_FALSE(reader.Open(::testing::TempDir() + "missing.fv"));
  ASSERT_TRUE(reader.Open(std::make_unique<format::MemoryByteSource>(bytes)));
  EXPECT_EQ(ReadAll(reader), std::string(kFvPreamble) + "<new>One\ntext\n");
}

TEST(SourceReaderFactoryTest, ExtensionChoosesTheReaderWhateverItsCase) {
  EXPECT_EQ(SourceKindOf("a/b.txt"), SourceKind::kText);
  EXPECT_EQ(SourceKindOf("C:\\books\\OLD.Fv"), SourceKind::kFvBook);
  EXPECT_EQ(SourceKindOf("dir.fv/book"), SourceKind::kUnknown);
  EXPECT_EQ(SourceKindOf("dir.txt\\book"), SourceKind::kUnknown);
  EXPECT_EQ(SourceKindOf("book.fvx"), SourceKind::kUnknown);
  EXPECT_EQ(SourceKindOf("book.doc"), SourceKind::kUnknown);
  EXPECT_NE(dynamic_cast<CConvertingSourceReader*>(MakeSourceReader("x.FV").get()), nullptr);
  EXPECT_NE(dynamic_cast<CTextSourceReader*>(MakeSourceReader("x.TXT").get()), nullptr);
  EXPECT_EQ(MakeSourceReader("x.fvx"), nullptr);
}

}  // namespace
}  // namespace fvx::compiler
