// The server as a browser meets it: a real listener on a free port of
// 127.0.0.1, requests over HTTP, and the answers held against what the
// fvx commands print for the same book.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "bookformat/testing/test_book.h"
#include "platform/testing/file_contents.h"
#include "server/book_shelf.h"
#include "server/book_site.h"
#include "server/http_listener.h"
#include "server/page_links.h"

namespace fvx::server {
namespace {

using fvx::platform::testing::ReadWholeFile;
using fvx::platform::testing::WriteWholeFile;

namespace testing = format::testing;
using testing::Element;
using testing::U32;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, 'p');
const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(200, 'j');

std::string Picture(uint32_t id) {
  return Element(22, U32(id) + U32(0) + U32(0) + U32(0) + U32(9) + std::string("alt\0", 4));
}

// Links of every kind, pictures, a cover, categories and selections.
testing::TestBookSpec ShelfBook(const std::string& title, int extra_subjects) {
  testing::TestBookSpec spec;
  spec.subjects.push_back({"Alpha", "Alpha goes to " + Element(1, U32(1) + U32(0)) + "Bravo" +
                                        Element(2) + ", to " + Element(1, U32(2) + U32(9)) +
                                        "Charlie's middle" + Element(2) + " and " +
                                        Element(34, std::string("http://example.com/?a=1&b=2\0", 28)) +
                                        "outside" + Element(2) + ". " + Picture(0) +
                                        " The moon river runs here."});
  spec.subjects.push_back({"Bravo", "Bravo sees the moon and the sun. " +
                                        Element(35, std::string("Colour=red\0", 11)) + "Red ones" +
                                        Element(2)});
  spec.subjects.push_back({"Charlie", "Charlie: sun only. " + Picture(1) + " More text after."});
  for (int k = 0; k < extra_subjects; ++k) {
    char heading[32];
    std::snprintf(heading, sizeof heading, "Delta %03d", k);
    spec.subjects.push_back({heading, std::string(k % 3 == 0 ? "A moon " : "A star ") +
                                          "subject number " + std::to_string(k) + " with sun."});
  }
  const uint32_t n = static_cast<uint32_t>(spec.subjects.size());
  testing::TestCategory colour;
  colour.name = "Colour";
  colour.names = {"blue", "green", "red"};
  for (uint32_t s = 0; s < n; ++s) colour.values_of_subject.push_back({s % 3});
  spec.categories.push_back(colour);
  testing::TestSelection odd{"Odd ones", {}};
  for (uint32_t s = 1; s < n; s += 2) odd.members.push_back(s);
  spec.selections.push_back(odd);
  spec.pictures = {{kPng, "", 20, 10}, {kJpeg, "", 20, 10}, {kPng + "cover", "", 40, 60}};
  spec.front_cover = 2;
  spec.front_cover_title = "Cover";
  spec.title = title;
  spec.author = "Test Author";
  return spec;
}

struct Reply {
  long status = 0;
  std::string body;
  mutable std::map<std::string, std::string> headers;  // lower-case names
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* out) {
  const std::string line(data, size * count);
  const size_t colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    (*static_cast<std::map<std::string, std::string>*>(out))[name] = value;
  }
  return size * count;
}

// The program's own output, as a test child.
std::string RunTool(const std::string& arguments, std::string* errors = nullptr) {
  // One file per process: the suite's tests run side by side.
  const std::string error_file =
      ::testing::TempDir() + "fvx_serve_tool_errors_" + std::to_string(::getpid());
  const std::string command = std::string(FVX_TOOL) + " " + arguments + " 2>" + error_file;
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    pclose(pipe);
  }
  if (errors != nullptr) *errors = ReadWholeFile(error_file);
  ::unlink(error_file.c_str());
  return out;
}

