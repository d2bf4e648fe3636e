// Loopback throughput of the download engine: five parallel downloads of
// large files from nginx on 127.0.0.1, against five curl processes fetching
// the same files; and the engine's peak memory for small and large files
// (it must not grow with the file size).
//
//   download_bench [--mb 50] [--rounds 3]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "library/download/download_manager.h"
#include "library/download/testing/nginx_server.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class CountingListener : public fvx::library::DownloadListener {
 public:
  void OnQueueChanged(bool) override {}
  void OnCompleted(const fvx::library::DownloadJob&) override {}
  void OnFailed(const fvx::library::DownloadJob&) override {}
  void OnNotFound(const fvx::library::DownloadJob&) override {}
  void OnInterrupted(const fvx::library::DownloadJob&) override {}
  void OnJobEnded(const fvx::library::DownloadJob&,
                  const fvx::library::DownloadOutcome& outcome) override {
    std::lock_guard lock(mutex_);
    ++ended_;
    if (outcome.kind != fvx::library::DownloadOutcome::Kind::kCompleted) ++failed_;
    changed_.notify_all();
  }
  void Wait(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_ >= count; });
  }
  int failed() {
    std::lock_guard lock(mutex_);
    return failed_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int ended_ = 0;
  int failed_ = 0;
};

long PeakKilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double EngineSeconds(fvx::library::testing::NginxServer& nginx,
                     const std::vector<std::string>& names, const fs::path& out, int* failed) {
  fvx::library::DownloadManager manager;
  CountingListener listener;
  manager.SetListener(&listener);
  manager.Start(false);
  auto start = Clock::now();
  for (const std::string& name : names) {
    manager.AddJob(name, nginx.Url(name), (out / name).string(), name, "", "", false);
  }
  manager.Wake();
  listener.Wait(static_cast<int>(names.size()));
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  *failed = listener.failed();
  manager.Stop();
  return seconds;
}

double CurlSeconds(fvx::library::testing::NginxServer& nginx, const std::vector<std::string>& names,
                   const fs::path& out) {
  auto start = Clock::now();
  std::vector<pid_t> children;
  for (const std::string& name : names) {
    pid_t pid = ::fork();
    if (pid == 0) {
      std::string target = (out / name).string();
      std::string url = nginx.Url(name);
      ::execlp("curl", "curl", "-s", "-o", target.c_str(), url.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> MakeFiles(fvx::library::testing::NginxServer& nginx,
                                   const std::string& prefix, size_t megabytes) {
  std::mt19937 generator(7);
  std::string block(1 << 20, '\0');
  for (char& c : block) c = static_cast<char>(generator());
  std::vector<std::string> names;
  for (int i = 0; i < 5; ++i) {
    std::string name = prefix + std::to_string(i) + ".fvx";
    // Written block by block, so that building them leaves the peak alone.
    std::ofstream file(fs::path(nginx.root()) / name, std::ios::binary | std::ios::trunc);
    for (size_t m = 0; m < megabytes; ++m) {
      block[0] = static_cast<char>(m + i);
      file.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    names.push_back(name);
  }
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = 50;
  int rounds = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "--mb") megabytes = std::strtoul(argv[i + 1], nullptr, 10);
    if (flag == "--rounds") rounds = std::atoi(argv[i + 1]);
  }
  fvx::library::testing::NginxServer nginx;
  if (!nginx.Start()) {
    std::fprintf(stderr, "%s\n", nginx.Error().c_str());
    return 1;
  }
  fs::path out = fs::path(nginx.root()).parent_path() / "out";
  fs::create_directories(out);

  std::vector<std::string> small = MakeFiles(nginx, "small", 2);
  int failed = 0;
  EngineSeconds(nginx, small, out, &failed);
  long peak_small = PeakKilobytes();
  for (const std::string& name : small) fs::remove(fs::path(nginx.root()) / name);

  std::vector<std::string> large = MakeFiles(nginx, "large", megabytes);
  double total_mb = 5.0 * static_cast<double>(megabytes);
  double best_engine = 1e9, best_curl = 1e9;
  long peak_before = PeakKilobytes();
  for (int round = 0; round < rounds; ++round) {
    best_engine = std::min(best_engine, EngineSeconds(nginx, large, out, &failed));
    for (const std::string& name : large) fs::remove(out / name);
    best_curl = std::min(best_curl, CurlSeconds(nginx, large, out));
    for (const std::string& name : large) fs::remove(out / name);
  }
  long peak_after = PeakKilobytes();
  std::printf("5 x %zu MB over loopback, best of %d\n", megabytes, rounds);
  std::printf("  engine  %.3f s  %.0f MB/s%s\n", best_engine, total_mb / best_engine,
              failed ? "  (FAILED transfers)" : "");
  std::printf("  curl    %.3f s  %.0f MB/s\n", best_curl, total_mb / best_curl);
  std::printf("  engine/curl  %.2f\n", best_curl / best_engine);
  std::printf("  peak RSS: after 5 x 2 MB %ld KB, after 5 x %zu MB %ld KB (growth %ld KB)\n",
              peak_small, megabytes, peak_after, peak_after - peak_before);
  return failed == 0 ? 0 : 1;
}
