#include "library/download/download_manager.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace fvx::library {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

std::once_flag curl_global_once;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// "Name: value" with the name matched exactly (case counts, as servers that
// write another case are not recognised); leading white space of the value is
// skipped and the value ends where stop() says, cut to the buffer's size.
template <typename StopAt>
std::string ScanHeaderValue(std::string_view line, std::string_view name, StopAt stop) {
  if (line.size() <= name.size() || line.substr(0, name.size()) != name) return {};
  size_t position = name.size();
  while (position < line.size() && IsSpace(line[position])) ++position;
  size_t end = position;
  while (end < line.size() && !stop(line[end])) ++end;
  return std::string(line.substr(position, std::min(end - position, kMaxValidatorLength)));
}

// A request header line as a fixed 1000-byte buffer would hold it. A value
// from the registry could carry a line break; it must not start a header of its own.
std::string RequestHeaderLine(std::string_view name, std::string_view value) {
  size_t cut = value.find_first_of("\r\n");
  if (cut != std::string_view::npos) value = value.substr(0, cut);
  std::string line(name);
  line += value;
  if (line.size() > kMaxRequestHeaderLength) line.resize(kMaxRequestHeaderLength);
  return line;
}

}  // namespace

struct DownloadManager::Transfer {
  DownloadManager* manager = nullptr;
  DownloadJob* job = nullptr;
  FILE* file = nullptr;
  bool writeFailed = false;
};

struct TransferCallbacks {
  static size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<DownloadManager::Transfer*>(user);
    size_t bytes = size * count;
    if (bytes == 0) return 0;
    // A short write or a failed flush would leave a hole that a resume
    // would later patch over: abort, so that the break is handled as one.
    if (std::fwrite(data, 1, bytes, transfer->file) != bytes || std::fflush(transfer->file) != 0) {
      transfer->writeFailed = true;
      return 0;
    }
    return bytes;
  }

  static size_t Header(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<DownloadManager::Transfer*>(user);
    size_t bytes = size * count;
    std::string_view line(data, bytes);
    std::lock_guard lock(transfer->manager->list_mutex_);
    DownloadJob* job = transfer->job;
    if (job->etag.empty()) {
      std::string value = ScanHeaderValue(line, "ETag:", IsSpace);
      if (!value.empty()) job->etag = std::move(value);
    }
    if (job->lastModified.empty()) {
      std::string value =
          ScanHeaderValue(line, "Last-Modified:", [](char c) { return c == '\r' || c == '\n'; });
      if (!value.empty()) job->lastModified = std::move(value);
    }
    return bytes;
  }

  static int Progress(void* user, curl_off_t download_total, curl_off_t download_now,
                      curl_off_t /*upload_total*/, curl_off_t /*upload_now*/) {
    auto* transfer = static_cast<DownloadManager::Transfer*>(user);
    DownloadManager* manager = transfer->manager;
    {
      std::lock_guard lock(manager->list_mutex_);
      transfer->job->total = static_cast<double>(download_total);
      transfer->job->received = static_cast<double>(download_now);
    }
    manager->NotifyQueueChanged(false);
    return manager->running_.load() ? 0 : 1;
  }
};

DownloadManager::DownloadManager() = default;

DownloadManager::~DownloadManager() {
  Stop();
  // Jobs still listed go without notification.
}