// "fvx show" with its picture files named as the server names pictures.
std::string ShownPage(const std::string& arguments, const std::string& base) {
  std::string pictures;
  std::string shown = RunTool("show " + arguments + " --keep-pictures", &pictures);
  std::istringstream lines(pictures);
  for (std::string line; std::getline(lines, line);) {
    unsigned id;
    char path[512];
    if (std::sscanf(line.c_str(), "picture %u: %511s", &id, path) != 2) continue;
    const std::string file = path;
    EXPECT_EQ(ReadWholeFile(file), id == 0 ? kPng : id == 1 ? kJpeg : kPng + "cover");
    for (size_t at; (at = shown.find(file)) != std::string::npos;) {
      shown.replace(at, file.size(), base + "p/" + std::to_string(id));
    }
    ::unlink(file.c_str());
  }
  return shown;
}

class BookServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fvx_serve_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    book_path_ = folder_ + "/shelf.fvx";
    WriteWholeFile(book_path_, testing::BuildTestBook(ShelfBook("The shelf book", 30)));
    WriteWholeFile(folder_ + "/notes.txt", "not a book");
    ShelfOptions options;
    options.documents_per_book = 2;
    shelf_ = std::make_unique<BookShelf>(std::vector<std::string>{folder_}, options);
    site_ = std::make_unique<BookSite>(shelf_.get());
    ListenerOptions listen;
    listen.port = 0;
    listen.threads = 2;
    std::string error;
    ASSERT_TRUE(listener_.Start(listen, [this](const HttpRequest& r) { return site_->Handle(r); }, &error))
        << error;
    base_ = "http://127.0.0.1:" + std::to_string(listener_.port());
  }

  void TearDown() override {
    listener_.Stop();
    site_.reset();
    shelf_.reset();
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  Reply Get(const std::string& target, const std::vector<std::string>& headers = {},
            const char* method = "GET") const {
    Reply reply;
    CURL* curl = curl_easy_init();
    const std::string url = base_ + target;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);  // send "/../" as it is
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    if (std::string(method) == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_slist* list = nullptr;
    for (const std::string& h : headers) list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    EXPECT_EQ(curl_easy_perform(curl), CURLE_OK) << target;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
  }

  std::string folder_, book_path_, base_;
  std::unique_ptr<BookShelf> shelf_;
  std::unique_ptr<BookSite> site_;
  HttpListener listener_;
};

// The subjects the server's result list links, in order.
std::string ListedSubjects(const std::string& html) {
  std::string out;
  static const std::regex kItem("<li data-subject=\"([0-9]+)\">");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), kItem); it != std::sregex_iterator(); ++it) {
    out += (*it)[1].str() + "\n";
  }
  return out;
}

std::string FirstColumn(const std::string& lines) {
  std::string out;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) out += line.substr(0, line.find('\t')) + "\n";
  return out;
}

TEST_F(BookServerTest, LibraryPageListsTheBooksWithTheirCoversAndNothingElse) {
  const Reply reply = Get("/");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.headers["content-type"], "text/html; charset=utf-8");
  EXPECT_NE(reply.body.find("The shelf book"), std::string::npos);
  EXPECT_NE(reply.body.find("Test Author"), std::string::npos);
  EXPECT_NE(reply.body.find("33 subjects"), std::string::npos);
  EXPECT_NE(reply.body.find("<img alt=\"\" src=\"/b/shelf/p/2?small=1\">"), std::string::npos);
  EXPECT_EQ(reply.body.find("notes"), std::string::npos);
  const Reply css = Get("/style.css");
  EXPECT_EQ(css.headers["content-type"], "text/css; charset=utf-8");
  EXPECT_NE(css.body.find("@media (max-width:600px)"), std::string::npos);
}

