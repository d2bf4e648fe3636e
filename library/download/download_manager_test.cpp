// The engine against nginx on 127.0.0.1, with a misbehaving proxy in between
// where a test needs a broken transfer or a wrong answer.
#include "library/download/download_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include "library/download/testing/fault_proxy.h"
#include "library/download/testing/nginx_server.h"

namespace fvx::library {
namespace {

using testing::FaultAction;
using testing::FaultProxy;
using testing::HeaderValue;
using testing::NginxServer;
using Kind = DownloadOutcome::Kind;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

// Records every notification; removes the partial file on OnFailed as the
// programs' listeners do.
class RecordingListener : public DownloadListener {
 public:
  struct Ended {
    std::string id;
    DownloadOutcome outcome;
    DownloadJob job;
  };

  void OnQueueChanged(bool) override {}
  void OnCompleted(const DownloadJob& job) override { Record("completed " + job.id); }
  void OnFailed(const DownloadJob& job) override {
    std::remove(job.path.c_str());
    Record("failed " + job.id);
  }
  void OnNotFound(const DownloadJob& job) override { Record("notfound " + job.id); }
  void OnInterrupted(const DownloadJob& job) override {
    std::lock_guard lock(mutex_);
    ++interruptions_;
    last_interrupted_ = job;
  }
  void OnJobEnded(const DownloadJob& job, const DownloadOutcome& outcome) override {
    std::lock_guard lock(mutex_);
    ended_.push_back({job.id, outcome, job});
    changed_.notify_all();
  }

  bool WaitForEnded(size_t count, int seconds = 20) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds),
                             [&] { return ended_.size() >= count; });
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<Ended> EndedJobs() {
    std::lock_guard lock(mutex_);
    return ended_;
  }
  int Interruptions() {
    std::lock_guard lock(mutex_);
    return interruptions_;
  }
  DownloadJob LastInterrupted() {
    std::lock_guard lock(mutex_);
    return last_interrupted_;
  }

 private:
  void Record(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  std::vector<Ended> ended_;
  int interruptions_ = 0;
  DownloadJob last_interrupted_;
};

class DownloadManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    folder_ = nginx_.root() + "/../client";
    std::filesystem::create_directories(folder_);
    manager_.SetListener(&listener_);
  }

  // A proxy in front of nginx with the given policy, started.
  FaultProxy& Proxy(FaultProxy::Policy policy) {
    proxy_ = std::make_unique<FaultProxy>(nginx_.port(), std::move(policy));
    EXPECT_TRUE(proxy_->Start());
    return *proxy_;
  }

  void Run(const std::string& url, const std::string& path, const std::string& last_modified = {},
           const std::string& etag = {}, bool conditional = false, const std::string& id = "job") {
    manager_.AddJob("Heading " + id, url, path, id, last_modified, etag, conditional);
    if (!manager_.IsRunning()) manager_.Start(false);
    manager_.Wake();
  }

  std::string Local(const std::string& name) { return folder_ + "/" + name; }

  NginxServer nginx_;
  std::unique_ptr<FaultProxy> proxy_;
  RecordingListener listener_;
  DownloadManager manager_;
  std::string folder_;
};