void DownloadManager::Start(bool stopWhenIdle) {
  std::call_once(curl_global_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  {
    std::lock_guard lock(list_mutex_);
    if (started_) return;
    started_ = true;
    stop_when_idle_ = stopWhenIdle;
    running_ = true;
  }
  workers_.reserve(kDownloadWorkers);
  for (int i = 0; i < kDownloadWorkers; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

void DownloadManager::Stop() {
  std::lock_guard stop_lock(stop_mutex_);
  {
    std::lock_guard lock(list_mutex_);
    running_ = false;
    ++wake_generation_;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  workers_.clear();
}

bool DownloadManager::AddJob(const std::string& heading, const std::string& url,
                             const std::string& path, const std::string& id,
                             const std::string& lastModified, const std::string& etag,
                             bool conditional) {
  auto job = std::make_unique<DownloadJob>();
  job->heading = heading;
  job->url = url;
  job->path = path;
  job->id = id;
  job->lastModified = lastModified;
  job->etag = etag;
  job->conditional = conditional;
  std::lock_guard lock(list_mutex_);
  pending_.push_back(std::move(job));
  return true;
}

void DownloadManager::Wake() {
  {
    std::lock_guard lock(list_mutex_);
    if (!started_ || !running_) return;
    ++wake_generation_;
  }
  wake_.notify_all();
}

void DownloadManager::NotifyQueueChanged(bool structural) {
  if (listener_ == nullptr) return;
  std::lock_guard lock(listener_mutex_);
  listener_->OnQueueChanged(structural);
}

void DownloadManager::WorkerLoop() {
  EasyHandle easy(curl_easy_init());
  if (!easy) return;
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &TransferCallbacks::Write);
  curl_easy_setopt(easy.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy.get(), CURLOPT_XFERINFOFUNCTION, &TransferCallbacks::Progress);
  curl_easy_setopt(easy.get(), CURLOPT_HEADERFUNCTION, &TransferCallbacks::Header);
  curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, 1L);

  while (running_) {
    DownloadJob* job = nullptr;
    uint64_t seen_generation = 0;
    {
      std::lock_guard lock(list_mutex_);
      seen_generation = wake_generation_;
      if (!pending_.empty()) {
        active_.push_back(std::move(pending_.front()));
        pending_.pop_front();
        job = active_.back().get();
      }
    }
    NotifyQueueChanged(true);
    if (job == nullptr) {
      // The generation read together with the empty list: a Wake between
      // there and here has already moved it on, so it is not slept through.
      std::unique_lock lock(list_mutex_);
      wake_.wait(lock, [&] { return !running_ || wake_generation_ != seen_generation; });
      continue;
    }
    RunJob(easy.get(), job);
  }
}

void DownloadManager::RunJob(void* easy_handle, DownloadJob* job) {
  CURL* easy = static_cast<CURL*>(easy_handle);
  std::string url, path, last_modified, etag;
  bool conditional = false;
  {
    std::lock_guard lock(list_mutex_);
    url = job->url;
    path = job->path;
    last_modified = job->lastModified;
    etag = job->etag;
    conditional = job->conditional;
    job->received = 0;
    job->total = 0;
  }

  curl_off_t offset = 0;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) offset = static_cast<curl_off_t>(status.st_size);

  HeaderList headers;
  auto append = [&headers](const std::string& line) {
    curl_slist* list = curl_slist_append(headers.get(), line.c_str());
    if (list != nullptr) {
      (void)headers.release();
      headers.reset(list);
    }
  };
  const char* mode = "wb";
  if (last_modified.empty() || etag.empty()) {
    offset = 0;
  } else if (offset > 0) {
    append(RequestHeaderLine("If-Unmodified-Since: ", last_modified));
    append(RequestHeaderLine("If-Match: ", etag));
    mode = "ab";
  } else if (conditional) {
    append(RequestHeaderLine("If-Modified-Since: ", last_modified));
    append(RequestHeaderLine("If-None-Match: ", etag));
  }

  auto take_from_active = [this, job] {
    std::lock_guard lock(list_mutex_);
    auto found = std::find_if(active_.begin(), active_.end(),
                              [job](const auto& item) { return item.get() == job; });
    std::unique_ptr<DownloadJob> owned = std::move(*found);
    active_.erase(found);
    return owned;
  };

  FileHandle file(std::fopen(path.c_str(), mode));
  if (!file) {
    // Nothing can be written: end the job instead of leaving it active forever.
    std::unique_ptr<DownloadJob> owned = take_from_active();
    if (listener_ != nullptr) listener_->OnFailed(*owned);
    EndJob(owned.get(), {DownloadOutcome::Kind::kFailed, 0, 0, "cannot open " + path});
    AfterOutcome();
    return;
  }

  Transfer transfer;
  transfer.manager = this;
  transfer.job = job;
  transfer.file = file.get();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, offset);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());

  CURLcode result = curl_easy_perform(easy);
  if (std::fclose(file.release()) != 0 && result == CURLE_OK) transfer.writeFailed = true;
  if (transfer.writeFailed && result == CURLE_OK) result = CURLE_WRITE_ERROR;
  long code = 0;
  bool have_code = curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK;

  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
  headers.reset();

  std::unique_ptr<DownloadJob> owned = take_from_active();
  std::string message = result == CURLE_OK ? std::string() : curl_easy_strerror(result);
  if (transfer.writeFailed) message = "cannot write " + path;

  if (result == CURLE_RANGE_ERROR) {
    if (listener_ != nullptr) listener_->OnFailed(*owned);
    EndJob(owned.get(), {DownloadOutcome::Kind::kFailed, code, result, message});
  } else if (result != CURLE_OK) {
    if (owned->HasValidators() && listener_ != nullptr) {
      std::lock_guard lock(listener_mutex_);
      listener_->OnInterrupted(*owned);
    }
    bool requeued = false;
    {
      std::lock_guard lock(list_mutex_);
      if (owned->retries < kMaxRequeues) {
        ++owned->retries;
        pending_.push_back(std::move(owned));
        requeued = true;
      }
    }
    if (!requeued) EndJob(owned.get(), {DownloadOutcome::Kind::kGaveUp, code, result, message});
  } else if (!have_code) {
    if (listener_ != nullptr) listener_->OnFailed(*owned);
    EndJob(owned.get(),
           {DownloadOutcome::Kind::kFailed, 0, result, "the response code cannot be read"});
  } else if (code == 200 || code == 206) {
    if (listener_ != nullptr) {
      std::lock_guard lock(listener_mutex_);
      listener_->OnCompleted(*owned);
    }
    EndJob(owned.get(), {DownloadOutcome::Kind::kCompleted, code, result, {}});
  } else if (code == 404) {
    if (listener_ != nullptr) {
      std::lock_guard lock(listener_mutex_);
      listener_->OnNotFound(*owned);
    }
    EndJob(owned.get(), {DownloadOutcome::Kind::kNotFound, code, result, "404 Not Found"});
  } else {
    EndJob(owned.get(), {DownloadOutcome::Kind::kOtherStatus, code, result,
                         "HTTP status " + std::to_string(code)});
  }
  AfterOutcome();
}

