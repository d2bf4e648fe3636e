#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace fvx::platform {
namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string ProgramDirectory() {
  std::vector<char> buffer(4096);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return ".";
  std::string path(buffer.data(), static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string DataHome() {
  if (std::string home = EnvOrEmpty("FVX_HOME"); !home.empty()) return home;
  if (std::string xdg = EnvOrEmpty("XDG_DATA_HOME"); !xdg.empty()) return JoinPath(xdg, "folivox");
  std::string home = EnvOrEmpty("HOME");
  if (home.empty()) home = "/tmp";
  return JoinPath(home, ".local/share/folivox");
}

std::string ShareDirectory() {
  if (std::string share = EnvOrEmpty("FVX_SHARE"); !share.empty()) return share;
  std::string program = ProgramDirectory();
  std::string installed = JoinPath(program, "../share/folivox");
  if (IsDirectory(installed)) return installed;
  return program;
}

std::string RegistryPath() {
  if (std::string path = EnvOrEmpty("FVX_REGISTRY"); !path.empty()) return path;
  return JoinPath(DataHome(), "registry.db");
}

bool EnsureDirectory(const std::string& path) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) EnsureDirectory(path.substr(0, slash));
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return IsDirectory(path);
  return false;
}

size_t LastPathSeparator(std::string_view path) { return path.find_last_of("/\\"); }

std::string JoinPath(std::string_view a, std::string_view b) {
  std::string joined(a);
  if (!joined.empty() && joined.back() != '/' && joined.back() != '\\') joined += '/';
  joined += b;
  return joined;
}

}  // namespace fvx::platform
