#include "compiler/backend/book_writer.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "bookformat/book_verifier.h"
#include "bookformat/coding.h"
#include "compiler/app/testing/compile_for_test.h"
#include "compiler/backend/sort_check.h"
#include "compiler/base/document_properties.h"
#include "platform/file.h"
#include "platform/scratch_file.h"

namespace fvx::compiler {
namespace {

using testing::BookReaderForTest;
using testing::CompiledBook;
using testing::CompileSource;
using testing::TestCompile;
using format::BookCheck;
using format::VerifyBook;

std::string Be32(uint32_t v) {
  std::string out;
  format::PutU32(&out, v);
  return out;
}
std::string Element(uint8_t code, const std::string& payload) {
  return "\xFF" + Be32(static_cast<uint32_t>(payload.size())) + static_cast<char>(code) + payload;
}
std::string ReadFile(const std::string& path) {
  platform::File file = platform::File::Open(path, platform::File::Mode::kRead);
  std::string bytes(static_cast<size_t>(file.Size().value_or(0)), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) return "";
  return bytes;
}
std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}
void ExpectVerifies(const CompiledBook& book) {
  BookCheck check;
  EXPECT_TRUE(VerifyBook(book.book_path, &check)) << check.problem;
}

const char kAtlas[] =
    "<meta> title=\"Test book\" author=\"Tests\" sortfile=no bkcolor=#102030 </meta>\n"
    "<catdef> name=\"Colour\" type=string multiple=yes values=red,green,Blue </catdef>\n"
    "<catdef> name=\"Price\" type=numeric precision=2 </catdef>\n"
    "<selection> name=\"Reds\" query=Colour=red </selection>\n"
    "<new>Zebra\n"
    "A striped animal. See <a href=\"Apple\">apples</a> and <a href=\"Nowhere\">this</a>.\n"
    "<catset> Colour=red,Blue Price=3.5 </catset>\n"
    "<new>Apple\n"
    "A <a name=\"core\">fruit</a>. <b>Bold</b> &amp; more.\n"
    "<catset> Colour=green Price=1 </catset>\n"
    "<new>Mango\n"
    "Link to <a href=\"Apple\" anch=\"core\">the core</a>, <a href=\"http://qqq.example/\">ext</a>.\n";

TEST(BookWriterTest, RoundTripThroughTheReaders) {
  CompiledBook book = CompileSource(kAtlas);
  ASSERT_TRUE(book.ok);
  ExpectVerifies(book);
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(book.book_path));
  const format::BookLayout& layout = reader.layout();
  const format::HeaderSection& header = layout.header;
  EXPECT_EQ(header.version, 1);
  EXPECT_EQ(header.subject_count, 3u);
  EXPECT_EQ(header.stored_sorted, 0);  // sortfile = no: source order with a lookup
  EXPECT_EQ(header.anchor_count, 1u);
  EXPECT_EQ(header.category_count, 2u);
  EXPECT_EQ(header.selection_count, 1u);
  EXPECT_EQ(header.background_colour, 0x102030u);
  EXPECT_EQ(layout.info.title, "Test book");
  EXPECT_EQ(layout.info.author, "Tests");

  // Headings in source order; Apple carries the has-anchors bit.
  bool anchors[3];
  EXPECT_EQ(reader.Heading(0, &anchors[0]), "Zebra");
  EXPECT_EQ(reader.Heading(1, &anchors[1]), "Apple");
  EXPECT_EQ(reader.Heading(2, &anchors[2]), "Mango");
  EXPECT_FALSE(anchors[0]);
  EXPECT_TRUE(anchors[1]);
  EXPECT_FALSE(anchors[2]);

  // Texts: links resolved to stored indexes, an unknown target as code 3.
  const std::string zebra = reader.Text(0);
  EXPECT_NE(zebra.find(Element(1, Be32(1) + Be32(0)) + "apples" + Element(2, "")),
            std::string::npos);
  EXPECT_NE(zebra.find(Element(3, std::string(8, '\0')) + "this" + Element(3, "")),
            std::string::npos);
  const std::string apple = reader.Text(1);
  const std::string mango = reader.Text(2);
  const size_t link = mango.find(Element(1, Be32(1) + Be32(2)));
  ASSERT_NE(link, std::string::npos);  // anchor "core" stands at byte 2 of Apple
  EXPECT_EQ(apple.substr(2, 5), "fruit");
  EXPECT_NE(apple.find(Element(30, "")), std::string::npos);  // &amp;

