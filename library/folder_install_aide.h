// The install aide over a folder of HotSync users (docs/handhelds.md):
//
//   users/                       the folder (reader setting "PalmUsersFolder")
//     Alice/                     a user: the folder's name is the user name
//       CardSlots.txt            the handheld's card slots, one identifier a
//                                  line (decimal or 0x-hex, then an optional
//                                  label); no file: no slot
//       Install/                 files queued for the handheld
//       CardInstall/<slot id>/   files queued for the card in that slot
//
// Users are the sub-folders not starting with ".", in byte order of their
// names; a user's identifier is its position in that order plus one. A
// synchronisation tool installs what it finds in the queue folders and
// empties them.
#pragma once

#include <string>
#include <vector>

#include "library/palm_install_aide.h"

namespace fvx::library {

inline constexpr char kPalmSlotsFile[] = "CardSlots.txt";
inline constexpr char kPalmQueueFolder[] = "Install";
inline constexpr char kPalmCardQueueFolder[] = "CardInstall";

class FolderInstallAide : public PalmInstallAide {
 public:
  explicit FolderInstallAide(std::string users_folder);

  int32_t UserCount() override;
  int32_t UserName(int32_t index, char* buffer, uint16_t* size) override;
  int32_t QueueForHandheld(std::string_view user, std::string_view path) override;
  int32_t QueueForCard(std::string_view user, uint32_t slot, std::string_view path) override;
  int32_t UserId(std::string_view user, uint32_t* id) override;
  int32_t SlotCount(uint32_t id, uint16_t* count) override;
  int32_t SlotIds(uint32_t id, uint32_t* ids, uint16_t* count) override;

 private:
  std::vector<std::string> Users() const;
  std::vector<uint32_t> Slots(const std::string& user) const;
  // The user's folder, empty for a name that is no user.
  std::string UserFolder(std::string_view user) const;
  int32_t Queue(const std::string& queue_folder, std::string_view path) const;

  std::string users_folder_;
};

}  // namespace fvx::library
