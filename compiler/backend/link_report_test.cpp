#include "compiler/backend/link_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "compiler/app/book_compiler.h"
#include "compiler/backend/book_writer.h"
#include "compiler/app/testing/compile_for_test.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/file.h"

namespace fvx::compiler {
namespace {

// Line 1..: "Atlas" is linked from three subjects, "Twin" is two subjects,
// "Nowhere" does not exist.
constexpr char kSource[] =
    "<meta> title = \"Links & more\" </meta>\n"     // 1
    "<new>Atlas\n"                                   // 2
    "The atlas itself.\n"                            // 3
    "<new>Borders\n"                                 // 4
    "See <a href=\"Atlas\">the atlas</a>.\n"         // 5
    "And <a href=\"Nowhere\">a lost page</a>.\n"     // 6
    "<new>Coasts\n"                                  // 7
    "Text.\n"                                        // 8
    "More <a href=\"Atlas\" anch=\"top\">atlas</a> and <a href=\"Twin\">the twin</a>.\n"  // 9
    "<new>Twin\n"                                    // 10
    "First twin <a href=\"Atlas\">back</a>.\n"       // 11
    "<new>Twin\n"                                    // 12
    "Second twin.\n"                                 // 13
    "<new>Harbour\n"                                 // 14
    "<a name=\"pier\">One</a> and <a name=\"pier\">two</a>.\n"  // 15
    "<a href=\"Harbour\" anch=\"pier\">to the pier</a>\n";    // 16

struct Compiled {
  testing::CompiledBook files;  // only for its folder
  bool ok = false;
  bool report_ok = false;
  LinkReport report;
};

Compiled CompileWithReport(const std::string& source) {
  Compiled c;
  // A throwaway compile makes the temporary folder.
  c.files = testing::CompileSource("<new>x\n");
  const std::string path = c.files.folder + "/links.txt";
  {
    platform::File file = platform::File::Open(path, platform::File::Mode::kCreateTruncate);
    EXPECT_TRUE(file.IsOpen() && file.Write(source.data(), source.size()));
  }
  RecordingMessageSink messages;
  FixedOptions options;
  CBookWriter writer;
  LinkReportBackEnd report_back_end(writer);
  CBookCompiler compiler(&messages, nullptr, &options);
  compiler.SetBackEnd(&report_back_end);
  CTextSourceReader reader;
  c.ok = compiler.Compile(reader, path, OutputPathFor(path), false);
  c.report_ok = report_back_end.ok();
  c.report = report_back_end.report();
  return c;
}

std::string Heading(const LinkReport& r, int64_t index) {
  return index < 0 ? "-" : r.subjects.at(static_cast<size_t>(index)).heading;
}

TEST(LinkReport, ListsBrokenAmbiguousAndIncomingLinksWithTheirLines) {
  Compiled c = CompileWithReport(kSource);
  ASSERT_TRUE(c.ok);
  ASSERT_TRUE(c.report_ok);
  const LinkReport& r = c.report;
  ASSERT_EQ(r.subjects.size(), 6u);
  EXPECT_EQ(r.title, "Links & more");

  ASSERT_EQ(r.broken.size(), 1u);
  EXPECT_EQ(r.broken[0].href, "Nowhere");
  EXPECT_EQ(r.broken[0].line, 6);
  EXPECT_EQ(Heading(r, r.broken[0].from), "Borders");

  ASSERT_EQ(r.ambiguous.size(), 1u);
  EXPECT_EQ(r.ambiguous[0].link.href, "Twin");
  EXPECT_EQ(r.ambiguous[0].link.line, 9);
  EXPECT_EQ(Heading(r, r.ambiguous[0].link.from), "Coasts");
  ASSERT_EQ(r.ambiguous[0].candidates.size(), 2u);
  EXPECT_EQ(r.subjects[static_cast<size_t>(r.ambiguous[0].candidates[0])].line, 10);
  EXPECT_EQ(r.subjects[static_cast<size_t>(r.ambiguous[0].candidates[1])].line, 12);

  ASSERT_EQ(r.ambiguous_anchors.size(), 1u);
  EXPECT_EQ(r.ambiguous_anchors[0].link.line, 16);
  EXPECT_EQ(Heading(r, r.ambiguous_anchors[0].target), "Harbour");
  ASSERT_EQ(r.ambiguous_anchors[0].anchors.size(), 2u);
  EXPECT_EQ(r.ambiguous_anchors[0].anchors[0].first, 15);
  EXPECT_EQ(r.ambiguous_anchors[0].anchors[1].first, 15);
  EXPECT_LT(r.ambiguous_anchors[0].anchors[0].second, r.ambiguous_anchors[0].anchors[1].second);

  // Atlas from three subjects; the first Twin (the one the link takes) from
  // one; Harbour from itself.
  ASSERT_EQ(r.links_here.size(), 3u);
  EXPECT_EQ(Heading(r, r.links_here[0].target), "Atlas");
  ASSERT_EQ(r.links_here[0].links.size(), 3u);
  EXPECT_EQ(Heading(r, r.links_here[0].links[0].from), "Borders");
  EXPECT_EQ(r.links_here[0].links[0].line, 5);
  EXPECT_EQ(Heading(r, r.links_here[0].links[1].from), "Coasts");
  EXPECT_EQ(r.links_here[0].links[1].line, 9);
  EXPECT_EQ(r.links_here[0].links[1].anchor, "top");
  EXPECT_EQ(Heading(r, r.links_here[0].links[2].from), "Twin");
  EXPECT_EQ(r.links_here[0].links[2].line, 11);
  EXPECT_EQ(r.links_here[1].target, r.ambiguous[0].candidates[0]);
  ASSERT_EQ(r.links_here[1].links.size(), 1u);
  EXPECT_EQ(r.links_here[1].links[0].line, 9);
}

TEST(LinkReport, PageIsSelfContainedAndEscapesTheSourceText) {
  Compiled c = CompileWithReport(kSource);
  ASSERT_TRUE(c.report_ok);
  const std::string page = LinkReportHtml(c.report);
  EXPECT_NE(page.find("<title>Link report: Links &amp; more</title>"), std::string::npos);
  EXPECT_NE(page.find("&quot;Nowhere&quot;"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("<link "), std::string::npos);
  // Exactly one broken row, one ambiguous row with both twins, and Atlas
  // with its three incoming links; the lines as the source has them.
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<tr class=broken>"), 1u);
  EXPECT_NE(page.find("<tr class=broken><td class=line>6:"), std::string::npos);
  EXPECT_EQ(count("<tr class=ambiguous>"), 1u);
  const size_t ambiguous = page.find("<tr class=ambiguous>");
  const std::string row = page.substr(ambiguous, page.find("</tr>", ambiguous) - ambiguous);
  EXPECT_NE(row.find("<td class=line>9:"), std::string::npos) << row;
  EXPECT_NE(row.find("(line 10)"), std::string::npos) << row;
  EXPECT_NE(row.find("(line 12)"), std::string::npos) << row;
  EXPECT_NE(page.find(">Atlas <span class=line>(line 2, 3 links)</span></h3>"), std::string::npos);
  EXPECT_EQ(count("<table class=links-here>"), 3u);
  EXPECT_EQ(count("<tr class=ambiguous-anchor>"), 1u);

  LinkReport hostile;
  hostile.subjects.push_back({"<script>alert(1)</script>", 2, 1});
  hostile.broken.push_back({0, 3, 4, "\"><img src=x>", ""});
  const std::string escaped = LinkReportHtml(hostile);
  EXPECT_EQ(escaped.find("<script>"), std::string::npos);
  EXPECT_EQ(escaped.find("<img"), std::string::npos);

  const std::string path = c.files.folder + "/report.html";
  ASSERT_TRUE(WriteLinkReport(c.report, path));
  std::ifstream in(path);
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(), page);
}

TEST(LinkReport, ABookWithoutLinksHasAnEmptyReport) {
  Compiled c = CompileWithReport("<new>One\nText.\n<new>Two\nMore.\n");
  ASSERT_TRUE(c.ok);
  ASSERT_TRUE(c.report_ok);
  EXPECT_EQ(c.report.subjects.size(), 2u);
  EXPECT_TRUE(c.report.broken.empty());
  EXPECT_TRUE(c.report.ambiguous.empty());
  EXPECT_TRUE(c.report.links_here.empty());
}

}  // namespace
}  // namespace fvx::compiler
