#include "library/handheld_settings.h"

#include <cstdlib>

#include "library/library_settings.h"

namespace fvx::library {
namespace {

std::string Setting(platform::Registry& registry, const char* environment, const char* value) {
  if (const char* text = std::getenv(environment); text != nullptr && *text != '\0') return text;
  return registry.ReadString(platform::RegistryRoot::kLocalMachine, BaseKey(), value);
}

}  // namespace

std::string DeviceFolder(platform::Registry& registry) {
  return Setting(registry, "FVX_DEVICE_FOLDER", "DeviceFolder");
}

std::string PalmUsersFolder(platform::Registry& registry) {
  return Setting(registry, "FVX_PALM_FOLDER", "PalmUsersFolder");
}

}  // namespace fvx::library