TEST_F(BookServerTest, PagesAgreeWithFvxShowApartFromTheirLinks) {
  for (const std::string& which : {std::string("0"), std::string("1"), std::string("2"),
                                   std::string("front")}) {
    const std::string shown = ShownPage(
        book_path_ + (which == "front" ? " --cover front" : " " + which + " --html"), "/b/shelf/");
    ASSERT_FALSE(shown.empty()) << which;
    const Reply reply = Get("/b/shelf/page/" + which);
    ASSERT_EQ(reply.status, 200) << which;
    EXPECT_EQ(reply.headers["content-type"], "text/html; charset=windows-1252");
    EXPECT_EQ(reply.body, RewriteAppLinks(shown, "/b/shelf/")) << which;
    EXPECT_EQ(reply.body.find("fvxapp:"), std::string::npos) << which;
  }
  const Reply alpha = Get("/b/shelf/page/0");
  EXPECT_NE(alpha.body.find("<a href = \"/b/shelf/s/1\">Bravo"), std::string::npos);
  EXPECT_NE(alpha.body.find("<a href = \"/b/shelf/s/2?at=9\">"), std::string::npos);
  EXPECT_NE(alpha.body.find("<a href = \"http://example.com/?a=1&b=2\">outside"), std::string::npos);
  EXPECT_NE(alpha.body.find("<img src= \"/b/shelf/p/0\""), std::string::npos);
  EXPECT_NE(Get("/b/shelf/page/1").body.find("/b/shelf/list?expr="), std::string::npos);
  // A jump and highlights, as fvx show --jump / --highlight make them.
  EXPECT_EQ(Get("/b/shelf/page/2?at=9").body, RewriteAppLinks(ShownPage(book_path_ + " 2 --html --jump 9", "/b/shelf/"), "/b/shelf/"));
  const Reply lit = Get("/b/shelf/page/1?w1=moon&w2=sun");
  EXPECT_EQ(lit.body, RewriteAppLinks(ShownPage(book_path_ + " 1 --html --highlight moon sun", "/b/shelf/"), "/b/shelf/"));
  EXPECT_NE(lit.body.find("findloc"), std::string::npos);
}

TEST_F(BookServerTest, PicturesComeWithTheirBytesAndTypes) {
  Reply png = Get("/b/shelf/p/0");
  EXPECT_EQ(png.status, 200);
  EXPECT_EQ(png.headers["content-type"], "image/png");
  EXPECT_EQ(png.body, kPng);
  Reply jpeg = Get("/b/shelf/p/1");
  EXPECT_EQ(jpeg.headers["content-type"], "image/jpeg");
  EXPECT_EQ(jpeg.body, kJpeg);
  EXPECT_EQ(Get("/b/shelf/p/3").status, 404);
  EXPECT_EQ(Get("/b/shelf/p/-1").status, 404);
  EXPECT_EQ(Get("/b/shelf/p/99999999999").status, 404);
  EXPECT_EQ(Get("/b/shelf/p/0?small=2").status, 400);
  EXPECT_EQ(Get("/b/shelf/p/0?small=1").body, kPng);  // no small version kept: the full one
}

TEST_F(BookServerTest, SearchListsWhatFvxSearchFinds) {
  const std::vector<std::pair<std::string, std::string>> queries = {
      {"w1=moon", "moon"},
      {"w1=moon&w2=sun", "moon sun"},
      {"w1=moon&w2=star&op2=or", "moon star --or2"},
      {"w1=Delta&headings=1", "Delta --headings"},
      {"w1=MOON&case=1", "MOON --case"},
      {"w1=oon&substring=1", "oon --substring"},
  };
  for (const auto& [params, words] : queries) {
    const Reply reply = Get("/b/shelf/search?" + params);
    ASSERT_EQ(reply.status, 200) << params;
    EXPECT_EQ(ListedSubjects(reply.body), FirstColumn(RunTool("search " + book_path_ + " " + words + " --all")))
        << params;
  }
  // One line of context per result, the hit marked.
  const Reply moon = Get("/b/shelf/search?w1=river");
  EXPECT_NE(moon.body.find("<div class=\"context\">Alpha goes to Bravo, to Charlie&#39;s middle and "
                           "outside. The moon <mark>river</mark> runs here.</div>"),
            std::string::npos)
      << moon.body;
  EXPECT_NE(moon.body.find("href=\"/b/shelf/s/0?w1=river\""), std::string::npos);
  // A page further on: the rest of the list.
  const Reply sun = Get("/b/shelf/search?w1=sun&from=30");
  EXPECT_EQ(ListedSubjects(sun.body), "31\n32\n");  // Bravo, Charlie and the 30 Deltas
  EXPECT_NE(sun.body.find("rel=\"prev\""), std::string::npos);
  EXPECT_EQ(Get("/b/shelf/search?w1=sun&op2=xor").status, 400);
  EXPECT_EQ(Get("/b/shelf/search?w1=" + std::string(201, 'a')).status, 400);
}

