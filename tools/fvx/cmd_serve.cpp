// fvx serve PATH... [--address 127.0.0.1] [--port 8080] [--threads N]
//                   [--connections N] [--timeout SECONDS] [--documents N]
//                   [--watch-interval MS]
// Serves books and folders of books, read-only, to any browser until
// interrupted. Folders are watched for new, replaced and removed books.
#include <signal.h>

#include <cstdio>
#include <thread>

#include "server/book_shelf.h"
#include "server/book_site.h"
#include "server/http_listener.h"
#include "tools/fvx/reader_tool.h"

namespace fvx::tool {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: fvx serve PATH... [--address 127.0.0.1] [--port 8080] [--threads N]\n"
               "                 [--connections N] [--timeout SECONDS] [--documents N]\n"
               "                 [--watch-interval MS]\n"
               "       PATH is a book or a folder of books; --port 0 takes any free port;\n"
               "       --address 0.0.0.0 shares the books with the network\n");
  return kExitUsage;
}

int RunServe(const std::vector<std::string>& args) {
  server::ListenerOptions listen;
  listen.threads = std::max(2u, std::thread::hardware_concurrency());
  server::ShelfOptions shelf_options;
  std::optional<uint32_t> documents;
  std::vector<std::string> roots;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    auto number = [&](uint32_t low, uint32_t high) -> std::optional<uint32_t> {
      if (!has_value) return std::nullopt;
      const std::optional<uint32_t> value = ParseIndex(args[++i]);
      if (!value || *value < low || *value > high) return std::nullopt;
      return value;
    };
    if (a == "--address") {
      if (!has_value) return Usage();
      listen.address = args[++i];
    } else if (a == "--port") {
      const auto value = number(0, 65535);
      if (!value) return Usage();
      listen.port = static_cast<uint16_t>(*value);
    } else if (a == "--threads") {
      const auto value = number(1, 256);
      if (!value) return Usage();
      listen.threads = *value;
    } else if (a == "--connections") {
      const auto value = number(1, 100000);
      if (!value) return Usage();
      listen.connection_limit = *value;
    } else if (a == "--timeout") {
      const auto value = number(1, 3600);
      if (!value) return Usage();
      listen.timeout_seconds = *value;
    } else if (a == "--documents") {
      documents = number(1, 256);
      if (!documents) return Usage();
    } else if (a == "--watch-interval") {
      const auto value = number(50, 3600000);
      if (!value) return Usage();
      shelf_options.watch_interval = std::chrono::milliseconds(*value);
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      roots.push_back(a);
    }
  }
  if (roots.empty()) return Usage();
  // One document per worker thread unless told otherwise: documents are
  // not shared between threads at once.
  shelf_options.documents_per_book = documents.value_or(listen.threads);

  // The signals are taken by sigwait below; every thread started from here
  // on inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  server::BookShelf shelf(roots, shelf_options);
  for (const auto& [path, why] : shelf.Refused()) {
    std::fprintf(stderr, "fvx serve: %s: not served: %s\n", path.c_str(), why.c_str());
  }
  shelf.StartWatching();
  server::BookSite site(&shelf);
  server::HttpListener listener;
  std::string error;
  if (!listener.Start(listen, [&site](const server::HttpRequest& r) { return site.Handle(r); },
                      &error)) {
    std::fprintf(stderr, "fvx serve: %s\n", error.c_str());
    return kExitFailed;
  }
  const bool v6 = listen.address.find(':') != std::string::npos;
  std::printf("serving %zu books at http://%s%s%s:%u/ (%u threads); stop with Ctrl+C\n",
              shelf.Books().size(), v6 ? "[" : "", listen.address.c_str(), v6 ? "]" : "",
              listener.port(), listen.threads);
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  listener.Stop();
  return kExitOk;
}

}  // namespace

FVX_COMMAND(serve,
            "serve PATH... [--address 127.0.0.1] [--port 8080] [--threads N] [--connections N] "
            "[--timeout SECONDS]",
            "serve books and folders of books read-only over HTTP, to any browser", RunServe);

}  // namespace fvx::tool