  // Anchor store: one anchor, "core" at 2, in subject 1.
  const std::string anchor_store = reader.TableStore(layout.headings.anchor_table);
  EXPECT_EQ(reader.U32(anchor_store, 0), 0u);
  EXPECT_EQ(reader.U32(anchor_store, 1), 2u);
  EXPECT_EQ(reader.U32(anchor_store, 2), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(reader.U32(anchor_store, 3 + i), i < 2 ? 0u : 1u);
  EXPECT_EQ(anchor_store.substr(7 * 4, 4), "core");

  // Categories: values in value order (text without regard to case).
  ASSERT_EQ(layout.categories.size(), 2u);
  const format::CategorySection& colour = layout.categories[0];
  EXPECT_EQ(colour.name, "Colour");
  EXPECT_EQ(colour.value_count, 3u);
  const std::string values = reader.TableStore(colour.value_table);
  EXPECT_EQ(values.substr(16, 12), "Bluegreenred");
  EXPECT_EQ(reader.U32(values, 1), 4u);
  const std::string by_value = reader.TableStore(colour.value_to_subjects_table);
  const std::vector<uint32_t> expected_by_value = {0, 1, 2, 3, 0, 1, 0};
  for (size_t i = 0; i < expected_by_value.size(); ++i) {
    EXPECT_EQ(reader.U32(by_value, i), expected_by_value[i]) << i;
  }
  const std::string by_subject = reader.TableStore(colour.subject_to_values_table);
  const std::vector<uint32_t> expected_by_subject = {0, 2, 3, 3, 0, 2, 1};
  for (size_t i = 0; i < expected_by_subject.size(); ++i) {
    EXPECT_EQ(reader.U32(by_subject, i), expected_by_subject[i]) << i;
  }
  const format::CategorySection& price = layout.categories[1];
  EXPECT_TRUE(price.flags & format::CategorySection::kNumeric);
  EXPECT_EQ(price.precision, 2u);
  const std::string prices = reader.TableStore(price.value_table);
  EXPECT_EQ(format::LoadDouble(reinterpret_cast<const uint8_t*>(prices.data())), 1.0);
  EXPECT_EQ(format::LoadDouble(reinterpret_cast<const uint8_t*>(prices.data()) + 8), 3.5);
  const std::string single = reader.TableStore(price.subject_to_values_table);
  EXPECT_EQ(reader.U32(single, 0), 1u);
  EXPECT_EQ(reader.U32(single, 1), 0u);
  EXPECT_EQ(reader.U32(single, 2), 0xFFFFFFFFu);

  // The selection and the sorted lookup.
  ASSERT_EQ(layout.selections.selections.size(), 1u);
  EXPECT_EQ(layout.selections.selections[0].name, "Reds");
  EXPECT_EQ(layout.selections.selections[0].member_count, 1u);
  EXPECT_EQ(reader.U32(reader.TableStore(layout.selections.member_table), 0), 0u);
  ASSERT_TRUE(layout.lookup.has_value());
  EXPECT_EQ(layout.lookup->group_count, 3u);
  const std::string lookup = reader.TableStore(layout.lookup->lookup_table);
  const std::vector<uint32_t> expected_lookup = {0, 1, 2, 3, 1, 2, 0};
  for (size_t i = 0; i < expected_lookup.size(); ++i) {
    EXPECT_EQ(reader.U32(lookup, i), expected_lookup[i]) << i;
  }
  EXPECT_EQ(lookup.substr(28, 9), "AppManZeb");

  // Search index: "str" only in Zebra (segment 0); payloads give no keys.
  ASSERT_TRUE(layout.search_index.has_value());
  const format::SearchIndexSection& index = *layout.search_index;
  EXPECT_EQ(index.segment_count, 8u);
  const std::string data = reader.Store(index.index_table, header.content_block_size);
  const size_t keys_at = (index.segment_count + 1) * 4;
  std::vector<std::string> keys;
  for (uint32_t k = 0; k < index.key_count; ++k) keys.push_back(data.substr(keys_at + 3 * k, 3));
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  auto bits_of = [&](const std::string& key) {
    const auto it = std::find(keys.begin(), keys.end(), key);
    if (it == keys.end()) return -1;
    return static_cast<int>(static_cast<uint8_t>(
        data[keys_at + 3 * keys.size() + static_cast<size_t>(it - keys.begin())]));
  };
  EXPECT_EQ(bits_of("str"), 0x01);
  EXPECT_EQ(bits_of("fru"), 0x02);
  EXPECT_EQ(bits_of("ext"), 0x04);
  EXPECT_EQ(bits_of(std::string("a\0\0", 3)), 0x03);  // "A" folded, a key of its own
  EXPECT_EQ(bits_of("qqq"), -1);
  EXPECT_EQ(bits_of("app"), 0x01);  // "apples", not the link's target

  EXPECT_EQ(book.statistics.subjects, 3u);
  EXPECT_EQ(book.statistics.links_processed, 2u);
  EXPECT_EQ(book.statistics.filters, 1u);
  EXPECT_TRUE(book.Said("Line 6 : Col 55 : Invalid link \" Nowhere\""));
  EXPECT_EQ(book.sort_questions, 0);
}

TEST(BookWriterTest, AnAlreadySortedSourceNeedsNoLookup) {
  // Whether or not sorting was asked for.
  for (const char* meta : {"", "<meta> sortfile=yes </meta>\n", "<meta> sortfile=no </meta>\n"}) {
    CompiledBook book =
        CompileSource(std::string(meta) + "<new>apple\nA.\n<new>Banana\nB.\n<new>cherry\nC.\n");
    ASSERT_TRUE(book.ok) << meta;
    EXPECT_TRUE(book.Said("The file is already sorted.")) << meta;
    EXPECT_TRUE(book.SaidStarting("Automatic sorting").empty()) << meta;
    EXPECT_EQ(book.sort_questions, 0);
    BookReaderForTest reader;
    ASSERT_TRUE(reader.Open(book.book_path));
    EXPECT_EQ(reader.layout().header.stored_sorted, 1) << meta;
    EXPECT_FALSE(reader.layout().lookup.has_value()) << meta;
    EXPECT_EQ(reader.Heading(1), "Banana") << meta;
    ExpectVerifies(book);
  }
}

TEST(BookWriterTest, HeadingsDifferingInCaseKeepSourceOrder) {
  for (const char* source : {"<new>abc\nx\n<new>ABC\ny\n", "<new>ABC\nx\n<new>abc\ny\n"}) {
    CompiledBook book = CompileSource(source);
    ASSERT_TRUE(book.ok);
    EXPECT_TRUE(book.Said("The file is already sorted.")) << source;
    BookReaderForTest reader;
    ASSERT_TRUE(reader.Open(book.book_path));
    EXPECT_EQ(reader.layout().header.stored_sorted, 1);
  }
}

TEST(BookWriterTest, SortFileNoReportsTheCheckAndWritesTheLookup) {
  CompiledBook book =
      CompileSource("<meta> sortfile=no </meta>\n<new>b2\n.\n<new>a1\n.\n<new>c3\n.\n<new>b1\n.\n");
  ASSERT_TRUE(book.ok);
  EXPECT_EQ(book.sort_questions, 0);
  // The failing subject "b2" sorts at position 2 (1-based 3): positions 2 to 4 are listed.
  const auto failed = book.SaidStarting("Sorted test failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0],
            "Sorted test failed at the subject \"b2\" ( Line 2, Col 2 ) - ( Actual position 1, "
            "Sorted position 3 ). Correct sort order is given below.");
  EXPECT_TRUE(book.Said("        ( 2 ). b1 (Line 8, Col 2)"));
  EXPECT_TRUE(book.Said("        ( 3 ). b2 (Line 2, Col 2)"));
  EXPECT_TRUE(book.Said("        ( 4 ). c3 (Line 6, Col 2)"));
  EXPECT_TRUE(book.SaidStarting("Automatic sorting").empty());
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(book.book_path));
  EXPECT_EQ(reader.layout().header.stored_sorted, 0);
  ASSERT_TRUE(reader.layout().lookup.has_value());
  EXPECT_EQ(reader.Heading(0), "b2");
  ExpectVerifies(book);
}

