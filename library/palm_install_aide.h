// The install aide's calls that the reader relies on, one function per
// ordinal of the aide's libraries, with the same arguments and results.
// The aide keeps the HotSync users and their install queues; the reader only
// asks for names and slots and hands it files.
#pragma once

#include <cstdint>
#include <string_view>

namespace fvx::library {

inline constexpr int32_t kAideOk = 0;
inline constexpr int32_t kAideBufferTooSmall = -501;  // the needed size is in *size
inline constexpr int32_t kAideQueuedAgain = -512;     // queued; counts as success
// This system's own failure codes (anything else but 0 and -512 is failure).
inline constexpr int32_t kAideNoSuchUser = -502;
inline constexpr int32_t kAideNoSuchSlot = -503;
inline constexpr int32_t kAideCannotQueue = -504;
inline constexpr int32_t kAideBadArgument = -505;

class PalmInstallAide {
 public:
  virtual ~PalmInstallAide() = default;

  // 101: the number of HotSync users; 0 or less means none.
  virtual int32_t UserCount() = 0;
  // 102: the name of user index into buffer (*size bytes, the terminating
  // NUL included). kAideBufferTooSmall with the needed size in *size when it
  // does not fit.
  virtual int32_t UserName(int32_t index, char* buffer, uint16_t* size) = 0;
  // 103: queues a file for the user's handheld.
  virtual int32_t QueueForHandheld(std::string_view user, std::string_view path) = 0;
  // 118: queues a file for an expansion card of the user's handheld.
  virtual int32_t QueueForCard(std::string_view user, uint32_t slot, std::string_view path) = 0;
  // 145: the identifier of a user name (0 when unknown).
  virtual int32_t UserId(std::string_view user, uint32_t* id) = 0;
  // 150: the number of card slots of a user's handheld.
  virtual int32_t SlotCount(uint32_t id, uint16_t* count) = 0;
  // 151: the slot identifiers; ids has room for *count, which becomes the
  // number filled in.
  virtual int32_t SlotIds(uint32_t id, uint32_t* ids, uint16_t* count) = 0;
};

}  // namespace fvx::library
