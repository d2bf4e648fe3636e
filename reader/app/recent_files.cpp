#include "reader/app/recent_files.h"

#include "platform/registry.h"

namespace fvx::reader::app {
namespace {

constexpr char kKey[] = "Software\\Calderwick Ltd.\\Folivox3\\Recent File List";

std::string ValueName(int k) { return "File" + std::to_string(k + 1); }

}  // namespace

RecentFiles::RecentFiles(platform::Registry* registry) : registry_(registry) {}

void RecentFiles::Load() {
  paths_.clear();
  for (int k = 0; k < kMaxEntries; ++k) {
    const std::string path =
        registry_->ReadString(platform::RegistryRoot::kCurrentUser, kKey, ValueName(k));
    if (!path.empty()) paths_.push_back(QString::fromStdString(path));
  }
}

void RecentFiles::Add(const QString& path) {
  paths_.removeAll(path);  // paths keep their case: two spellings are two files
  paths_.prepend(path);
  while (paths_.size() > kMaxEntries) paths_.removeLast();
  Store();
}

void RecentFiles::Remove(const QString& path) {
  paths_.removeAll(path);
  Store();
}

void RecentFiles::Store() {
  for (int k = 0; k < kMaxEntries; ++k) {
    if (k < paths_.size()) {
      registry_->WriteString(platform::RegistryRoot::kCurrentUser, kKey, ValueName(k),
                             paths_[k].toStdString());
    } else {
      registry_->DeleteValue(platform::RegistryRoot::kCurrentUser, kKey, ValueName(k));
    }
  }
}

}  // namespace fvx::reader::app
