#include "library/install_on_palm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "library/file_copy.h"
#include "platform/ascii.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/scratch_file.h"

namespace fvx::library {
namespace {

constexpr uint16_t kFirstNameBuffer = 50;

// A folder only this process writes to, removed with whatever is left in it.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& parent) {
    if (parent.empty()) return;
    std::string pattern = platform::JoinPath(parent, "fvx-palm-XXXXXX");
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~PrivateFolder() {
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int32_t Queue(PalmInstallAide& aide, const std::string& user, bool to_card,
              const std::string& database) {
  if (to_card) {
    uint32_t id = 0;
    aide.UserId(user, &id);  // its result is not relied on: an unknown user has no slot
    uint16_t count = 0;
    aide.SlotCount(id, &count);
    if (count > 0) {
      std::vector<uint32_t> slots(count);
      aide.SlotIds(id, slots.data(), &count);
      if (count > 0) return aide.QueueForCard(user, slots[0], database);
    }
  }
  return aide.QueueForHandheld(user, database);
}

}  // namespace

std::vector<std::string> HotSyncUserNames(PalmInstallAide& aide) {
  std::vector<std::string> names;
  for (int32_t index = 0; index < aide.UserCount(); ++index) {
    std::vector<char> buffer(kFirstNameBuffer, '\0');
    uint16_t size = kFirstNameBuffer;
    int32_t result = aide.UserName(index, buffer.data(), &size);
    if (result == kAideBufferTooSmall && size > 0) {
      buffer.assign(size, '\0');
      result = aide.UserName(index, buffer.data(), &size);
    }
    if (result != kAideOk) continue;
    buffer.back() = '\0';  // whatever the aide wrote, the name ends in the buffer
    names.emplace_back(buffer.data());
  }
  return names;
}

bool InstallOnPalm(PalmInstallAide& aide, std::string_view book_path, std::string_view user_name,
                   bool to_card, const std::string& staging_folder) {
  if (book_path.empty()) return false;
  const std::string book(book_path);
  const size_t name_start = platform::LastPathSeparator(book) + 1;
  const size_t dot = book.rfind('.');
  if (dot == std::string::npos || dot < name_start ||
      !platform::EqualsIgnoringAsciiCase(book.substr(dot), ".fvx")) {
    return false;
  }
  const std::string database_name = book.substr(name_start, dot - name_start) + ".pdb";

  PrivateFolder staging(staging_folder);
  const std::string destination = staging.path().empty()
                                      ? book.substr(0, dot) + ".pdb"
                                      : platform::JoinPath(staging.path(), database_name);
  // Created anew: a file already there is the user's, not ours to replace
  // and delete.
  int fd = ::open(destination.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  platform::File copy(fd);
  bool copied = CopyFileContents(book, copy);
  copy.Close();
  int32_t result =
      copied ? Queue(aide, std::string(user_name), to_card, destination) : kAideCannotQueue;
  ::unlink(destination.c_str());
  return result == kAideOk || result == kAideQueuedAgain;
}

bool InstallOnPalm(PalmInstallAide& aide, std::string_view book_path, std::string_view user_name,
                   bool to_card) {
  return InstallOnPalm(aide, book_path, user_name, to_card,
                       platform::TemporaryFolderWithMostSpace());
}

}  // namespace fvx::library