TEST_F(BookServerTest, HeadingBoxListsAndCategoriesFollowTheEngine) {
  const Reply lookup = Get("/b/shelf/lookup?q=del");
  EXPECT_EQ(lookup.headers["content-type"], "application/json");
  // Row 0 is the front cover, so Delta 000 (subject 3) is row 4.
  EXPECT_EQ(lookup.body.rfind("{\"row\":4,\"rows\":[{\"row\":4,\"subject\":3,\"title\":\"Delta 000\","
                              "\"href\":\"/b/shelf/s/3\"}",
                              0),
            0u)
      << lookup.body;
  EXPECT_NE(Get("/b/shelf/lookup?q=").body.find("\"title\":\"Cover\",\"href\":\"/b/shelf/s/front\""),
            std::string::npos);
  const Reply list = Get("/b/shelf/");
  EXPECT_NE(list.body.find("id=\"heading\""), std::string::npos);
  EXPECT_NE(list.body.find("<a href=\"/b/shelf/s/0\">Alpha</a>"), std::string::npos);
  EXPECT_EQ(Get("/b/shelf").status, 301);
  const Reply categories = Get("/b/shelf/categories");
  EXPECT_NE(categories.body.find("Colour"), std::string::npos);
  // Row 0 holds the selections; value "red" (2) of the Colour row: every
  // third subject from 2.
  EXPECT_NE(categories.body.find("/b/shelf/list?row=0&amp;value=0\">Odd ones</a>"), std::string::npos);
  EXPECT_NE(categories.body.find("/b/shelf/list?row=1&amp;value=2\">red</a>"), std::string::npos);
  EXPECT_EQ(ListedSubjects(Get("/b/shelf/list?row=0&value=0").body).substr(0, 6), "1\n3\n5\n");
  const Reply red = Get("/b/shelf/list?row=1&value=2");
  ASSERT_EQ(red.status, 200) << red.body;
  std::string expected;
  for (int s = 2; s < 33; s += 3) expected += std::to_string(s) + "\n";
  EXPECT_EQ(ListedSubjects(red.body), expected);
  const Reply odd = Get("/b/shelf/list?selection=0");
  EXPECT_EQ(ListedSubjects(odd.body).substr(0, 6), "1\n3\n5\n");
  EXPECT_EQ(Get("/b/shelf/list?selection=5").status, 404);
  // The filter link of subject 1's page ("Colour=red") lists what the engine filters.
  const std::string page = Get("/b/shelf/page/1").body;
  const size_t link = page.find("/b/shelf/list?expr=");
  ASSERT_NE(link, std::string::npos);
  const Reply filtered = Get(page.substr(link, page.find('"', link) - link));
  EXPECT_EQ(filtered.status, 200) << filtered.body;
  EXPECT_EQ(ListedSubjects(filtered.body), expected);
  EXPECT_EQ(Get("/b/shelf/list?row=0").status, 400);
  EXPECT_EQ(Get("/b/shelf/list?expr=zz").status, 400);
  const Reply frame = Get("/b/shelf/s/1?w1=moon");
  EXPECT_NE(frame.body.find("src=\"/b/shelf/page/1?w1=moon\""), std::string::npos);
  EXPECT_NE(frame.body.find("rel=\"prev\" href=\"/b/shelf/s/0\""), std::string::npos);
  EXPECT_EQ(Get("/b/shelf/s/33").status, 404);
  EXPECT_EQ(Get("/b/shelf/s/back").status, 404);
}

