// fvx download URL... [--to FOLDER]: the download engine without a window,
// for scripts. A file already in FOLDER is asked for only if it changed, a
// partial file left by a broken run is resumed, and the exit code is 0 only
// when every file is complete.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "library/download/folder_download.h"
#include "platform/paths.h"
#include "tools/fvx/command.h"

namespace fvx::tool {
namespace {

using library::DownloadManager;
using library::FolderDownload;

// One line per active transfer, redrawn in place on a terminal.
class ProgressBars {
 public:
  explicit ProgressBars(bool enabled) : enabled_(enabled) {}

  void Draw(const DownloadManager& manager) {
    if (!enabled_) return;
    Clear();
    for (const library::ActiveDownload& active : manager.GetActiveSnapshot()) {
      constexpr int kWidth = 30;
      int filled = 0;
      std::string amount;
      if (active.total > 0) {
        double share = std::min(1.0, active.received / active.total);
        filled = static_cast<int>(share * kWidth);
        amount = std::to_string(static_cast<int>(share * 100)) + "%";
      } else {
        amount = std::to_string(static_cast<long long>(active.received / 1024)) + " KiB";
      }
      std::fprintf(stderr, "%-30.30s [%s%s] %s\n", active.heading.c_str(),
                   std::string(static_cast<size_t>(filled), '#').c_str(),
                   std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), amount.c_str());
      ++lines_;
    }
    std::fflush(stderr);
  }

  void Clear() {
    if (!enabled_) return;
    for (; lines_ > 0; --lines_) std::fprintf(stderr, "\033[1A\033[2K");
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  int lines_ = 0;
};

int RunDownload(const std::vector<std::string>& args) {
  std::string folder = ".";
  std::vector<std::string> urls;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--to" && i + 1 < args.size()) {
      folder = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      urls.clear();
      break;
    } else {
      urls.push_back(args[i]);
    }
  }
  if (urls.empty() || folder.empty()) {
    std::fprintf(stderr, "usage: fvx download URL... [--to FOLDER]\n");
    return kExitUsage;
  }
  if (!platform::EnsureDirectory(folder)) {
    std::fprintf(stderr, "fvx download: cannot create the folder %s\n", folder.c_str());
    return kExitFailed;
  }
  FolderDownload download(folder);
  for (const std::string& url : urls) {
    std::string error;
    if (!download.Add(url, &error)) {
      std::fprintf(stderr, "fvx download: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  ProgressBars bars(::isatty(2) != 0);
  download.Run([&bars](const DownloadManager& manager) { bars.Draw(manager); },
               [&bars](const FolderDownload::Target& target) {
                 bars.Clear();
                 if (target.state == FolderDownload::State::kDownloaded) {
                   std::printf("%s: downloaded, %.0f bytes\n", target.name.c_str(), target.bytes);
                 } else {
                   std::printf("%s: %s\n", target.name.c_str(), target.message.c_str());
                 }
                 std::fflush(stdout);
               });
  bars.Clear();
  return download.AllComplete() ? kExitOk : kExitFailed;
}

}  // namespace

FVX_COMMAND(download, "download URL... [--to FOLDER]",
            "fetch files over HTTP into FOLDER, resuming and asking only for changed files",
            RunDownload);

}  // namespace fvx::tool
