// The catalogue refresh, catalogue links and the downloader's queue, against
// nginx on 127.0.0.1 with a scratch registry and data folder.
#include "library/catalogue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"
#include "library/catalogue_source.h"
#include "library/download/testing/fault_proxy.h"
#include "library/download/testing/nginx_server.h"
#include "library/downloader_queue.h"
#include "library/library_settings.h"

namespace fvx::library {
namespace {

namespace fs = std::filesystem;
using platform::Registry;
using platform::RegistryRoot;
using testing::FaultAction;
using testing::FaultProxy;
using testing::HeaderValue;
using testing::NginxServer;
constexpr RegistryRoot kLm = RegistryRoot::kLocalMachine;

std::string BookBytes(int subjects) {
  format::testing::SampleBookOptions options;
  options.subject_count = subjects;
  return format::testing::BuildSampleBook(options).container;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitFor(const std::function<bool()>& condition, int seconds = 20) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    home_ = fs::path(nginx_.root()).parent_path() / "home";
    fs::create_directories(home_);
    registry_ = std::make_unique<Registry>((home_ / "registry.db").string());
    proxy_ = std::make_unique<FaultProxy>(nginx_.port(), [this](int, const std::string&) {
      return cuts_left_-- > 0 ? FaultAction::CutAfter(100) : FaultAction::Forward();
    });
    ASSERT_TRUE(proxy_->Start());
  }

  // One reader start: steps 1 to 7, then waits until the refresh is over.
  void StartReader(bool another_reader = false) {
    CatalogueUpdater updater(
        *registry_, home_.string(), proxy_->Url("Fvx_Lib.fvx"), [this] { ++replaced_; },
        [this](const std::string& message) { refusals_.push_back(message); });
    updater.Start(another_reader);
    queued_ = updater.queued();
    ASSERT_TRUE(WaitFor([&] { return !updater.manager().IsRunning(); }));
    updater.Stop();
  }