TEST_F(DownloadManagerTest, PlainThenConditionalDownload) {
  std::string bytes = RandomBytes(300000, 1);
  ASSERT_TRUE(nginx_.PutFile("book.fvx", bytes, -3600));
  FaultProxy& proxy = Proxy(nullptr);

  // A first download sends no conditional header, even with an old file in place.
  std::ofstream(Local("book.tmp")) << "stale bytes that are overwritten";
  Run(proxy.Url("book.fvx"), Local("book.tmp"));
  ASSERT_TRUE(listener_.WaitForEnded(1));
  auto ended = listener_.EndedJobs();
  EXPECT_EQ(ended[0].outcome.kind, Kind::kCompleted);
  EXPECT_EQ(ended[0].outcome.httpCode, 200);
  EXPECT_EQ(ReadFile(Local("book.tmp")), bytes);
  std::string etag = ended[0].job.etag;
  std::string last_modified = ended[0].job.lastModified;
  EXPECT_EQ(etag.front(), '"');
  EXPECT_NE(last_modified.find("GMT"), std::string::npos);
  EXPECT_EQ(HeaderValue(proxy.Requests()[0], "If-None-Match"), "");
  EXPECT_EQ(HeaderValue(proxy.Requests()[0], "Range"), "");

  // Validators, no partial file, conditional set: 304, nothing reported, the
  // finished file elsewhere untouched; the job's file is left empty.
  std::rename(Local("book.tmp").c_str(), Local("book.fvx").c_str());
  Run(proxy.Url("book.fvx"), Local("book.tmp"), last_modified, etag, true, "again");
  ASSERT_TRUE(listener_.WaitForEnded(2));
  ended = listener_.EndedJobs();
  EXPECT_EQ(ended[1].outcome.kind, Kind::kOtherStatus);
  EXPECT_EQ(ended[1].outcome.httpCode, 304);
  EXPECT_EQ(listener_.Events(), std::vector<std::string>{"completed job"});
  EXPECT_EQ(HeaderValue(proxy.Requests()[1], "If-Modified-Since"), last_modified);
  EXPECT_EQ(HeaderValue(proxy.Requests()[1], "If-None-Match"), etag);
  EXPECT_EQ(ReadFile(Local("book.fvx")), bytes);
  EXPECT_EQ(ReadFile(Local("book.tmp")), "");

  // The same validators with conditional clear: no conditional header, whole file.
  Run(proxy.Url("book.fvx"), Local("book.tmp"), last_modified, etag, false, "plain");
  ASSERT_TRUE(listener_.WaitForEnded(3));
  EXPECT_EQ(listener_.EndedJobs()[2].outcome.httpCode, 200);
  EXPECT_EQ(HeaderValue(proxy.Requests()[2], "If-None-Match"), "");
  EXPECT_EQ(ReadFile(Local("book.tmp")), bytes);

  // Only an ETag: never sent conditionally, never resumed.
  std::ofstream(Local("half.tmp")) << bytes.substr(0, 1000);
  Run(proxy.Url("book.fvx"), Local("half.tmp"), "", etag, true, "etagonly");
  ASSERT_TRUE(listener_.WaitForEnded(4));
  EXPECT_EQ(HeaderValue(proxy.Requests()[3], "If-None-Match"), "");
  EXPECT_EQ(HeaderValue(proxy.Requests()[3], "Range"), "");
  EXPECT_EQ(ReadFile(Local("half.tmp")), bytes);
}

TEST_F(DownloadManagerTest, CutThreeTimesResumesToTheSameFile) {
  std::string bytes = RandomBytes(1 << 20, 2);
  ASSERT_TRUE(nginx_.PutFile("big.fvx", bytes, -3600));
  FaultProxy& proxy = Proxy([](int index, const std::string&) {
    return index < 3 ? FaultAction::CutAfter(100000 + 50000 * index) : FaultAction::Forward();
  });
  Run(proxy.Url("big.fvx"), Local("big.tmp"));
  ASSERT_TRUE(listener_.WaitForEnded(1));
  auto ended = listener_.EndedJobs();
  EXPECT_EQ(ended[0].outcome.kind, Kind::kCompleted);
  EXPECT_EQ(ended[0].outcome.httpCode, 206);
  EXPECT_EQ(ended[0].job.retries, 3);
  EXPECT_EQ(listener_.Interruptions(), 3);
  EXPECT_TRUE(ReadFile(Local("big.tmp")) == bytes) << "resumed file differs from the original";

  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 4u);
  size_t offset = 0;
  for (int i = 1; i < 4; ++i) {
    offset += 100000 + 50000 * (i - 1);
    EXPECT_EQ(HeaderValue(requests[i], "Range"), "bytes=" + std::to_string(offset) + "-");
    EXPECT_EQ(HeaderValue(requests[i], "If-Match"), ended[0].job.etag);
    EXPECT_EQ(HeaderValue(requests[i], "If-Unmodified-Since"), ended[0].job.lastModified);
  }
}

TEST_F(DownloadManagerTest, FileChangedBetweenAttemptsIsNeverPatched) {
  std::string old_bytes = RandomBytes(200000, 3);
  std::string new_bytes = RandomBytes(210000, 4);
  ASSERT_TRUE(nginx_.PutFile("moving.fvx", old_bytes, -7200));
  FaultProxy& proxy = Proxy([&](int index, const std::string&) {
    if (index == 0) return FaultAction::CutAfter(5000);
    nginx_.PutFile("moving.fvx", new_bytes, -60);  // replaced before the resume
    return FaultAction::Forward();
  });
  Run(proxy.Url("moving.fvx"), Local("moving.tmp"));
  ASSERT_TRUE(listener_.WaitForEnded(1));
  auto ended = listener_.EndedJobs();
  // nginx refuses the resume with 412 and an error page; libcurl, which
  // asked for a range and got none, reports that as "cannot resume" (33).
  // Either way the old beginning is never continued with new bytes: the
  // listener drops it and the next attempt fetches the new file whole.
  EXPECT_EQ(ended[0].outcome.kind, Kind::kFailed);
  EXPECT_EQ(ended[0].outcome.httpCode, 412);
  EXPECT_EQ(HeaderValue(proxy.Requests()[1], "Range"), "bytes=5000-");
  EXPECT_EQ(listener_.Events(), std::vector<std::string>{"failed job"});
  EXPECT_FALSE(Exists(Local("moving.tmp")));

  Run(proxy.Url("moving.fvx"), Local("moving.tmp"), {}, {}, false, "fresh");
  ASSERT_TRUE(listener_.WaitForEnded(2));
  EXPECT_TRUE(ReadFile(Local("moving.tmp")) == new_bytes);
}