// With sort positions that are a permutation the first misplaced subject
// never sorts first; only a damaged order can fail there. The listing still
// stays inside the positions that exist.
TEST(SortCheckTest, AFailureAtSortPositionZeroListsPositionsZeroToTwo) {
  RecordingMessageSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  context.SetRunning(true);
  WorkDatabase database;
  ASSERT_TRUE(database.Open() && database.CreateTables());
  const char* rows[][2] = {{"first", "0"}, {"second", "0"}, {"third", "1"}, {"fourth", "2"}, {"fifth", "3"}};
  int line = 1;
  for (const auto& row : rows) {
    CSqlQuery insert(database);
    ASSERT_TRUE(insert.Exec("INSERT INTO tbl_Para(Heading,TextOffsetH,TextOffsetL,TextLength,"
                            "SortOrder,Line,Column) VALUES('%q',0,0,0,%s,%d,1)",
                            row[0], row[1], line++));
  }
  CDocumentProperties properties;
  properties.sort_file_given = true;
  SubjectOrder order;
  std::optional<bool> answer;
  ASSERT_TRUE(order.CheckSortOrder(context, database, properties, true, false, &answer));
  EXPECT_FALSE(answer.has_value());
  std::vector<std::string> texts;
  for (const auto& entry : sink.lines) texts.push_back(entry.second);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0], "Sorted test failed at the subject \"second\" ( Line 2, Col 1 ) - ( Actual "
                      "position 2, Sorted position 1 ). Correct sort order is given below.");
  EXPECT_EQ(texts[1], "        ( 1 ). first (Line 1, Col 1)");
  EXPECT_EQ(texts[2], "        ( 1 ). second (Line 2, Col 1)");
  EXPECT_EQ(texts[3], "        ( 2 ). third (Line 3, Col 1)");
  EXPECT_EQ(texts[4], "        ( 3 ). fourth (Line 4, Col 1)");
}

