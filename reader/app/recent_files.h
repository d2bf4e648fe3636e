// The recent-file list: 8 paths, newest first, kept in the registry as
// HKEY_CURRENT_USER "Software\Calderwick Ltd.\Folivox3\Recent File List",
// values "File1" to "File8".
#pragma once

#include <QString>
#include <QStringList>

namespace fvx::platform {
class Registry;
}

namespace fvx::reader::app {

class RecentFiles {
 public:
  static constexpr int kMaxEntries = 8;

  // REQUIRES: registry outlives the list.
  explicit RecentFiles(platform::Registry* registry);

  void Load();
  // Puts path first (an equal path moves up) and stores the list.
  void Add(const QString& path);
  void Remove(const QString& path);
  const QStringList& paths() const { return paths_; }

 private:
  void Store();

  platform::Registry* registry_;
  QStringList paths_;
};

}  // namespace fvx::reader::app