TEST_F(DownloadManagerTest, ServersThatCannotResumeFail) {
  std::string bytes = RandomBytes(100000, 5);
  ASSERT_TRUE(nginx_.PutFile("a.fvx", bytes, -3600));
  std::string wrong_range =
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-9/100000\r\n"
      "Content-Length: 10\r\nConnection: close\r\n\r\n0123456789";
  FaultProxy& proxy = Proxy([&](int, const std::string& head) {
    // Each job's first request breaks; then the first job's server ignores
    // ranges and the second's names the wrong one.
    if (HeaderValue(head, "Range").empty()) return FaultAction::CutAfter(1000);
    if (head.find("GET /a.fvx ") != std::string::npos) return FaultAction::StripRange();
    return FaultAction::Canned(wrong_range);
  });
  Run(proxy.Url("a.fvx"), Local("a.tmp"), {}, {}, false, "a");
  ASSERT_TRUE(listener_.WaitForEnded(1));
  Run(proxy.Url("a.fvx?second"), Local("b.tmp"), {}, {}, false, "b");
  ASSERT_TRUE(listener_.WaitForEnded(2));
  for (const auto& ended : listener_.EndedJobs()) {
    EXPECT_EQ(ended.outcome.kind, Kind::kFailed) << ended.id;
    EXPECT_EQ(ended.outcome.curlCode, 33) << ended.id;
  }
  EXPECT_EQ(listener_.Events(), (std::vector<std::string>{"failed a", "failed b"}));
  EXPECT_FALSE(Exists(Local("a.tmp")));
  EXPECT_FALSE(Exists(Local("b.tmp")));
}

TEST_F(DownloadManagerTest, NotFoundAndOverlongBody) {
  FaultProxy& proxy = Proxy([](int, const std::string& head) {
    if (head.find("GET /long") == std::string::npos) return FaultAction::Forward();
    return FaultAction::Canned(
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n"
        "0123456789 and more bytes than were announced");
  });
  Run(proxy.Url("missing.fvx"), Local("missing.tmp"), {}, {}, false, "missing");
  ASSERT_TRUE(listener_.WaitForEnded(1));
  EXPECT_EQ(listener_.Events(), std::vector<std::string>{"notfound missing"});

  Run(proxy.Url("long"), Local("long.tmp"), {}, {}, false, "long");
  ASSERT_TRUE(listener_.WaitForEnded(2));
  // What lies beyond the announced length never reaches the file.
  EXPECT_EQ(ReadFile(Local("long.tmp")), "0123456789");
}

TEST_F(DownloadManagerTest, ElevenBreaksDestroyTheJob) {
  ASSERT_TRUE(nginx_.PutFile("never.fvx", RandomBytes(100000, 6), -3600));
  FaultProxy& proxy = Proxy([](int, const std::string&) { return FaultAction::CutAfter(700); });
  Run(proxy.Url("never.fvx"), Local("never.tmp"));
  ASSERT_TRUE(listener_.WaitForEnded(1));
  auto ended = listener_.EndedJobs();
  EXPECT_EQ(ended[0].outcome.kind, Kind::kGaveUp);
  EXPECT_EQ(ended[0].job.retries, 10);
  EXPECT_EQ(proxy.Requests().size(), 11u);
  EXPECT_EQ(listener_.Interruptions(), 11);
  EXPECT_TRUE(listener_.Events().empty());
  EXPECT_EQ(manager_.GetActiveCount() + manager_.GetPendingCount(), 0u);
  // Every attempt resumed where the last one ended.
  EXPECT_EQ(ReadFile(Local("never.tmp")).size(), 11u * 700);
}