TEST(BookWriterTest, TheUserMaySortAndIsAskedOnce) {
  TestCompile how;
  how.options.sort = true;
  CompiledBook book = CompileSource(
      "<new>Zulu\nTo <a href=\"Alpha\">alpha</a>.\n<new>Alpha\nTo <a href=\"Zulu\">zulu</a>.\n", how);
  ASSERT_TRUE(book.ok);
  EXPECT_EQ(book.sort_questions, 1);
  EXPECT_TRUE(book.Said("Automatic sorting has been enabled by the user. "));
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(book.book_path));
  EXPECT_EQ(reader.layout().header.stored_sorted, 1);
  EXPECT_FALSE(reader.layout().lookup.has_value());
  EXPECT_EQ(reader.Heading(0), "Alpha");
  EXPECT_EQ(reader.Heading(1), "Zulu");
  // Links point at stored (sorted) indexes.
  EXPECT_NE(reader.Text(0).find(Element(1, Be32(1) + Be32(0))), std::string::npos);
  EXPECT_NE(reader.Text(1).find(Element(1, Be32(0) + Be32(0))), std::string::npos);
  ExpectVerifies(book);

  CompiledBook by_source = CompileSource("<meta> sortfile=yes </meta>\n<new>b\n.\n<new>a\n.\n");
  ASSERT_TRUE(by_source.ok);
  EXPECT_EQ(by_source.sort_questions, 0);
  EXPECT_TRUE(by_source.Said("Automatic sorting has been enabled in the source file ( sortfile = yes )"));
}