TEST_F(BookServerTest, BookFileDownloadsResumesAndRevalidates) {
  const std::string bytes = ReadWholeFile(book_path_);
  const Reply whole = Get("/b/shelf/file/shelf.fvx");
  ASSERT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, bytes);
  EXPECT_EQ(whole.headers["content-type"], "application/x-fvx");
  EXPECT_EQ(whole.headers["accept-ranges"], "bytes");
  const std::string etag = whole.headers["etag"];
  ASSERT_FALSE(etag.empty());
  const Reply rest = Get("/b/shelf/file/shelf.fvx", {"Range: bytes=100-", "If-Range: " + etag});
  EXPECT_EQ(rest.status, 206);
  EXPECT_EQ(rest.body, bytes.substr(100));
  EXPECT_EQ(rest.headers["content-range"],
            "bytes 100-" + std::to_string(bytes.size() - 1) + "/" + std::to_string(bytes.size()));
  EXPECT_EQ(Get("/b/shelf/file/shelf.fvx", {"If-None-Match: " + etag}).status, 304);
  EXPECT_EQ(Get("/b/shelf/file/shelf.fvx", {"If-Modified-Since: " + whole.headers["last-modified"]}).status, 304);
  EXPECT_EQ(Get("/b/shelf/file/shelf.fvx", {"Range: bytes=99999999-"}).status, 416);
  const Reply head = Get("/b/shelf/file", {}, "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers["content-length"], std::to_string(bytes.size()));
  EXPECT_EQ(Get("/b/shelf/file/other.fvx").status, 404);
}

TEST_F(BookServerTest, OpdsFeedHasAnEntryWithAnAcquisitionLinkPerBook) {
  const Reply feed = Get("/opds");
  EXPECT_EQ(feed.status, 200);
  EXPECT_EQ(feed.headers["content-type"].rfind("application/atom+xml;profile=opds-catalog;kind=acquisition", 0), 0u);
  const std::string& xml = feed.body;
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"", 0), 0u);
  // Atom's required elements: the feed's id, title and updated, and each
  // entry's; every element closed in order.
  std::vector<std::string> open;
  static const std::regex kTag("<(/?)([a-zA-Z:]+)[^>]*?(/?)>");
  std::map<std::string, int> count;
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), kTag); it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[2];
    if ((*it)[1] == "/") {
      ASSERT_FALSE(open.empty());
      EXPECT_EQ(open.back(), name);
      open.pop_back();
    } else if ((*it)[3] != "/") {
      open.push_back(name);
      ++count[(open.size() > 1 ? open[open.size() - 2] + ">" : "") + name];
    } else {
      ++count[open.back() + ">" + name];
    }
  }
  EXPECT_TRUE(open.empty());
  EXPECT_EQ(count["feed>id"], 1);
  EXPECT_EQ(count["feed>title"], 1);
  EXPECT_EQ(count["feed>updated"], 1);
  EXPECT_EQ(count["feed>entry"], 1);
  EXPECT_EQ(count["entry>id"], 1);
  EXPECT_EQ(count["entry>title"], 1);
  EXPECT_EQ(count["entry>updated"], 1);
  EXPECT_NE(xml.find("<link rel=\"http://opds-spec.org/acquisition\" href=\"/b/shelf/file/shelf.fvx\" "
                     "type=\"application/x-fvx\" length=\"" + std::to_string(ReadWholeFile(book_path_).size()) + "\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<link rel=\"http://opds-spec.org/image\" href=\"/b/shelf/p/2\"/>"), std::string::npos);
}