  NginxServer nginx_;
  std::unique_ptr<FaultProxy> proxy_;
  std::unique_ptr<Registry> registry_;
  fs::path home_;
  std::atomic<int> cuts_left_{0};
  std::atomic<int> replaced_{0};
  std::vector<std::string> refusals_;
  bool queued_ = false;
};

TEST_F(CatalogueTest, StartupSendsValidatorsOnlyForAGoodCatalogue) {
  std::string catalogue = BookBytes(5);
  ASSERT_TRUE(nginx_.PutFile("Fvx_Lib.fvx", catalogue, -3600));

  // First start: nothing stored, one plain request; one break stores the validators.
  cuts_left_ = 1;
  StartReader();
  EXPECT_EQ(replaced_, 1);
  EXPECT_EQ(ReadFile(home_ / "Fvx_Lib.fvx"), catalogue);
  auto requests = proxy_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(HeaderValue(requests[0], "If-None-Match"), "");
  EXPECT_EQ(HeaderValue(requests[0], "Range"), "");
  std::string etag = registry_->ReadString(kLm, LibInfoKey(), "ETag");
  std::string last_modified = registry_->ReadString(kLm, LibInfoKey(), "LastMod");
  EXPECT_FALSE(etag.empty());
  EXPECT_EQ(HeaderValue(requests[1], "If-Match"), etag);

  // A good catalogue and stored validators: asked only if changed; 304 changes nothing.
  StartReader();
  requests = proxy_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(HeaderValue(requests[2], "If-None-Match"), etag);
  EXPECT_EQ(HeaderValue(requests[2], "If-Modified-Since"), last_modified);
  EXPECT_EQ(replaced_, 1);
  EXPECT_EQ(ReadFile(home_ / "Fvx_Lib.fvx"), catalogue);

  // A damaged catalogue and an empty partial file: the validators are dropped.
  std::ofstream(home_ / "Fvx_Lib.fvx") << "damaged";
  std::ofstream(home_ / "Fvx_Lib.fvx.downloading") << "";
  StartReader();
  requests = proxy_->Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(HeaderValue(requests[3], "If-None-Match"), "");
  EXPECT_EQ(ReadFile(home_ / "Fvx_Lib.fvx"), catalogue);

  // A second reader only puts a deferred catalogue in place.
  std::string newer = BookBytes(6);
  std::ofstream(home_ / "Fvx_Lib.finished", std::ios::binary) << newer;
  ReaderInstanceLock first(home_.string());
  ReaderInstanceLock second(home_.string());
  EXPECT_TRUE(first.IsFirst());
  EXPECT_FALSE(second.IsFirst());
  StartReader(!second.IsFirst());
  EXPECT_FALSE(queued_);
  EXPECT_EQ(proxy_->Requests().size(), 4u);
  EXPECT_EQ(ReadFile(home_ / "Fvx_Lib.fvx"), newer);
}

TEST_F(CatalogueTest, ACatalogueThatIsNotABookIsRefused) {
  std::string good = BookBytes(5);
  std::ofstream(home_ / "Fvx_Lib.fvx", std::ios::binary) << good;
  ASSERT_TRUE(nginx_.PutFile("Fvx_Lib.fvx", "<html>an error page</html>", -3600));
  StartReader();
  EXPECT_EQ(replaced_, 0);
  ASSERT_EQ(refusals_.size(), 1u);
  EXPECT_NE(refusals_[0].find("not a book"), std::string::npos);
  EXPECT_EQ(ReadFile(home_ / "Fvx_Lib.fvx"), good);
  EXPECT_FALSE(fs::exists(home_ / "Fvx_Lib.fvx.downloading"));
}

TEST_F(CatalogueTest, LinksOpenLocalCopiesOrQueueDownloads) {
  fs::path library = home_ / "Library";
  fs::create_directories(library);
  const std::string maker = "http://127.0.0.1:9/books/";
  reader::AppLink book{4, 0, 0, maker + "Sea.fvx"};

  LinkAction queued =
      HandleCatalogueLink(*registry_, book, true, "Sea Atlas", maker, library.string());
  EXPECT_EQ(queued.kind, LinkAction::Kind::kStartDownloader);
  std::string entry = DownloadsKey() + "\\" + format::UrlKey(book.text);
  EXPECT_EQ(registry_->ReadString(kLm, entry, "Heading"), "Sea Atlas");
  EXPECT_EQ(registry_->ReadString(kLm, entry, "Url"), book.text);

  // Already in the library: opened, nothing queued.
  registry_->DeleteKey(kLm, entry);
  std::ofstream(library / "Sea_Atlas.fvx") << "book";
  registry_->WriteString(kLm, LocalKey() + "\\" + format::UrlKey(book.text), "FilePath",
                         "Sea_Atlas.fvx");
  LinkAction local =
      HandleCatalogueLink(*registry_, book, true, "Sea Atlas", maker, library.string());
  EXPECT_EQ(local.kind, LinkAction::Kind::kOpenDocument);
  EXPECT_EQ(local.target, (library / "Sea_Atlas.fvx").string());
  EXPECT_FALSE(registry_->KeyExists(kLm, entry));

  // Untitled records still give the download a name.
  reader::AppLink untitled{4, 0, 0, maker + "River_Maps.fvx"};
  HandleCatalogueLink(*registry_, untitled, true, " ", maker, library.string());
  EXPECT_EQ(
      registry_->ReadString(kLm, DownloadsKey() + "\\" + format::UrlKey(untitled.text), "Heading"),
      "River_Maps");

  reader::AppLink web{4, 0, 0, "http://elsewhere.example/"};
  EXPECT_EQ(HandleCatalogueLink(*registry_, web, true, "", maker, library.string()).kind,
            LinkAction::Kind::kOpenExternal);
  EXPECT_EQ(HandleCatalogueLink(*registry_, book, false, "", maker, library.string()).kind,
            LinkAction::Kind::kOpenExternal);

  reader::AppLink file{100, 1, 0, "Sea_Atlas.fvx"};
  EXPECT_EQ(HandleCatalogueLink(*registry_, file, true, "", maker, library.string()).target,
            (library / "Sea_Atlas.fvx").string());
  EXPECT_EQ(HandleCatalogueLink(*registry_, file, false, "", maker, library.string()).kind,
            LinkAction::Kind::kNothing);
  reader::AppLink escape{100, 1, 0, "../registry.db"};
  EXPECT_EQ(HandleCatalogueLink(*registry_, escape, true, "", maker, library.string()).kind,
            LinkAction::Kind::kRefused);

  registry_->WriteString(kLm, LocalKey() + "\\" + format::UrlKey(book.text), "Heading", "Sea");
  EXPECT_EQ(PrepareCatalogueHomePage("<fvxhomeimg src=a><p><fvxhomelocaldata></p>", *registry_),
            "<img src=a><p><UL><LI><A href=\"<100:1:0>Sea_Atlas.fvx\">Sea</A></UL></p>");
}

TEST(CatalogueSourceTest, DownloadLinksStandOnlyOnTheBooksOwnRecords) {
  CatalogueBook plain;
  plain.fileName = "Sea Atlas.fvx";
  plain.title = "Sea Atlas";
  CatalogueBook quoted;
  quoted.fileName = "q.fvx";
  quoted.title = "The \"Best\" <Maps>";
  const std::string source = BuildCatalogueSource({plain, quoted}, "http://h.example/b");
  const std::string home = source.substr(0, source.find("<new>Sea Atlas"));
  // The home page: titles lead to the records, never to a download.
  EXPECT_NE(home.find("<a href=\"Sea Atlas\">Sea Atlas</a>"), std::string::npos);
  EXPECT_NE(home.find("<br>The \"Best\" &lt;Maps&gt;\n"), std::string::npos);
  EXPECT_EQ(home.find("http://h.example/b/"), std::string::npos);
  EXPECT_NE(home.find("<fvxhomelocaldata>"), std::string::npos);
  // Each record carries its own download link.
  EXPECT_NE(source.find("<a href=\"http://h.example/b/Sea%20Atlas.fvx\">Download Sea Atlas</a>"),
            std::string::npos);
  EXPECT_NE(source.find("<a href=\"http://h.example/b/q.fvx\">"), std::string::npos);
}

TEST_F(CatalogueTest, FirstStartOpensTheManualThenTheCatalogue) {
  EXPECT_EQ(FirstStartCommand(*registry_), kCommandOpenManual);
  EXPECT_EQ(registry_->QueryDword(kLm, BaseKey(), "FirstTime"), 0u);
  EXPECT_EQ(FirstStartCommand(*registry_), kCommandOpenCatalogue);
  registry_->WriteDword(kLm, BaseKey(), "FirstTime", 7);
  EXPECT_EQ(FirstStartCommand(*registry_), kCommandOpenManual);
}

class DownloaderQueueTest : public CatalogueTest {
 protected:
  void Queue(const std::string& id, const std::string& heading, const std::string& url) {
    registry_->WriteString(kLm, DownloadsKey() + "\\" + id, "Heading", heading);
    registry_->WriteString(kLm, DownloadsKey() + "\\" + id, "Url", url);
  }
  // One reading of the list, run to the end.
  int RunOnce() {
    DownloadManager manager;
    DownloaderQueue queue(*registry_, manager, (home_ / "Library").string());
    manager.SetListener(&queue);
    manager.Start(false);
    int queued = queue.ReadAndQueue();
    EXPECT_TRUE(WaitFor([&] { return manager.GetActiveCount() + manager.GetPendingCount() == 0; }));
    manager.Stop();
    for (std::string& message : queue.TakeMessages()) messages_.push_back(std::move(message));
    return queued;
  }
  std::vector<std::string> messages_;
};

TEST_F(DownloaderQueueTest, StemsDropWhatNoFileNameMayHold) {
  EXPECT_EQ(DownloadFileStem("A/B: C"), "AB_C");
  EXPECT_EQ(DownloadFileStem("  \\/:?*\"<>| "), "");
  EXPECT_EQ(DownloadFileStem("../.."), "");
  EXPECT_EQ(DownloadFileStem("../../etc/passwd"), "....etcpasswd");
}

TEST_F(DownloaderQueueTest, BooksLandInTheLibraryAndBadEntriesAreRefused) {
  std::string sea = BookBytes(7);
  ASSERT_TRUE(nginx_.PutFile("sea.fvx", sea, -3600));
  ASSERT_TRUE(nginx_.PutFile("junk.fvx", "<html>not a book</html>", -3600));
  fs::path library = home_ / "Library";
  fs::create_directories(library);
  std::string kept = BookBytes(8);
  std::ofstream(library / "Junk.fvx", std::ios::binary) << kept;  // must survive

  Queue("SEA", "Sea: the Atlas", proxy_->Url("sea.fvx"));
  Queue("GONE", "Gone", proxy_->Url("gone.fvx"));
  Queue("JUNK", "Junk", proxy_->Url("junk.fvx"));
  Queue("EMPTY", " / ", proxy_->Url("sea.fvx"));
  ASSERT_TRUE(nginx_.PutFile("escape.fvx", BookBytes(9), -3600));
  Queue("ESCAPE", "/../../outside", proxy_->Url("escape.fvx"));
  Queue("LOCALFILE", "Secrets", "file:///etc/hostname");
  cuts_left_ = 2;  // the first transfers break and are resumed

  EXPECT_EQ(RunOnce(), 4);
  std::string sea_path = (library / "Sea_the_Atlas.fvx").string();
  EXPECT_EQ(ReadFile(sea_path), sea);
  std::string id = *format::BookIdOfFile(sea_path);
  EXPECT_EQ(registry_->ReadString(kLm, FileInfoKey(id), "Heading"), "Sea: the Atlas");
  EXPECT_EQ(registry_->ReadString(kLm, FileInfoKey(id), "Path"), sea_path);
  EXPECT_NE(registry_->ReadDword(kLm, FileInfoKey(id), "CreatedTime"), 0u);
  EXPECT_EQ(registry_->ReadString(kLm, LocalKey() + "\\SEA", "FilePath"), "Sea_the_Atlas.fvx");
  EXPECT_EQ(ReadFile(library / "Junk.fvx"), kept);
  EXPECT_TRUE(fs::exists(library / "....outside.fvx"));
  EXPECT_FALSE(fs::exists(home_ / "outside.fvx"));
  EXPECT_FALSE(fs::exists(library / "Secrets.fvx"));

  // Done, gone and refused-by-content entries leave the list; the ones that
  // cannot be fetched stay, reported once.
  EXPECT_EQ(registry_->SubKeys(kLm, DownloadsKey()),
            (std::vector<std::string>{"EMPTY", "LOCALFILE"}));
  EXPECT_EQ(messages_.size(), 4u);
  RunOnce();
  EXPECT_EQ(messages_.size(), 6u);  // a new queue reports the two again

  // A deferred book is put in place at the next reading, and no job is queued.
  std::ofstream(library / "River.finished", std::ios::binary) << sea;
  Queue("RIVER", "River", proxy_->Url("river.fvx"));
  EXPECT_EQ(RunOnce(), 0);
  EXPECT_EQ(ReadFile(library / "River.fvx"), sea);
  EXPECT_FALSE(fs::exists(library / "River.finished"));
}

}  // namespace
}  // namespace fvx::library