TEST(BookWriterTest, AmbiguousAndMissingTargets) {
  CompiledBook book = CompileSource(
      "<new>Home\nSee <a href=\"Twin\">twin</a>, <a href=\"Twin\" anch=\"nothere\">n</a>, "
      "<a href=\"Solo\" anch=\"x\">x</a>.\n"
      "<new>Twin\nfirst\n<new>Twin\nsecond\n"
      "<new>Solo\n<a name=\"x\">one</a> <a name=\"x\">two</a>\n");
  ASSERT_TRUE(book.ok);
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(book.book_path));
  const std::string home = reader.Text(0);
  // The duplicate heading resolves to the first "Twin" (stored index 1).
  EXPECT_NE(home.find(Element(1, Be32(1) + Be32(0)) + "twin"), std::string::npos);
  // A missing anchor name stores position 0 without a message.
  EXPECT_NE(home.find(Element(1, Be32(1) + Be32(0)) + "n"), std::string::npos);
  EXPECT_TRUE(book.Said("Line 2 : Col 6 : <a HRef = \"Twin\" ...> Ambiguous subject reference. "
                        "Resolved to First subject \"Twin\" at Line 3 Col 2. Location(s) of "
                        "other subject(s) are given below."));
  EXPECT_EQ(book.SaidStarting("Line 5 : Col 2 : Duplicate subject \"Twin\" has caused an "
                              "ambiguous reference error.")
                .size(),
            2u);
  // Two anchors named "x": the first (at 0) wins, the second is listed.
  EXPECT_NE(home.find(Element(1, Be32(3) + Be32(0)) + "x"), std::string::npos);
  EXPECT_TRUE(book.Said("Line 2 : Col 68 : <a anch = \"x\" ...> Ambiguous anchor reference. "
                        "Resolved to First anchor \"x\" at Line 8 Col 2. Location(s) of other "
                        "Anchor(s) are given below."));
  EXPECT_TRUE(book.Said("Line 8 : Col 22 : Duplicate anchor \"x\" has caused an ambiguous "
                        "reference error."));
  EXPECT_EQ(book.SaidStarting("Line 2 : Col 31 : <a anch").size(), 0u);  // "nothere": silent
  ExpectVerifies(book);
}

TEST(BookWriterTest, FewSubjectsRunOneTrialAndAFixedSegmentationIsReduced) {
  CompiledBook automatic = CompileSource(testing::GeneratedSource(20, 30, 1));
  ASSERT_TRUE(automatic.ok);
  EXPECT_EQ(automatic.SaidStarting("Analyzing text for segmentation").size(), 1u);
  ExpectVerifies(automatic);

  TestCompile how;
  how.options.fixed_segmentation = true;
  how.options.segmentation = 1000;
  CompiledBook fixed = CompileSource(testing::GeneratedSource(20, 30, 1), how);
  ASSERT_TRUE(fixed.ok);
  EXPECT_TRUE(fixed.SaidStarting("Analyzing").empty());
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(fixed.book_path));
  // 1000 is cut to the 20 subjects, rounded up to 24 segments.
  EXPECT_EQ(reader.layout().search_index->segment_count, 24u);
  EXPECT_EQ(fixed.statistics.segmentation, 24u);
}

// A small real corpus whose trials cross the 10 % limit while growing: the
// stage's own trials (measured index sizes, the stream position before 'F')
// must walk the growth and bisection exactly.
TEST(BookWriterTest, AutomaticSegmentationGrowsThenBisects) {
  CompiledBook book = CompileSource(testing::GeneratedSource(300, 10, 5));
  ASSERT_TRUE(book.ok);
  std::vector<std::string> trials;
  for (const std::string& line : book.SaidStarting("Analyzing text for segmentation ")) {
    trials.push_back(line.substr(32));
  }
  // 64 and 128 stay below 10 %, 256 passes it: bisect [128, 256] at 192
  // (over), then 160 (over); [128, 160] is narrower than 64. The result is
  // the last trial's segment count, accepted or not.
  EXPECT_EQ(trials, (std::vector<std::string>{"64...", "128...", "256...", "192...", "160..."}));
  EXPECT_EQ(book.SaidStarting("Segmentation = ").size(), 6u);
  EXPECT_TRUE(book.Said("Segmentation = 104. Overhead = 8.53%. Efficiency = 13%."));
  EXPECT_TRUE(book.Said("Segmentation = 160. Overhead = 11.76%. Efficiency = 26%."));
  EXPECT_TRUE(book.Said("Segmentation = 136. Overhead = 10.63%. Efficiency = 19%."));
  EXPECT_TRUE(book.Said("Segmentation = 136 Selected."));
  // 136 is then the S the index is fed with: its quota fills 112 segments.
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(book.book_path));
  EXPECT_EQ(reader.layout().search_index->segment_count, 112u);
  EXPECT_EQ(book.statistics.segmentation, 112u);
}

