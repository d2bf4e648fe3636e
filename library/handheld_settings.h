// Where the handhelds are found: reader settings under the programs' base
// key (HKEY_LOCAL_MACHINE):
//
//   "DeviceFolder"     the folder that is the Pocket PC's root (its mount point)
//   "PalmUsersFolder"  the folder of HotSync users
//
// The environment variables FVX_DEVICE_FOLDER and FVX_PALM_FOLDER override
// both (tests). Unset, there is no device and no HotSync user.
#pragma once

#include <string>

#include "platform/registry.h"

namespace fvx::library {

std::string DeviceFolder(platform::Registry& registry);
std::string PalmUsersFolder(platform::Registry& registry);

}  // namespace fvx::library
