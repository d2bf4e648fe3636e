#include "library/catalogue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "bookformat/book_id.h"
#include "library/download/folder_download.h"
#include "library/library_check.h"
#include "library/library_settings.h"
#include "library/local_list.h"
#include "platform/html_escape.h"
#include "platform/paths.h"
#include "reader/book_document.h"

namespace fvx::library {

using platform::RegistryRoot;

bool IsReadableBook(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  reader::BookDocument document;
  reader::OpenCode code{};
  return document.Open(path, &code);
}

ReaderInstanceLock::ReaderInstanceLock(const std::string& data_home) {
  platform::EnsureDirectory(data_home);
  std::string path = platform::JoinPath(data_home, ".reader-instance.lock");
  int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
}

ReaderInstanceLock::~ReaderInstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

CatalogueUpdater::CatalogueUpdater(platform::Registry& registry, std::string folder,
                                   std::string url, std::function<void()> catalogue_replaced,
                                   std::function<void(const std::string&)> refused)
    : registry_(registry),
      folder_(std::move(folder)),
      url_(std::move(url)),
      catalogue_replaced_(std::move(catalogue_replaced)),
      refused_(std::move(refused)) {}

CatalogueUpdater::~CatalogueUpdater() {
  Stop();
}

std::string CatalogueUpdater::CataloguePath() const {
  return platform::JoinPath(folder_, kCatalogueFile);
}
std::string CatalogueUpdater::DownloadingPath() const {
  return platform::JoinPath(folder_, kCatalogueDownloadingFile);
}
std::string CatalogueUpdater::FinishedPath() const {
  return platform::JoinPath(folder_, kCatalogueFinishedFile);
}

void CatalogueUpdater::Start(bool another_reader_runs) {
  std::rename(FinishedPath().c_str(), CataloguePath().c_str());
  if (another_reader_runs) return;

  manager_.SetListener(this);
  manager_.Start(true);

  std::string last_modified =
      registry_.ReadString(RegistryRoot::kLocalMachine, LibInfoKey(), "LastMod");
  std::string etag = registry_.ReadString(RegistryRoot::kLocalMachine, LibInfoKey(), "ETag");
  registry_.CreateKey(RegistryRoot::kLocalMachine, LibInfoKey());
  if (!IsReadableBook(CataloguePath())) {
    struct stat status {};
    bool partial = ::stat(DownloadingPath().c_str(), &status) == 0 && status.st_size > 0;
    if (!partial) {
      last_modified.clear();
      etag.clear();
    }
  }
  if (IsWebAddress(url_)) {
    manager_.AddJob(kCatalogueHeading, url_, DownloadingPath(), kCatalogueJobId, last_modified,
                    etag, true);
    manager_.Wake();
    queued_ = true;
  } else if (refused_) {
    refused_("The catalogue address \"" + url_ + "\" is not an http or https address.");
  }
  library_check_ = StartLibraryCheck(registry_);
}

void CatalogueUpdater::Stop() {
  manager_.Stop();
  if (library_check_.joinable()) library_check_.join();
}

void CatalogueUpdater::OnCompleted(const DownloadJob& job) {
  // A transfer that brought something other than a book must not replace a
  // good catalogue.
  if (!IsReadableBook(job.path)) {
    ::unlink(job.path.c_str());
    if (refused_) {
      refused_("The net library catalogue that was received is not a book; the old one is kept.");
    }
    return;
  }
  std::string catalogue = CataloguePath();
  if (std::rename(job.path.c_str(), catalogue.c_str()) != 0) {
    std::remove(catalogue.c_str());
    if (std::rename(job.path.c_str(), catalogue.c_str()) != 0) {
      std::rename(job.path.c_str(), FinishedPath().c_str());
    }
  }
  if (catalogue_replaced_) catalogue_replaced_();
}

void CatalogueUpdater::OnFailed(const DownloadJob& job) {
  ::unlink(job.path.c_str());
}

void CatalogueUpdater::OnInterrupted(const DownloadJob& job) {
  registry_.WriteString(RegistryRoot::kLocalMachine, LibInfoKey(), "ETag", job.etag);
  registry_.WriteString(RegistryRoot::kLocalMachine, LibInfoKey(), "LastMod", job.lastModified);
}

int FirstStartCommand(platform::Registry& registry) {
  std::optional<uint32_t> first =
      registry.QueryDword(RegistryRoot::kLocalMachine, BaseKey(), "FirstTime");
  if (first && *first == 0) return kCommandOpenCatalogue;
  registry.WriteDword(RegistryRoot::kLocalMachine, BaseKey(), "FirstTime", 0);
  return kCommandOpenManual;
}

LinkAction HandleCatalogueLink(platform::Registry& registry, const reader::AppLink& link,
                               bool library_mode, const std::string& record_title,
                               const std::string& maker_url, const std::string& library_folder) {
  LinkAction action;
  if (link.a == static_cast<uint32_t>(reader::LinkKind::kOpenExternal)) {
    const std::string& address = link.text;
    bool book_link =
        library_mode && !maker_url.empty() && address.find(maker_url) != std::string::npos;
    if (!book_link) {
      action.kind = LinkAction::Kind::kOpenExternal;
      action.target = address;
      return action;
    }
    if (std::optional<std::string> local = FindLocalCopy(registry, address, library_folder)) {
      action.kind = LinkAction::Kind::kOpenDocument;
      action.target = *local;
      return action;
    }
    if (!IsWebAddress(address)) {
      action.kind = LinkAction::Kind::kRefused;
      action.message = "<h3>Cannot download</h3>The address \"" + platform::HtmlEscaped(address) +
                       "\" is not an http or https address.";
      return action;
    }
    // A record without a title would give the book no file name.
    std::string heading = record_title;
    if (heading.find_first_not_of(" \t") == std::string::npos) {
      heading = FileNameOfUrl(address);
      if (size_t dot = heading.rfind('.'); dot != std::string::npos && dot > 0) heading.resize(dot);
    }
    std::string key = DownloadsKey() + "\\" + format::UrlKey(address);
    registry.CreateKey(RegistryRoot::kLocalMachine, key);
    registry.WriteString(RegistryRoot::kLocalMachine, key, "Heading", heading);
    registry.WriteString(RegistryRoot::kLocalMachine, key, "Url", address);
    action.kind = LinkAction::Kind::kStartDownloader;
    action.target = address;
    return action;
  }
  if (link.a == static_cast<uint32_t>(reader::LinkKind::kCatalogueBook) && library_mode &&
      link.b == 1) {
    if (!IsPlainRelativeName(link.text)) {
      action.kind = LinkAction::Kind::kRefused;
      action.message = "<h3>Cannot open</h3>\"" + platform::HtmlEscaped(link.text) +
                       "\" is not a file of the library folder.";
      return action;
    }
    action.kind = LinkAction::Kind::kOpenDocument;
    action.target = platform::JoinPath(library_folder, link.text);
  }
  return action;
}

std::string PrepareCatalogueHomePage(std::string html, platform::Registry& registry) {
  auto replace_all = [&html](const std::string& from, const std::string& to) {
    for (size_t at = html.find(from); at != std::string::npos;
         at = html.find(from, at + to.size())) {
      html.replace(at, from.size(), to);
    }
  };
  replace_all("fvxhomeimg", "img");
  if (html.find("<fvxhomelocaldata>") != std::string::npos) {
    replace_all("<fvxhomelocaldata>", BuildLocalListHtml(registry));
  }
  return html;
}

}  // namespace fvx::library