TEST(BookWriterTest, HugeFileFromTheStartAndAfterAnOverflow) {
  CompiledBook huge = CompileSource("<meta> hugefile=yes </meta>\n" + std::string(kAtlas + 0).substr(0));
  ASSERT_TRUE(huge.ok);
  EXPECT_TRUE(huge.SaidStarting("Output file exceeds 4GB").empty());
  BookReaderForTest wide;
  ASSERT_TRUE(wide.Open(huge.book_path));
  EXPECT_EQ(wide.layout().header.version, 2);
  EXPECT_EQ(wide.Heading(1), "Apple");
  ExpectVerifies(huge);

  TestCompile how;
  how.writer.narrow_limit = 900;  // as if 900 bytes were 4 GiB
  CompiledBook retried = CompileSource(kAtlas, how);
  ASSERT_TRUE(retried.ok);
  EXPECT_EQ(retried.SaidStarting("Output file exceeds 4GB limit. Rewriting the file with huge "
                                 "file support.")
                .size(),
            1u);
  // The rerun asks nothing again and repeats no sort, selection or link
  // warning, so the tally counts each problem once.
  EXPECT_EQ(retried.SaidStarting("Sorted test failed").size(), 1u);
  EXPECT_EQ(retried.SaidStarting("        ( ").size(), 2u);  // Mango and Zebra
  EXPECT_EQ(retried.SaidStarting("Line 6 : Col 55 : Invalid link").size(), 1u);
  EXPECT_TRUE(retried.Said("1 error(s), 2 warning(s)"));
  BookReaderForTest reader;
  ASSERT_TRUE(reader.Open(retried.book_path));
  EXPECT_EQ(reader.layout().header.version, 2);
  EXPECT_EQ(reader.Heading(0), "Zebra");
  EXPECT_EQ(reader.Text(1), wide.Text(1));
  ExpectVerifies(retried);

  // A text spill file past the limit switches before anything is written.
  TestCompile spill;
  spill.writer.narrow_limit = 100;
  CompiledBook switched = CompileSource(kAtlas, spill);
  ASSERT_TRUE(switched.ok);
  EXPECT_FALSE(switched.SaidStarting("It has been detected that the data being added exceed 4GB "
                                     "limit.")
                   .empty());
  EXPECT_TRUE(switched.SaidStarting("Output file exceeds").empty());
}

TEST(BookWriterTest, OutputIsTheSameForTheSameSourceAndAnyThreadCount) {
  const std::string source = testing::GeneratedSource(400, 60, 7);
  TestCompile one;
  one.writer.worker_threads = 1;
  one.writer.container_time = 1700000000;
  TestCompile two = one;
  two.writer.worker_threads = 2;
  CompiledBook a = CompileSource(source, one);
  CompiledBook b = CompileSource(source, two);
  CompiledBook c = CompileSource(source, two);
  ASSERT_TRUE(a.ok && b.ok && c.ok);
  EXPECT_EQ(ReadFile(a.book_path), ReadFile(b.book_path));
  EXPECT_EQ(ReadFile(b.book_path), ReadFile(c.book_path));
  ExpectVerifies(a);
}

