#include "server/request_target.h"

#include <gtest/gtest.h>

#include "server/file_response.h"
#include "server/html_text.h"
#include "server/page_links.h"

namespace fvx::server {
namespace {

TEST(RequestTarget, SegmentsAndParametersAreDecoded) {
  RequestTarget target;
  ASSERT_TRUE(ParseTarget("/b/atlas/s/12?at=40&w1=sea+shell&w2=%C3%A9t%C3%A9&flag", &target));
  EXPECT_EQ(target.segments, (std::vector<std::string>{"b", "atlas", "s", "12"}));
  EXPECT_FALSE(target.trailing_slash);
  EXPECT_EQ(target.Param("at"), "40");
  EXPECT_EQ(target.Param("w1"), "sea shell");
  EXPECT_EQ(target.Param("w2"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(target.Param("flag"), "");
  EXPECT_EQ(target.Param("none"), std::nullopt);
  ASSERT_TRUE(ParseTarget("/", &target));
  EXPECT_TRUE(target.segments.empty());
  ASSERT_TRUE(ParseTarget("/b/atlas/", &target));
  EXPECT_TRUE(target.trailing_slash);
}

TEST(RequestTarget, WhatCouldReachAFileOrHideANulIsRefused) {
  RequestTarget target;
  for (const char* bad : {"", "b/x", "/b/../etc", "/b/%2e%2e/etc", "/b/%2E%2E", "/b/./x", "/b//x",
                          "/b/a%2fb", "/b/a%5Cb", "/b/x%00", "/b/x?w1=a%00b", "/b/x%0a", "/b/x%zz",
                          "/b/x%4", "/b/x#frag", "/b/x?=1"}) {
    EXPECT_FALSE(ParseTarget(bad, &target)) << bad;
  }
  EXPECT_FALSE(ParseTarget("/b/x?w1=" + std::string(kMaxValueLength + 1, 'a'), &target));
  EXPECT_FALSE(ParseTarget("/" + std::string(kMaxTargetLength, 'a'), &target));
  std::string many = "/b/x?";
  for (size_t k = 0; k <= kMaxParameters; ++k) many += "p=1&";
  EXPECT_FALSE(ParseTarget(many, &target));
  // Dots inside a name are fine.
  EXPECT_TRUE(ParseTarget("/b/x/file/atlas.v2.fvx", &target));
}

TEST(RequestTarget, EncodeRoundTrips) {
  const std::string text = "a b/c?d&e=f%\xC3\xA9";
  EXPECT_EQ(EncodeComponent(text), "a%20b%2Fc%3Fd%26e%3Df%25%C3%A9");
  EXPECT_EQ(DecodeComponent(EncodeComponent(text), false), text);
}

TEST(PageLinks, AppLinksBecomeServerAddressesAndOutsideLinksStay) {
  const std::string page =
      "<a href = \"fvxapp://<0:12:0>\">a</a><a href = \"fvxapp://<0:3:77>\">b</a>"
      "<a href = \"fvxapp://<4:0:0>http://example.com/?q=1&r=2\">c</a>"
      "<a href = \"fvxapp://<5:0:0>436F6C6F7572\">d</a><a href=\"fvxapp://<6:9:0>\">e</a>"
      "<a href = \"fvxapp://<100:1:0>x\">f</a><a href = \"fvxapp://<0:x:0>\">g</a>"
      "<img align=\"center\" src= \"file:///b/atlas/p/4\">";
  EXPECT_EQ(RewriteAppLinks(page, "/b/atlas/"),
            "<a href = \"/b/atlas/s/12\">a</a><a href = \"/b/atlas/s/3?at=77\">b</a>"
            "<a href = \"http://example.com/?q=1&r=2\">c</a>"
            "<a href = \"/b/atlas/list?expr=436F6C6F7572\">d</a><a href=\"/b/atlas/children/9\">e</a>"
            "<a href = \"fvxapp://<100:1:0>x\">f</a><a href = \"fvxapp://<0:x:0>\">g</a>"
            "<img align=\"center\" src= \"/b/atlas/p/4\">");
  EXPECT_EQ(RewriteAppLinks("no links <a href=\"fvxapp://<0:1", "/b/x/"), "no links <a href=\"fvxapp://<0:1");
}

TEST(FileResponse, RangesAsHttpDefinesThem) {
  EXPECT_EQ(ParseRange("bytes=0-9", 100)->length, 10u);
  EXPECT_EQ(ParseRange("bytes=90-", 100)->first, 90u);
  EXPECT_EQ(ParseRange("bytes=90-500", 100)->length, 10u);
  EXPECT_EQ(ParseRange("bytes=-30", 100)->first, 70u);
  EXPECT_EQ(ParseRange("bytes=-300", 100)->length, 100u);
  EXPECT_EQ(ParseRange("bytes=100-", 100)->length, 0u);  // unsatisfiable
  EXPECT_EQ(ParseRange("bytes=-0", 100)->length, 0u);
  for (const char* whole : {"bytes=5-2", "bytes=0-1,5-6", "lines=1-2", "bytes=a-", "bytes=-"}) {
    EXPECT_EQ(ParseRange(whole, 100), std::nullopt) << whole;
  }
}

TEST(FileResponse, ValidatorsDecideBetween200And206And304And412And416) {
  FileFacts facts{1000, "\"abc\"", 1700000000};
  std::map<std::string, std::string> headers;
  HttpRequest request;
  request.header = [&](std::string_view name) -> std::optional<std::string> {
    auto it = headers.find(std::string(name));
    if (it == headers.end()) return std::nullopt;
    return it->second;
  };
  ByteRange part;
  auto status = [&] { return FileResponse(request, facts, "x", &part).status; };
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(part.length, 1000u);
  headers = {{"If-None-Match", "\"zzz\", W/\"abc\""}};
  EXPECT_EQ(status(), 304);
  headers = {{"If-Modified-Since", HttpDate(1700000000)}};
  EXPECT_EQ(status(), 304);
  headers = {{"If-Modified-Since", HttpDate(1600000000)}};
  EXPECT_EQ(status(), 200);
  headers = {{"Range", "bytes=10-19"}};
  EXPECT_EQ(status(), 206);
  EXPECT_EQ(part.first, 10u);
  EXPECT_EQ(part.length, 10u);
  headers = {{"Range", "bytes=10-19"}, {"If-Range", "\"old\""}};
  EXPECT_EQ(status(), 200);  // another version: the whole file
  headers = {{"Range", "bytes=5000-"}};
  EXPECT_EQ(status(), 416);
  headers = {{"Range", "bytes=10-"}, {"If-Match", "\"old\""}};
  EXPECT_EQ(status(), 412);
  headers = {{"Range", "bytes=10-"}, {"If-Match", "\"abc\""}};
  EXPECT_EQ(status(), 206);
  headers = {{"If-Unmodified-Since", HttpDate(1600000000)}};
  EXPECT_EQ(status(), 412);
  headers = {{"If-Unmodified-Since", HttpDate(1700000000)}};
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(ParseHttpDate(HttpDate(1700000000)), 1700000000);
}

TEST(HtmlText, BookTextBecomesUtf8AndBack) {
  EXPECT_EQ(ToUtf8("caf\xE9 \x80", "windows-1252"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(ToUtf8("caf\xE9", ""), "caf\xC3\xA9");
  EXPECT_EQ(ToUtf8("caf\xE9", "no-such-set"), "caf\xC3\xA9");
  EXPECT_EQ(ToUtf8("ok \xC3\xA9 \xFF", "UTF-8"), "ok \xC3\xA9 \xEF\xBF\xBD");
  EXPECT_EQ(FromUtf8("caf\xC3\xA9", "iso-8859-1"), "caf\xE9");
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
  EXPECT_EQ(JsonEscape("a\"\\\n</script>"), "a\\\"\\\\\\u000a\\u003c/script\\u003e");
}

}  // namespace
}  // namespace fvx::server