TEST_F(DownloadManagerTest, UnopenableTargetAndFailedWritesEndTheJob) {
  ASSERT_TRUE(nginx_.PutFile("x.fvx", RandomBytes(50000, 7), -3600));
  Run(nginx_.Url("x.fvx"), Local("no/such/folder/x.tmp"), {}, {}, false, "noplace");
  ASSERT_TRUE(listener_.WaitForEnded(1));
  EXPECT_EQ(listener_.EndedJobs()[0].outcome.kind, Kind::kFailed);
  EXPECT_EQ(listener_.Events(), std::vector<std::string>{"failed noplace"});
  EXPECT_EQ(manager_.GetActiveCount(), 0u);

  if (Exists("/dev/full")) {
    // A disk that refuses every byte: each attempt is a broken transfer.
    Run(nginx_.Url("x.fvx"), "/dev/full", {}, {}, false, "full");
    ASSERT_TRUE(listener_.WaitForEnded(2));
    auto ended = listener_.EndedJobs()[1];
    EXPECT_EQ(ended.outcome.kind, Kind::kGaveUp);
    EXPECT_EQ(ended.outcome.curlCode, 23);
    EXPECT_NE(ended.outcome.message.find("cannot write"), std::string::npos);
  }
}

TEST_F(DownloadManagerTest, LongValidatorsAreCutAndOddCaseETagIgnored) {
  std::string long_etag = "\"" + std::string(5000, 'e') + "\"";
  std::string long_date = std::string(5000, 'd');
  FaultProxy& proxy = Proxy([&](int index, const std::string&) {
    if (index == 0) {
      return FaultAction::Canned("HTTP/1.1 200 OK\r\nETag: " + long_etag +
                                 "\r\nLast-Modified: " + long_date +
                                 "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    }
    return FaultAction::Canned(
        "HTTP/1.1 200 OK\r\nEtag: \"lower\"\r\nLast-Modified: Mon\r\n"
        "Content-Length: 2\r\nConnection: close\r\n\r\nok");
  });
  Run(proxy.Url("one"), Local("one.tmp"), {}, {}, false, "one");
  ASSERT_TRUE(listener_.WaitForEnded(1));
  DownloadJob first = listener_.EndedJobs()[0].job;
  EXPECT_EQ(first.etag, long_etag.substr(0, kMaxValidatorLength));
  EXPECT_EQ(first.lastModified, long_date.substr(0, kMaxValidatorLength));

  // The cut validators go out as header lines of at most 999 bytes, a line
  // break in a stored validator starts no header of its own.
  std::ofstream(Local("two.tmp")) << "partial";
  Run(proxy.Url("two"), Local("two.tmp"), long_date, "\"x\"\r\nX-Injected: 1", false, "two");
  ASSERT_TRUE(listener_.WaitForEnded(2));
  std::string head = proxy.Requests()[1];
  EXPECT_EQ(HeaderValue(head, "If-Unmodified-Since").size(), 999u - 21u);
  EXPECT_EQ(HeaderValue(head, "If-Match"), "\"x\"");
  EXPECT_EQ(HeaderValue(head, "X-Injected"), "");
  DownloadJob second = listener_.EndedJobs()[1].job;
  EXPECT_EQ(second.etag, "\"x\"\r\nX-Injected: 1");  // held, never replaced
}

TEST_F(DownloadManagerTest, WakesAreNotLostAndIdlePoolStopsItself) {
  ASSERT_TRUE(nginx_.PutFile("small.fvx", "tiny", -3600));
  manager_.Start(false);
  // One job at a time: each wake reaches workers that are on their way to waiting.
  for (int i = 0; i < 30; ++i) {
    manager_.AddJob("h", nginx_.Url("small.fvx"), Local("small.tmp"), "n", "", "", false);
    manager_.Wake();
    ASSERT_TRUE(listener_.WaitForEnded(static_cast<size_t>(i) + 1, 10)) << "wake lost at " << i;
  }
  manager_.Stop();

  DownloadManager idle;
  RecordingListener idle_listener;
  idle.SetListener(&idle_listener);
  idle.Start(true);
  idle.AddJob("h", nginx_.Url("small.fvx"), Local("idle.tmp"), "idle", "", "", false);
  idle.Wake();
  ASSERT_TRUE(idle_listener.WaitForEnded(1));
  for (int i = 0; i < 200 && idle.IsRunning(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(idle.IsRunning());
  idle.AddJob("h", nginx_.Url("small.fvx"), Local("late.tmp"), "late", "", "", false);
  idle.Wake();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(idle.GetPendingCount(), 1u);
  EXPECT_EQ(idle.GetPendingHeading(0), "h");
  EXPECT_EQ(idle.GetPendingHeading(1), "");
  EXPECT_FALSE(Exists(Local("late.tmp")));
}

}  // namespace
}  // namespace fvx::library