TEST(BookWriterTest, AFailedWrapLeavesTheOldBookInPlace) {
  CompiledBook book = CompileSource(kAtlas);
  ASSERT_TRUE(book.ok);
  const std::string before = ReadFile(book.book_path);
  const std::vector<std::string> files = FilesIn(book.folder);

  RecordingMessageSink sink;
  CompileContext context(&sink, nullptr, nullptr);
  context.SetRunning(true);
  CDocumentProperties properties;
  WorkDatabase database;
  platform::File spill;
  platform::File stream;  // not open: reading it fails halfway through the wrap
  CompileStatistics statistics;
  BookWriteJob job{context, properties, database, spill, stream, "", false, statistics};
  CBookWriter writer;
  EXPECT_FALSE(writer.WrapContainer(job, book.book_path));
  EXPECT_EQ(ReadFile(book.book_path), before);
  EXPECT_EQ(FilesIn(book.folder), files);
  ASSERT_FALSE(sink.lines.empty());
  EXPECT_EQ(sink.lines.back().second.rfind("Could not write the output file. Error No ", 0), 0u);

  // A folder that does not exist cannot take the output at all.
  EXPECT_FALSE(writer.WrapContainer(job, book.folder + "/missing/book.fvx"));
  ASSERT_GE(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[sink.lines.size() - 2].second.rfind(
                "Could not create the output file. Error No ", 0),
            0u);
  EXPECT_EQ(sink.lines.back().second, "     Reason: No such file or directory");
}

// Killed outright in the middle of writing the book (SIGKILL cannot be
// caught): nothing new may be left in the output's folder.
TEST(BookWriterTest, AWrapKilledHalfWayLeavesNoFileBehind) {
  CompiledBook book = CompileSource(kAtlas);
  ASSERT_TRUE(book.ok);
  const std::string before = ReadFile(book.book_path);
  const std::vector<std::string> files = FilesIn(book.folder);

  struct KillingProgress : ProgressSink {
    void Progress(ProgressCode, uint32_t) override {}
    bool Pump() override {
      ::raise(SIGKILL);
      return true;
    }
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    KillingProgress progress;
    CompileContext context(nullptr, &progress, nullptr);
    context.SetRunning(true);
    CDocumentProperties properties;
    WorkDatabase database;
    platform::File spill;
    platform::File stream = platform::CreateScratchFile("fvx");
    const std::string bytes(1 << 20, 'z');
    if (!stream.Write(bytes.data(), bytes.size()) || !stream.Seek(0)) ::_exit(2);
    CompileStatistics statistics;
    BookWriteJob job{context, properties, database, spill, stream, "", false, statistics};
    CBookWriter writer;
    (void)writer.WrapContainer(job, book.book_path);
    ::_exit(3);  // the progress callback never ran
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
  EXPECT_EQ(FilesIn(book.folder), files);
  EXPECT_EQ(ReadFile(book.book_path), before);
}

TEST(BookWriterTest, EveryBookThatCompilesVerifies) {
  // Mangled sources: whatever the front end accepts must give a sound book.
  const std::string base = std::string(kAtlas) + testing::GeneratedSource(12, 20, 3) +
                           "<new>Odd \xE9\xFF\n<a name=\"t\">x</a> \xFF&#65; &lt;<ul type=\"square\">"
                           "<li value=3>i</li></ul><font size=+2 color=red face=\"A\">f</font>"
                           "<img src=\"none.png\" width=3>";
  const char inserts[] = {'<', '>', '&', '"', '=', '/', '\n', '\xFF', 'a', ' '};
  std::mt19937 random(11);
  int compiled = 0;
  for (int round = 0; round < 60; ++round) {
    std::string source = base;
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % source.size();
      switch (random() % 3) {
        case 0: source.insert(source.begin() + static_cast<long>(at), inserts[random() % 10]); break;
        case 1: source.erase(at, 1 + random() % 8); break;
        default: source.resize(at); break;
      }
      if (source.empty()) source = "x";
    }
    CompiledBook book = CompileSource(source);
    if (!book.ok) continue;
    ++compiled;
    BookCheck check;
    EXPECT_TRUE(VerifyBook(book.book_path, &check)) << check.problem << "\nsource:\n" << source;
  }
  EXPECT_GT(compiled, 10);
}

}  // namespace
}  // namespace fvx::compiler
