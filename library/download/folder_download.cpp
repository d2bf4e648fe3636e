#include "library/download/folder_download.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <utility>

namespace fvx::library {
namespace {

constexpr char kEtagLine[] = "ETag: ";
constexpr char kLastModifiedLine[] = "Last-Modified: ";

bool FileSize(const std::string& path, double* size) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return false;
  *size = static_cast<double>(status.st_size);
  return true;
}

// Validators are single header values: a line break would end the record.
std::string OneLine(const std::string& value) {
  return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

Validators ReadValidators(const std::string& path) {
  Validators validators;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kEtagLine, 0) == 0) validators.etag = line.substr(sizeof(kEtagLine) - 1);
    if (line.rfind(kLastModifiedLine, 0) == 0) {
      validators.lastModified = line.substr(sizeof(kLastModifiedLine) - 1);
    }
  }
  return validators;
}

bool WriteValidators(const std::string& path, const Validators& validators) {
  std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << kEtagLine << OneLine(validators.etag) << "\n"
        << kLastModifiedLine << OneLine(validators.lastModified) << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string FileNameOfUrl(const std::string& url) {
  std::string address = url.substr(0, url.find_first_of("?#"));
  size_t scheme = address.find("://");
  size_t path_start = address.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (path_start == std::string::npos) return {};
  std::string name = address.substr(address.find_last_of('/') + 1);
  if (name == "." || name == ".." || name.find('\\') != std::string::npos) return {};
  return name;
}

FolderDownload::FolderDownload(std::string folder) : folder_(std::move(folder)) {}

FolderDownload::~FolderDownload() {
  manager_.Stop();
}

std::string FolderDownload::PathOf(const std::string& name) const {
  return folder_ + "/" + name;
}

bool FolderDownload::Add(const std::string& url, std::string* error) {
  std::string name = FileNameOfUrl(url);
  if (name.empty()) {
    *error = url + ": the address names no file";
    return false;
  }
  for (const Target& target : targets_) {
    if (target.name == name) {
      *error = url + ": " + name + " is already fetched from " + target.url;
      return false;
    }
  }
  Target target;
  target.url = url;
  target.name = name;
  targets_.push_back(std::move(target));
  return true;
}

void FolderDownload::Queue(size_t index) {
  const Target& target = targets_[index];
  std::string part = PathOf(target.name + ".part");
  std::string part_validators_path = part + ".validators";
  std::string id = std::to_string(index);
  double part_size = 0;
  Validators part_validators = ReadValidators(part_validators_path);
  if (FileSize(part, &part_size) && part_size > 0 && part_validators.Complete()) {
    manager_.AddJob(target.name, target.url, part, id, part_validators.lastModified,
                    part_validators.etag, false);
    return;
  }
  // A partial file without validators cannot be resumed safely.
  ::unlink(part.c_str());
  ::unlink(part_validators_path.c_str());
  double size = 0;
  Validators validators = ReadValidators(PathOf("." + target.name + ".validators"));
  if (FileSize(PathOf(target.name), &size) && validators.Complete()) {
    manager_.AddJob(target.name, target.url, part, id, validators.lastModified, validators.etag,
                    true);
  } else {
    manager_.AddJob(target.name, target.url, part, id, "", "", false);
  }
}

void FolderDownload::Finish(size_t index, State state, std::string message) {
  std::lock_guard lock(mutex_);
  Target& target = targets_[index];
  if (target.state != State::kPending) return;
  target.state = state;
  target.message = std::move(message);
  newly_ended_.push_back(index);
  --open_;
  ended_.notify_all();
}

void FolderDownload::Restart(size_t index, const std::string& why) {
  std::lock_guard lock(mutex_);
  Target& target = targets_[index];
  target.restarted = true;
  target.message = why;
  restarts_.push_back(index);
  ended_.notify_all();
}

void FolderDownload::OnCompleted(const DownloadJob& job) {
  size_t index = std::stoul(job.id);
  std::string final_path = PathOf(targets_[index].name);
  if (std::rename(job.path.c_str(), final_path.c_str()) != 0) {
    Finish(index, State::kFailed, "cannot put " + final_path + " in place");
    return;
  }
  std::string validators_path = PathOf("." + targets_[index].name + ".validators");
  if (job.HasValidators()) {
    WriteValidators(validators_path, {job.etag, job.lastModified});
  } else {
    ::unlink(validators_path.c_str());
  }
  ::unlink((job.path + ".validators").c_str());
  double size = 0;
  FileSize(final_path, &size);
  {
    std::lock_guard lock(mutex_);
    targets_[index].bytes = size;
  }
  Finish(index, State::kDownloaded, "downloaded");
}

void FolderDownload::OnFailed(const DownloadJob& job) {
  ::unlink(job.path.c_str());
  ::unlink((job.path + ".validators").c_str());
}

void FolderDownload::OnNotFound(const DownloadJob& job) {
  ::unlink(job.path.c_str());
  ::unlink((job.path + ".validators").c_str());
}

void FolderDownload::OnInterrupted(const DownloadJob& job) {
  WriteValidators(job.path + ".validators", {job.etag, job.lastModified});
}

void FolderDownload::OnJobEnded(const DownloadJob& job, const DownloadOutcome& outcome) {
  size_t index = std::stoul(job.id);
  bool restarted = false;
  {
    std::lock_guard lock(mutex_);
    restarted = targets_[index].restarted;
  }
  switch (outcome.kind) {
    case DownloadOutcome::Kind::kCompleted:
    case DownloadOutcome::Kind::kStopped:
      return;
    case DownloadOutcome::Kind::kNotFound:
      Finish(index, State::kFailed, "not found (404)");
      return;
    case DownloadOutcome::Kind::kFailed:
      if (!restarted) {
        Restart(index, "the server cannot continue the partial file; fetched whole");
      } else {
        Finish(index, State::kFailed, outcome.message);
      }
      return;
    case DownloadOutcome::Kind::kGaveUp:
      Finish(index, State::kFailed,
             "gave up after " + std::to_string(job.retries + 1) + " attempts (" + outcome.message +
                 "); the next run resumes");
      return;
    case DownloadOutcome::Kind::kOtherStatus:
      if (outcome.httpCode == 304) {
        ::unlink(job.path.c_str());  // opened for the answer, left empty
        Finish(index, State::kUnchanged, "not modified, kept");
      } else if ((outcome.httpCode == 412 || outcome.httpCode == 416) && !restarted) {
        ::unlink(job.path.c_str());
        ::unlink((job.path + ".validators").c_str());
        Restart(index, "the file changed on the server; fetched whole");
      } else {
        ::unlink(job.path.c_str());
        ::unlink((job.path + ".validators").c_str());
        Finish(index, State::kFailed, "HTTP status " + std::to_string(outcome.httpCode));
      }
      return;
  }
}

void FolderDownload::Run(const std::function<void(const DownloadManager&)>& progress,
                         const std::function<void(const Target&)>& report) {
  manager_.SetListener(this);
  open_ = targets_.size();
  for (size_t i = 0; i < targets_.size(); ++i) Queue(i);
  manager_.Start(false);
  manager_.Wake();
  while (true) {
    std::vector<size_t> restarts, ended;
    size_t open = 0;
    {
      std::unique_lock lock(mutex_);
      ended_.wait_for(lock, std::chrono::milliseconds(250),
                      [&] { return !restarts_.empty() || !newly_ended_.empty() || open_ == 0; });
      restarts.swap(restarts_);
      ended.swap(newly_ended_);
      open = open_;
    }
    // Jobs are added here rather than from the listener, which never takes
    // the engine's list lock while the engine holds its listener lock.
    for (size_t index : restarts) {
      Queue(index);
      manager_.Wake();
    }
    for (size_t index : ended) {
      Target copy;
      {
        std::lock_guard lock(mutex_);
        copy = targets_[index];
      }
      if (report) report(copy);
    }
    if (open == 0) break;
    if (progress) progress(manager_);
  }
  manager_.Stop();
}

bool FolderDownload::AllComplete() const {
  for (const Target& target : targets_) {
    if (target.state != State::kDownloaded && target.state != State::kUnchanged) return false;
  }
  return true;
}

}  // namespace fvx::library