void DownloadManager::EndJob(DownloadJob* job, const DownloadOutcome& outcome) {
  if (listener_ == nullptr) return;
  std::lock_guard lock(listener_mutex_);
  listener_->OnJobEnded(*job, outcome);
}

void DownloadManager::AfterOutcome() {
  NotifyQueueChanged(true);
  bool stopped = false;
  {
    std::lock_guard lock(list_mutex_);
    if (stop_when_idle_ && running_ && active_.empty() && pending_.empty()) {
      // The workers end by themselves; whoever destroys or stops the manager
      // joins them (a worker cannot wait for itself).
      running_ = false;
      ++wake_generation_;
      stopped = true;
    }
  }
  if (stopped) wake_.notify_all();
}

size_t DownloadManager::GetActiveCount() const {
  std::lock_guard lock(list_mutex_);
  return active_.size();
}

size_t DownloadManager::GetPendingCount() const {
  std::lock_guard lock(list_mutex_);
  return pending_.size();
}

namespace {
template <typename List>
const DownloadJob* At(const List& list, size_t index) {
  if (index >= list.size()) return nullptr;
  auto it = list.begin();
  std::advance(it, static_cast<long>(index));
  return it->get();
}
}  // namespace

std::string DownloadManager::GetActiveHeading(size_t index) const {
  std::lock_guard lock(list_mutex_);
  const DownloadJob* job = At(active_, index);
  return job ? job->heading : std::string();
}

double DownloadManager::GetActiveReceived(size_t index) const {
  std::lock_guard lock(list_mutex_);
  const DownloadJob* job = At(active_, index);
  return job ? job->received : 0;
}

double DownloadManager::GetActiveTotal(size_t index) const {
  std::lock_guard lock(list_mutex_);
  const DownloadJob* job = At(active_, index);
  return job ? job->total : 0;
}

std::string DownloadManager::GetPendingHeading(size_t index) const {
  std::lock_guard lock(list_mutex_);
  const DownloadJob* job = At(pending_, index);
  return job ? job->heading : std::string();
}

std::vector<ActiveDownload> DownloadManager::GetActiveSnapshot() const {
  std::lock_guard lock(list_mutex_);
  std::vector<ActiveDownload> result;
  for (const auto& job : active_) result.push_back({job->heading, job->received, job->total});
  return result;
}

}  // namespace fvx::library