TEST_F(BookServerTest, BadAddressesAnswer400Or404AndNeverReachAFile) {
  for (const char* target : {"/b/shelf/../../etc/passwd", "/b/%2e%2e/%2e%2e/etc/passwd",
                             "/b/shelf/%2E%2E/shelf/file", "/b/shelf/s/1%00", "/b/shelf%00/",
                             "/b/shelf/file/..%2fshelf.fvx", "//etc/passwd", "/b/shelf/file/..", "/b/shelf/s/0?w1=a%00b"}) {
    const Reply reply = Get(target);
    EXPECT_TRUE(reply.status == 400 || reply.status == 404) << target << " " << reply.status;
    EXPECT_EQ(reply.body.find("root:"), std::string::npos);
  }
  for (const char* target : {"/etc/passwd", "/b/", "/b/nothing/", "/b/shelf/s/", "/b/shelf/x/y/z", "/tmp", "/b/notes/"}) {
    EXPECT_EQ(Get(target).status, 404) << target;
  }
  EXPECT_EQ(Get("/b/shelf/search?w1=" + std::string(10000, 'x')).status, 400);
  EXPECT_EQ(Get("/b/shelf/lookup?q=" + std::string(10000, 'x')).status, 400);
  EXPECT_EQ(Get("/b/shelf/s/1?at=12x").status, 400);
  EXPECT_EQ(Get("/", {}, "POST").status, 405);
  EXPECT_EQ(Get("/", {}, "DELETE").status, 405);
  // Still serving.
  EXPECT_EQ(Get("/b/shelf/s/1").status, 200);
}

// The watched folder, scan by scan (the watcher thread runs the same scan).
TEST_F(BookServerTest, NewReplacedAndRemovedBooksShowOnlyOnceWhole) {
  const std::string second = testing::BuildTestBook(ShelfBook("Second book", 3));
  const std::string path = folder_ + "/second.fvx";
  // Half a book: not served, neither while it grows nor once it holds still.
  WriteWholeFile(path, second.substr(0, second.size() / 2));
  shelf_->Rescan();
  EXPECT_EQ(Get("/b/second/").status, 404);
  shelf_->Rescan();
  EXPECT_EQ(Get("/b/second/").status, 404);
  // Whole: served from the second scan that sees it unchanged.
  WriteWholeFile(path, second);
  ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  shelf_->Rescan();
  EXPECT_EQ(Get("/b/second/").status, 404);
  shelf_->Rescan();
  EXPECT_EQ(Get("/b/second/").status, 200);
  EXPECT_NE(Get("/").body.find("Second book"), std::string::npos);
  // Replaced by renaming a new version over it: same address, new book.
  const std::string third = testing::BuildTestBook(ShelfBook("Second, new edition", 5));
  WriteWholeFile(folder_ + "/.incoming", third);
  ASSERT_EQ(::rename((folder_ + "/.incoming").c_str(), path.c_str()), 0);
  shelf_->Rescan();
  EXPECT_NE(Get("/b/second/").body.find("Second book"), std::string::npos);  // old until settled
  shelf_->Rescan();
  const Reply replaced = Get("/b/second/");
  EXPECT_NE(replaced.body.find("Second, new edition"), std::string::npos);
  EXPECT_EQ(Get("/b/second/file/second.fvx").body, third);
  // Removed.
  ::unlink(path.c_str());
  shelf_->Rescan();
  EXPECT_EQ(Get("/b/second/").status, 404);
  EXPECT_EQ(Get("/b/shelf/").status, 200);
}

