// `fvx download` as scripts run it: the real program against nginx on
// 127.0.0.1, through a proxy that can break transfers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "library/download/testing/fault_proxy.h"
#include "library/download/testing/nginx_server.h"

namespace {

namespace fs = std::filesystem;
using fvx::library::testing::FaultAction;
using fvx::library::testing::FaultProxy;
using fvx::library::testing::HeaderValue;
using fvx::library::testing::NginxServer;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class DownloadCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    folder_ = fs::path(nginx_.root()).parent_path() / "books";
    proxy_ = std::make_unique<FaultProxy>(nginx_.port(), [this](int, const std::string&) {
      return cut_.load() ? FaultAction::CutAfter(1000) : FaultAction::Forward();
    });
    ASSERT_TRUE(proxy_->Start());
  }

  struct Result {
    int exit_code = -1;
    std::string out;
  };

  Result Fvx(const std::vector<std::string>& args) {
    std::string command = FVX_TOOL;
    for (const std::string& arg : args) command += " '" + arg + "'";
    fs::path out = fs::path(nginx_.root()).parent_path() / "out.txt";
    command += " > '" + out.string() + "' 2>&1 < /dev/null";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out)};
  }

  std::string Url(const std::string& name) { return proxy_->Url(name); }

  NginxServer nginx_;
  std::unique_ptr<FaultProxy> proxy_;
  std::atomic<bool> cut_{false};
  fs::path folder_;
};

TEST_F(DownloadCommandTest, SecondRunTransfersNothingAndChangesAreFetched) {
  std::string atlas(200000, 'a'), flora(120000, 'f');
  ASSERT_TRUE(nginx_.PutFile("atlas.fvx", atlas, -3600));
  ASSERT_TRUE(nginx_.PutFile("flora.fvx", flora, -3600));

  Result first = Fvx({"download", Url("atlas.fvx"), Url("flora.fvx"), "--to", folder_.string()});
  EXPECT_EQ(first.exit_code, 0) << first.out;
  EXPECT_NE(first.out.find("atlas.fvx: downloaded, 200000 bytes"), std::string::npos) << first.out;
  EXPECT_EQ(ReadFile(folder_ / "atlas.fvx"), atlas);
  EXPECT_EQ(ReadFile(folder_ / "flora.fvx"), flora);

  size_t before = proxy_->Requests().size();
  Result second = Fvx({"download", Url("atlas.fvx"), Url("flora.fvx"), "--to", folder_.string()});
  EXPECT_EQ(second.exit_code, 0) << second.out;
  EXPECT_NE(second.out.find("atlas.fvx: not modified, kept"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("flora.fvx: not modified, kept"), std::string::npos) << second.out;
  auto requests = proxy_->Requests();
  ASSERT_EQ(requests.size(), before + 2);
  EXPECT_FALSE(HeaderValue(requests.back(), "If-None-Match").empty());
  EXPECT_EQ(ReadFile(folder_ / "atlas.fvx"), atlas);
  EXPECT_FALSE(fs::exists(folder_ / "atlas.fvx.part"));

  std::string new_atlas(210000, 'b');
  ASSERT_TRUE(nginx_.PutFile("atlas.fvx", new_atlas, -60));
  Result third = Fvx({"download", Url("atlas.fvx"), Url("flora.fvx"), "--to", folder_.string()});
  EXPECT_EQ(third.exit_code, 0) << third.out;
  EXPECT_EQ(ReadFile(folder_ / "atlas.fvx"), new_atlas);
}

TEST_F(DownloadCommandTest, BrokenRunIsResumedAndFailuresSetTheExitCode) {
  std::string bytes;
  for (int i = 0; i < 30000; ++i) bytes += std::to_string(i) + ",";
  ASSERT_TRUE(nginx_.PutFile("long.fvx", bytes, -3600));
  std::ofstream(folder_.string() + "-keep.txt") << "";  // nothing outside the folder is touched
  fs::create_directories(folder_);
  std::ofstream(folder_ / "old.fvx") << "an old book";

  cut_ = true;
  Result broken = Fvx({"download", Url("long.fvx"), "--to", folder_.string()});
  EXPECT_EQ(broken.exit_code, 1) << broken.out;
  EXPECT_NE(broken.out.find("gave up after 11 attempts"), std::string::npos) << broken.out;
  EXPECT_EQ(fs::file_size(folder_ / "long.fvx.part"), 11000u);
  EXPECT_FALSE(fs::exists(folder_ / "long.fvx"));

  cut_ = false;
  Result resumed = Fvx({"download", Url("long.fvx"), "--to", folder_.string()});
  EXPECT_EQ(resumed.exit_code, 0) << resumed.out;
  EXPECT_EQ(HeaderValue(proxy_->Requests().back(), "Range"), "bytes=11000-");
  EXPECT_TRUE(ReadFile(folder_ / "long.fvx") == bytes);
  EXPECT_FALSE(fs::exists(folder_ / "long.fvx.part"));

  Result missing = Fvx({"download", Url("missing.fvx"), "--to", folder_.string()});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.out.find("missing.fvx: not found (404)"), std::string::npos) << missing.out;
  EXPECT_FALSE(fs::exists(folder_ / "missing.fvx"));
  EXPECT_EQ(ReadFile(folder_ / "old.fvx"), "an old book");

  EXPECT_EQ(Fvx({"download", "http://127.0.0.1:1/", "--to", folder_.string()}).exit_code, 2);
  EXPECT_EQ(Fvx({"download", Url("a/.."), "--to", folder_.string()}).exit_code, 2);
}

}  // namespace

