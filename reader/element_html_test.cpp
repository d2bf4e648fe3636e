#include "reader/element_html.h"

#include <gtest/gtest.h>

#include <map>

#include "bookformat/testing/test_book.h"

namespace fvx::reader {
namespace {

namespace testing = format::testing;

using testing::Element;
using testing::U32;

class FakePictures : public ElementPictures {
 public:
  std::optional<std::string> PicturePath(uint32_t picture) override {
    auto it = paths.find(picture);
    if (it == paths.end()) return std::nullopt;
    return it->second;
  }
  std::map<uint32_t, std::string> paths;
};

std::string Html(const std::string& stored, ElementPictures* pictures = nullptr) {
  const std::optional<ElementView> view = ReadElement(stored, 0);
  EXPECT_TRUE(view.has_value());
  if (!view) return "<unreadable>";
  EXPECT_EQ(view->size, stored.size());
  std::string out;
  AppendElementHtml(*view, pictures, &out);
  return out;
}

std::string Z(std::string_view text) { return std::string(text) + '\0'; }

TEST(ElementHtml, FixedTagsWriteTheirFragmentAttributesAndClose) {
  const std::pair<uint8_t, const char*> tags[] = {
      {2, "</a>"},   {4, "<b>"},  {5, "</b>"},          {6, "<i>"},    {7, "</i>"},
      {8, "<u>"},    {9, "</u>"}, {10, "<center>"},     {11, "</center>"}, {12, "<p>"},
      {13, "<br>"},  {14, "<hr>"}, {16, "</ul>"},       {18, "</ol>"}, {21, "</font>"},
      {25, "<pre>"}, {26, "</pre>"}};
  for (const auto& [code, html] : tags) EXPECT_EQ(Html(Element(code)), html) << int(code);
  EXPECT_EQ(Html(Element(12, Z("class") + Z("note"))), "<p class=\"note\">");
  // An empty value writes the name alone.
  EXPECT_EQ(Html(Element(12, Z("nowrap") + Z("") + Z("id") + Z("x"))), "<p nowrap id=\"x\">");
  // A name without a value (the payload ends) still counts.
  EXPECT_EQ(Html(Element(4, Z("x"))), "<b x>");
}

TEST(ElementHtml, EntitiesWriteNoAttributesAndNoClose) {
  EXPECT_EQ(Html(Element(27)), "&lt;");
  EXPECT_EQ(Html(Element(28)), "&gt;");
  EXPECT_EQ(Html(Element(29)), "&nbsp;");
  EXPECT_EQ(Html(Element(30)), "&amp;");
  EXPECT_EQ(Html(Element(31, U32(8364))), "&#8364;");
  EXPECT_EQ(Html(Element(32, "eacute")), "&eacute;");
  EXPECT_EQ(Html(Element(255)), "&#255;");
  EXPECT_TRUE(ElementCountsAsCharacter(27));
  EXPECT_TRUE(ElementCountsAsCharacter(31));
  EXPECT_TRUE(ElementCountsAsCharacter(32));
  EXPECT_FALSE(ElementCountsAsCharacter(29));
  EXPECT_FALSE(ElementCountsAsCharacter(4));
}

TEST(ElementHtml, Links) {
  EXPECT_EQ(Html(Element(1, U32(17) + U32(230))), "<a href = \"fvxapp://<0:17:230>\">");
  EXPECT_EQ(Html(Element(1, U32(3) + U32(0) + Z("title") + Z("More"))),
            "<a href = \"fvxapp://<0:3:0>\" title=\"More\">");
  // An unresolved link's start and end write nothing at all.
  EXPECT_EQ(Html(Element(3, std::string(8, '\0'))), "");
  EXPECT_EQ(Html(Element(3)), "");
  EXPECT_EQ(Html(Element(34, Z("http://example.com/a b"))),
            "<a href = \"fvxapp://<4:0:0>http://example.com/a b\">");
  EXPECT_EQ(Html(Element(34, Z("mailto:x@y") + Z("target") + Z("_blank"))),
            "<a href = \"fvxapp://<4:0:0>mailto:x@y\" target=\"_blank\">");
  // Filter text as two upper-case hex digits per byte; 0xE9 stays E9.
  EXPECT_EQ(Html(Element(35, Z("Colour = caf\xE9"))),
            "<a href = \"fvxapp://<5:0:0>436F6C6F7572203D20636166E9\">");
}

TEST(ElementHtml, Lists) {
  EXPECT_EQ(Html(Element(15, "s")), "<ul type=\"s\">");
  EXPECT_EQ(Html(Element(17, "I" + U32(4))), "<ol type=\"I\" start=\"4\">");
  EXPECT_EQ(Html(Element(19, std::string(1, '\0'))), "<li>");
  EXPECT_EQ(Html(Element(19, "\x01" + U32(7))), "<li start=\"7\">");
  EXPECT_EQ(Html(Element(19, "\x02" "a")), "<li type=\"a\">");
  EXPECT_EQ(Html(Element(19, "\x03" + U32(2) + "i")), "<li start=\"2\" type=\"i\">");
}

TEST(ElementHtml, FontSizeCodesAndColours) {
  auto font = [](uint32_t size, uint32_t colour, const std::string& face) {
    return Html(Element(20, U32(size) + U32(colour) + Z(face)));
  };
  EXPECT_EQ(font(0x0F000002, 0xFF000000, ""), "<font size=\"-2\">");  // bit 24: minus
  EXPECT_EQ(font(3, 0xFF000000, ""), "<font size=\"+3\">");            // no high bits: plus
  EXPECT_EQ(font(0xF0000004, 0xFF000000, ""), "<font size=\"4\">");   // bit 28: plain
  EXPECT_EQ(font(0x10000004, 0xFF000000, ""), "<font size=\"4\">");
  EXPECT_EQ(font(0xF0000000, 0xFF000000, ""), "<font>");              // no size
  EXPECT_EQ(font(0, 0x00A0B0C0, "Arial"), "<font face=\"Arial\" color=\"A0B0C0\">");
  EXPECT_EQ(font(0, 0x01000000, ""), "<font>");  // bit 24 set: no colour
  EXPECT_EQ(font(2, 0xFFFFFF, "Times") , "<font face=\"Times\" size=\"+2\" color=\"FFFFFF\">");
}

TEST(ElementHtml, Pictures) {
  FakePictures pictures;
  pictures.paths[2] = "/tmp/fvxtmp_7.png";
  auto img = [&](uint32_t id, uint32_t w, uint32_t h, uint32_t border, uint32_t align,
                 const std::string& rest) {
    return Html(Element(22, U32(id) + U32(w) + U32(h) + U32(border) + U32(align) + rest),
                &pictures);
  };
  EXPECT_EQ(img(2, 100, 50, 1, 1, Z("Earth")),
            "<img src= \"/tmp/fvxtmp_7.png\" width = \"100\" height = \"50\" border = \"1\" "
            "align = \"left\">");
  // No file: the alt text; width and height 0 are left out; border always.
  EXPECT_EQ(img(0xFFFFFFFF, 0, 0, 0, 4, Z("Moon")),
            "<img alt= \"Moon\" border = \"0\" align = \"absmiddle\">");
  EXPECT_EQ(img(2, 0, 20, 0, 8, Z("")),
            "<img src= \"/tmp/fvxtmp_7.png\" height = \"20\" border = \"0\" align = \"bottom\">");
  // Align codes of 9 or more have no align attribute.
  EXPECT_EQ(img(2, 0, 0, 2, 9, Z("") + Z("sketch") + Z("yes")),
            "<img src= \"/tmp/fvxtmp_7.png\" border = \"2\" sketch=\"yes\">");
  EXPECT_EQ(img(2, 0, 0, 0, 0, Z("")), "<img src= \"/tmp/fvxtmp_7.png\" border = \"0\" align = \"center\">");
}

TEST(ElementHtml, UnknownTagsAndTables) {
  EXPECT_EQ(Html(Element(23, Z("table") + Z("border") + Z("1"))),
            "<table class=fvx_background_style  border=\"1\">");
  EXPECT_EQ(Html(Element(23, Z("TaBlE"))), "<TaBlE class=fvx_background_style >");
  EXPECT_EQ(Html(Element(23, Z("td") + Z("colspan") + Z("2"))), "<td colspan=\"2\">");
  EXPECT_EQ(Html(Element(24, "table")), "</table>");
  EXPECT_EQ(Html(Element(24, Z("tr"))), "</tr>");
  // Codes without a fragment: attributes and ">" only.
  EXPECT_EQ(Html(Element(33, Z("a") + Z("b"))), " a=\"b\">");
  EXPECT_EQ(Html(Element(0)), ">");
}

TEST(ElementHtml, OversizedFragmentsAreDroppedWhole) {
  const std::string long_url(600, 'x');
  EXPECT_EQ(Html(Element(34, Z(long_url) + Z("target") + Z("_blank"))), "");
  EXPECT_EQ(Html(Element(34, Z(""))), "");
  EXPECT_EQ(Html(Element(35, Z(""))), "");
  EXPECT_EQ(Html(Element(32, std::string(520, 'n'))), "");
  // Inside a picture only the long piece goes.
  EXPECT_EQ(Html(Element(22, U32(0xFFFFFFFF) + U32(0) + U32(0) + U32(0) + U32(20) +
                                 Z(std::string(600, 'a')))),
            "<img border = \"0\">");
  // A fragment of exactly 511 characters stays.
  const std::string url(511 - std::string("<a href = \"fvxapp://<4:0:0>\"").size(), 'u');
  EXPECT_EQ(Html(Element(34, Z(url))).size(), 512u);
}

TEST(ElementHtml, ShortPayloadsWriteNothing) {
  EXPECT_EQ(Html(Element(1, U32(1))), "");
  EXPECT_EQ(Html(Element(17, "I")), "");
  EXPECT_EQ(Html(Element(20, U32(3))), "");
  EXPECT_EQ(Html(Element(22, U32(1) + U32(2))), "");
  EXPECT_EQ(Html(Element(31, "ab")), "");
  EXPECT_EQ(Html(Element(19, "\x01" "ab")), "");
}

TEST(ElementHtml, ReadElementChecksItsLengthAgainstTheText) {
  const std::string element = Element(4, "abc");
  for (size_t cut = 0; cut < element.size(); ++cut) {
    EXPECT_FALSE(ReadElement(element.substr(0, cut), 0).has_value()) << cut;
  }
  std::string huge = "\xFF\xFF\xFF\xFF\xF0\x04";
  EXPECT_FALSE(ReadElement(huge, 0).has_value());
  EXPECT_EQ(ReadElement(element + "tail", 0)->size, element.size());
}

}  // namespace
}  // namespace fvx::reader