// A tree book: the children of a subject, as the engine's tree lists them.
TEST_F(BookServerTest, ChildrenOfATreeBookSubject) {
  testing::TestBookSpec spec;
  spec.subjects = {{"Animals", "", false}, {"Cats", "", false}, {"Lions", "", false},
                   {"Plants", "", false}, {"Tigers", "", false}};
  testing::TestCategory tree;
  tree.name = "FvxChildOf";
  tree.flags = 0x8;  // internal
  tree.names = {"Animals", "Cats", "root"};
  tree.values_of_subject = {{2}, {0}, {1}, {2}, {1}};
  spec.categories = {tree};
  WriteWholeFile(folder_ + "/tree.fvx", testing::BuildTestBook(spec));
  shelf_->Rescan();
  shelf_->Rescan();
  const Reply cats = Get("/b/tree/children/1");
  ASSERT_EQ(cats.status, 200);
  EXPECT_EQ(ListedSubjects(cats.body), "2\n4\n");
  EXPECT_EQ(Get("/b/tree/children/2").status, 404);  // Lions have none
  EXPECT_NE(Get("/b/tree/s/1").body.find("href=\"/b/tree/children/1\">2 under this subject</a>"),
            std::string::npos);
  EXPECT_EQ(Get("/b/tree/s/2").body.find("class=\"children\""), std::string::npos);
  EXPECT_EQ(Get("/b/tree/children/9").status, 404);
  // The subject list is every subject, not a tree level.
  EXPECT_NE(Get("/b/tree/").body.find("<a href=\"/b/tree/s/4\">Tigers</a>"), std::string::npos);
}

int Connect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

// Whether the server closes the connection within the time (a read gives
// the end of the stream, or a reset).
bool ClosedWithin(int fd, int milliseconds) {
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, milliseconds) <= 0) return false;
  char byte;
  return recv(fd, &byte, 1, 0) <= 0;
}

// Idle clients cannot hold the server: a cap on connections, and a timeout.
TEST(BookServerLimits, ClientsBeyondTheCapWaitAndIdleOnesTimeOut) {
  BookShelf shelf({}, ShelfOptions{});
  BookSite site(&shelf);
  HttpListener listener;
  ListenerOptions options;
  options.threads = 1;  // the cap is shared out among the threads
  options.port = 0;
  options.connection_limit = 2;
  options.timeout_seconds = 2;
  std::string error;
  ASSERT_TRUE(listener.Start(options, [&](const HttpRequest& r) { return site.Handle(r); }, &error));
  const int first = Connect(listener.port());
  const int second = Connect(listener.port());
  usleep(200 * 1000);
  // At the cap the server accepts no more: a third client waits its turn.
  const int third = Connect(listener.port());
  const std::string get = "GET /style.css HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(send(third, get.data(), get.size(), 0), static_cast<ssize_t>(get.size()));
  pollfd entry{third, POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 500), 0);
  close(first);
  EXPECT_EQ(poll(&entry, 1, 3000), 1);
  char reply[16] = {};
  EXPECT_GT(recv(third, reply, sizeof reply - 1, 0), 0);
  EXPECT_EQ(std::string(reply).substr(0, 12), "HTTP/1.1 200");
  // An idle client is let go after the timeout (checked about every second).
  EXPECT_TRUE(ClosedWithin(second, 5000));
  for (const int fd : {second, third}) close(fd);
}

// The command itself: starts on a free port, serves, stops on SIGTERM.
TEST_F(BookServerTest, FvxServeRunsUntilTerminated) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(FVX_TOOL, FVX_TOOL, "serve", book_path_.c_str(), "--port", "0", "--threads", "2",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  std::smatch port;
  ASSERT_TRUE(std::regex_search(line, port, std::regex("127\\.0\\.0\\.1:([0-9]+)/"))) << line;
  const std::string saved = base_;
  base_ = "http://127.0.0.1:" + port[1].str();
  const Reply library = Get("/");
  EXPECT_NE(library.body.find("The shelf book"), std::string::npos);
  // The library's download engine fetches from it like from any web server.
  const std::string into = folder_ + "/downloaded";
  ::mkdir(into.c_str(), 0700);
  std::string errors;
  RunTool("download " + base_ + "/b/shelf/file/shelf.fvx --to " + into, &errors);
  EXPECT_EQ(ReadWholeFile(into + "/shelf.fvx"), ReadWholeFile(book_path_)) << errors;
  base_ = saved;
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace fvx::server
