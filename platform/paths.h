// Where the programs find themselves and their data.
//
//   program directory  the folder of the running executable (siblings, ImagePlugins/)
//   data home          $FVX_HOME, else $XDG_DATA_HOME/folivox, else ~/.local/share/folivox
//                      (Library/, the catalogue, the registry)
//   share directory    $FVX_SHARE, else <program directory>/../share/folivox when it
//                      exists, else the program directory (read-only: the manual)
#pragma once

#include <string>
#include <string_view>

namespace fvx::platform {

std::string ProgramDirectory();
std::string DataHome();
std::string ShareDirectory();
// $FVX_REGISTRY, else DataHome() + "/registry.db".
std::string RegistryPath();

// Creates the folder and its parents; true when it exists afterwards.
bool EnsureDirectory(const std::string& path);

// Position of the last "/" or "\" in a path, or npos. Paths from sources and
// older tools may use either separator.
size_t LastPathSeparator(std::string_view path);

// a + "/" + b, without doubling a separator that a already ends with.
std::string JoinPath(std::string_view a, std::string_view b);

}  // namespace fvx::platform
