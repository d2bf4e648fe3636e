#include "platform/scratch_file.h"

#include <cerrno>
#include <fcntl.h>
#include <cstdlib>
#include <string>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fvx::platform {

std::vector<std::string> TemporaryFolderCandidates() {
  std::vector<std::string> folders;
  if (const char* env = std::getenv("TMPDIR"); env && *env) folders.emplace_back(env);
  folders.emplace_back("/tmp");
  folders.emplace_back("/var/tmp");
  return folders;
}

std::string TemporaryFolderWithMostSpace() {
  std::string best;
  unsigned long long best_free = 0;
  for (const std::string& folder : TemporaryFolderCandidates()) {
    struct statvfs st;
    if (::statvfs(folder.c_str(), &st) != 0) continue;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) continue;
    unsigned long long free_bytes =
        static_cast<unsigned long long>(st.f_bavail) * static_cast<unsigned long long>(st.f_frsize);
    if (best.empty() || free_bytes > best_free) {
      best = folder;
      best_free = free_bytes;
    }
  }
  return best;
}

File CreateScratchFileIn(const std::string& folder, const std::string& prefix) {
  if (folder.empty()) return File::Refused(ENOENT);
  std::string name = folder;
  if (name.back() != '/') name += '/';
  name += prefix + "XXXXXX";
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return File::Refused(errno);
  ::unlink(name.c_str());
  return File(fd);
}

std::string ScratchFileFolder(const File& file) {
  if (!file.IsOpen()) return {};
  const std::string link = "/proc/self/fd/" + std::to_string(file.Descriptor());
  char target[4096];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  std::string path(target, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

File CreateScratchFile(const std::string& prefix) {
  return CreateScratchFileIn(TemporaryFolderWithMostSpace(), prefix);
}

}  // namespace fvx::platform