// The whole road of a book: `fvx catalogue` builds the catalogue, nginx
// serves it, the reader's start-up fetches it, a click on a book link queues
// the book, the downloader fetches it into "Library", the library lists it,
// and a second click opens it without a download.
#include "bookformat/book_id.h"
#include "bookformat/testing/sample_book.h"
#include "library/catalogue.h"
#include "library/downloader_queue.h"
#include "library/library_list.h"
#include "library/library_settings.h"
#include "reader/book_document.h"
#include "reader/picture_files.h"

namespace {

TEST_F(DownloadCommandTest, CatalogueToLibraryEndToEnd) {
  using namespace fvx::library;
  fs::path books = fs::path(nginx_.root()) / "books";
  fs::create_directories(books);
  fvx::format::testing::SampleBookOptions options;
  options.subject_count = 9;
  std::string book_bytes = fvx::format::testing::BuildSampleBook(options).container;
  std::ofstream(books / "Deep_Sea.fvx", std::ios::binary) << book_bytes;
  std::string base = "http://127.0.0.1:" + std::to_string(nginx_.port()) + "/books/";
  Result built = Fvx({"catalogue", books.string(), base, "-o",
                      (fs::path(nginx_.root()) / "Fvx_Lib.fvx").string()});
  ASSERT_EQ(built.exit_code, 0) << built.out;

  fs::path home = fs::path(nginx_.root()).parent_path() / "home";
  fs::create_directories(home);
  fvx::platform::Registry registry((home / "registry.db").string());
  {
    CatalogueUpdater updater(registry, home.string(), nginx_.Url("Fvx_Lib.fvx"), nullptr);
    updater.Start(false);
    for (int i = 0; i < 1000 && updater.manager().IsRunning(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  fvx::reader::BookDocument catalogue;
  fvx::reader::OpenCode code{};
  ASSERT_TRUE(catalogue.Open((home / "Fvx_Lib.fvx").string(), &code));
  ASSERT_EQ(catalogue.SubjectCount(), 2u);
  std::string page;
  fvx::reader::PictureMap pictures(nullptr);
  uint32_t limit = 0;
  ASSERT_TRUE(catalogue.RenderBody(1, 0, false, std::nullopt, &pictures, &page, &limit));
  size_t href = page.find("fvxapp://");
  ASSERT_NE(href, std::string::npos) << page;
  std::string address = page.substr(href, page.find('"', href) - href);
  std::optional<fvx::reader::AppLink> link = fvx::reader::ParseAppLink(address);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->text, base + "Deep_Sea.fvx");

  fs::path library = home / "Library";
  std::string title(catalogue.RowTitle(1));
  LinkAction click = HandleCatalogueLink(registry, *link, true, title, base, library.string());
  ASSERT_EQ(click.kind, LinkAction::Kind::kStartDownloader);

  {
    DownloadManager manager;
    DownloaderQueue queue(registry, manager, library.string());
    manager.SetListener(&queue);
    manager.Start(false);
    EXPECT_EQ(queue.ReadAndQueue(), 1);
    for (int i = 0;
         i < 1000 &&
         !registry.SubKeys(fvx::platform::RegistryRoot::kLocalMachine, DownloadsKey()).empty();
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    manager.Stop();
  }
  LibraryList list(registry);
  list.Load();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.Heading(0), title);
  fvx::reader::BookDocument opened;
  ASSERT_TRUE(opened.Open(list.Path(0), &code));
  EXPECT_EQ(ReadFile(list.Path(0)), book_bytes);

  LinkAction again = HandleCatalogueLink(registry, *link, true, title, base, library.string());
  EXPECT_EQ(again.kind, LinkAction::Kind::kOpenDocument);
  EXPECT_EQ(again.target, list.Path(0));
}

}  // namespace
