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
